// The entry point as a host drives it: dispatch, the context in the data
// slot, the result slot, and exactly one unlock of each handle per call.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "host/HandleServices.h"
#include "host/PluginContext.h"
#include "plugin/PluginMain.h"
#include "tests/host/MockHost.h"

namespace {

PluginContext* ContextOf(MockHost& host) {
  return reinterpret_cast<PluginContext*>(
      LockHandle(host.record.handleProcs, reinterpret_cast<host::Handle>(host.data), true));
}

TEST(PluginMainTest, NullArgumentsTouchNothing) {
  MockHost host;
  host.UseHandleProcs();
  int16_t result = 77;
  intptr_t data = 0;
  PluginMain(host::kSelectorStart, nullptr, &data, &result);
  PluginMain(host::kSelectorStart, &host.record, nullptr, &result);
  PluginMain(host::kSelectorStart, &host.record, &data, nullptr);
  EXPECT_EQ(result, 77);
  EXPECT_EQ(data, 0);
  EXPECT_EQ(host.counts.newCalls, 0);
  EXPECT_EQ(host.counts.lockCalls, 0);
}

TEST(PluginMainTest, EveryFilterSelectorCreatesTheContextAndSucceeds) {
  for (int16_t selector : {-1, 1, 2, 4, 5, 6, 7, 1000}) {
    SCOPED_TRACE(selector);
    MockHost host;
    host.UseHandleProcs();
    EXPECT_EQ(host.Call(selector), 0);
    EXPECT_NE(host.data, 0);
    EXPECT_EQ(host.counts.newCalls, 1);
    EXPECT_EQ(host.counts.unlocksPerHandle[reinterpret_cast<host::Handle>(host.data)], 1);
  }
}

TEST(PluginMainTest, NewContextIsInitialised) {
  MockHost host;
  host.UseHandleProcs();
  ASSERT_EQ(host.Call(host::kSelectorParameters), 0);
  PluginContext* context = ContextOf(host);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->pluginType, 1);
  EXPECT_EQ(context->exportFile.descriptor, -1);
  EXPECT_EQ(context->importFile.descriptor, -1);
  EXPECT_EQ(context->converter, nullptr);
  const char zeros[kPathSize] = {};
  EXPECT_EQ(std::memcmp(context->exportPath, zeros, kPathSize), 0);
  EXPECT_EQ(std::memcmp(context->importPath, zeros, kPathSize), 0);
  EXPECT_EQ(std::memcmp(context->jobPath, zeros, kPathSize), 0);
  EXPECT_EQ(context->filterRecord, &host.record);
  EXPECT_EQ(context->result, &host.result);
}

TEST(PluginMainTest, SecondCallAndSecondApplicationFindTheSameContext) {
  MockHost host;
  host.UseHandleProcs();
  ASSERT_EQ(host.Call(host::kSelectorParameters), 0);
  const intptr_t slot = host.data;
  PluginContext* context = ContextOf(host);
  std::strcpy(context->exportPath, "C:\\previous\\Velmora.ppm");
  std::strcpy(context->jobPath, "C:\\previous\\Data.lif");

  // A new call with a new record and a new result slot, as a second
  // application of the filter would make.
  host::FilterRecord second = host.record;
  int16_t secondResult = 99;
  PluginMain(host::kSelectorContinue, &second, &host.data, &secondResult);
  EXPECT_EQ(secondResult, 0);
  EXPECT_EQ(host.data, slot);
  EXPECT_EQ(host.counts.newCalls, 1);
  context = ContextOf(host);
  EXPECT_STREQ(context->exportPath, "C:\\previous\\Velmora.ppm");
  EXPECT_STREQ(context->jobPath, "C:\\previous\\Data.lif");
  EXPECT_EQ(context->result, &secondResult);
  EXPECT_EQ(context->filterRecord, &second);
}

TEST(PluginMainTest, AHostThatKnowsNoHandleSizesKeepsOneContext) {
  MockHost host;
  host.UseHandleProcs();
  host.sizeUnknown = true;
  ASSERT_EQ(host.Call(host::kSelectorParameters), 0);
  const intptr_t slot = host.data;
  std::strcpy(ContextOf(host)->exportPath, "C:\\previous\\Velmora.ppm");
  ASSERT_EQ(host.Call(host::kSelectorContinue), 0);
  EXPECT_EQ(host.data, slot);
  EXPECT_EQ(host.counts.newCalls, 1);
  EXPECT_STREQ(ContextOf(host)->exportPath, "C:\\previous\\Velmora.ppm");
}

TEST(PluginMainTest, EachFilterCallUnlocksContextAndParametersOnce) {
  MockHost host;
  host.UseHandleProcs();
  host.record.parameters = host.MakeParametersHandle();
  for (int call = 1; call <= 3; ++call) {
    host.Call(host::kSelectorParameters);
    auto contextHandle = reinterpret_cast<host::Handle>(host.data);
    EXPECT_EQ(host.counts.unlocksPerHandle[contextHandle], call);
    EXPECT_EQ(host.counts.unlocksPerHandle[host.record.parameters], call);
  }
  EXPECT_EQ(host.counts.unlockCalls, 6);
  EXPECT_EQ(host.counts.disposeCalls, 0);
}

TEST(PluginMainTest, AboutTouchesNoHandle) {
  MockHost host;
  host.UseHandleProcs();
  host.record.parameters = host.MakeParametersHandle();
  host::AboutRecord about{};  // no platform data: nothing is shown
  PluginMain(host::kSelectorAbout, &about, &host.data, &host.result);
  EXPECT_EQ(host.result, -50);
  EXPECT_EQ(host.data, 0);
  EXPECT_EQ(host.counts.newCalls, 0);
  EXPECT_EQ(host.counts.lockCalls, 0);
  EXPECT_EQ(host.counts.unlockCalls, 0);
}

TEST(PluginMainTest, NoContextBlockGivesMemFullAndUnlocksNothing) {
  MockHost host;
  host.UseHandleProcs();
  host.failNew = true;
  EXPECT_EQ(host.Call(host::kSelectorStart), -108);
  EXPECT_EQ(host.data, 0);
  EXPECT_EQ(host.counts.unlockCalls, 0);

  host.failNew = false;
  host.failLock = true;
  EXPECT_EQ(host.Call(host::kSelectorStart), -108);
  EXPECT_EQ(host.data, 0);  // the new block was disposed again
  EXPECT_EQ(host.counts.disposeCalls, 1);
  EXPECT_EQ(host.counts.unlockCalls, 0);
}

TEST(PluginMainTest, WorksWithoutHostHandleProcedures) {
  MockHost host;  // no handle procedures at all: Windows global memory
  EXPECT_EQ(host.Call(host::kSelectorParameters), 0);
  ASSERT_NE(host.data, 0);
  const intptr_t slot = host.data;
  EXPECT_EQ(host.Call(host::kSelectorFinish), 0);
  EXPECT_EQ(host.data, slot);
  auto* context = reinterpret_cast<PluginContext*>(
      LockHandle(nullptr, reinterpret_cast<host::Handle>(host.data), true));
  EXPECT_EQ(context->pluginType, 1);
}

}  // namespace

namespace {

// A host whose advanceState records a failure as an earlier step would, opens
// the import file as an import would, and then delivers no data: the entry
// point must report the argument error and release everything.
std::string gImportPath;
host::OSErr FailingAdvance() {
  recordResult(-20);
  EXPECT_TRUE(Open(gContext->importFile, gImportPath, true, true));
  EXPECT_NE(gContext->converter, nullptr);
  gContext->filterRecord->inData = nullptr;
  gContext->filterRecord->inRowBytes = 3;
  return 0;
}

TEST(PluginMainTest, ArgumentErrorOverridesEarlierCodeAndReleasesEverything) {
  MockHost host;
  host.UseHandleProcs();
  host.record.imageSize = {1, 1};
  host.record.advanceState = &FailingAdvance;
  gImportPath = (std::filesystem::temp_directory_path() / "velmora-eerror-test.ppm").string();
  host.record.inRect = {5, 5, 6, 6};
  EXPECT_EQ(host.Call(host::kSelectorStart), -1715);
  PluginContext* context = ContextOf(host);
  EXPECT_EQ(context->exportFile.descriptor, -1);
  EXPECT_EQ(context->importFile.descriptor, -1);
  EXPECT_EQ(context->converter, nullptr);
  EXPECT_EQ(host.record.inRect.bottom, 0);  // nothing more to deliver
  EXPECT_EQ(host.record.outRect.right, 0);
  EXPECT_EQ(host.counts.unlocksPerHandle[reinterpret_cast<host::Handle>(host.data)], 1);
  std::filesystem::remove(gImportPath);
}

}  // namespace
