// Host handle procedures versus the Windows global memory fallback.
#include <gtest/gtest.h>

#include <cstring>

#include "MockHost.h"
#include "base/Error.h"
#include "host/HandleServices.h"

namespace {

TEST(HandleServicesTest, UsableOnlyWithVersionOneEightProceduresAndAllFourTested) {
  MockHost host;
  host.UseHandleProcs();
  EXPECT_TRUE(HandleProcsUsable(&host.procs));
  EXPECT_FALSE(HandleProcsUsable(nullptr));

  auto expectUnusable = [&](auto mutate) {
    host::HandleProcs procs = host.procs;
    mutate(procs);
    EXPECT_FALSE(HandleProcsUsable(&procs));
  };
  expectUnusable([](host::HandleProcs& p) { p.handleProcsVersion = 0; });
  expectUnusable([](host::HandleProcs& p) { p.handleProcsVersion = 2; });
  expectUnusable([](host::HandleProcs& p) { p.numHandleProcs = 7; });
  expectUnusable([](host::HandleProcs& p) { p.newProc = nullptr; });
  expectUnusable([](host::HandleProcs& p) { p.disposeProc = nullptr; });
  expectUnusable([](host::HandleProcs& p) { p.getSizeProc = nullptr; });
  expectUnusable([](host::HandleProcs& p) { p.setSizeProc = nullptr; });
}

TEST(HandleServicesTest, NegativeCountIsReadUnsignedAndAccepted) {
  MockHost host;
  host.UseHandleProcs();
  host.procs.numHandleProcs = static_cast<int16_t>(0x8000);
  EXPECT_TRUE(HandleProcsUsable(&host.procs));
}

TEST(HandleServicesTest, UnusableProceduresFallBackAndNeverCallTheHost) {
  MockHost host;
  host.UseHandleProcs();
  host.procs.handleProcsVersion = 2;
  host::Handle handle = NewHandle(&host.procs, 64);
  ASSERT_NE(handle, nullptr);
  char* first = LockHandle(&host.procs, handle, true);
  ASSERT_NE(first, nullptr);
  UnlockHandle(&host.procs, handle);
  EXPECT_EQ(LockHandle(&host.procs, handle, false), first);
  DisposeHandle(&host.procs, handle);
  EXPECT_EQ(host.counts.newCalls + host.counts.lockCalls + host.counts.unlockCalls +
                host.counts.disposeCalls,
            0);
}

TEST(HandleServicesTest, FallbackBlockIsZeroFilledMarkedAndStable) {
  host::Handle handle = NewHandle(nullptr, 1000);
  ASSERT_NE(handle, nullptr);
  uint32_t marker;
  std::memcpy(&marker, reinterpret_cast<char*>(handle) + sizeof(void*), sizeof marker);
  EXPECT_EQ(marker, kFallbackMarker);
  char* data = LockHandle(nullptr, handle, true);
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(data[i], 0) << i;
  std::memset(data, 0x3C, 1000);
  UnlockHandle(nullptr, handle);
  char* again = LockHandle(nullptr, handle, true);
  EXPECT_EQ(again, data);
  EXPECT_EQ(again[999], 0x3C);
  DisposeHandle(nullptr, handle);
  DisposeHandle(nullptr, nullptr);  // harmless
}

TEST(HandleServicesTest, UsableProceduresAreCalled) {
  MockHost host;
  host.UseHandleProcs();
  host::Handle handle = NewHandle(&host.procs, 8);
  ASSERT_NE(handle, nullptr);
  EXPECT_NE(LockHandle(&host.procs, handle, true), nullptr);
  UnlockHandle(&host.procs, handle);
  DisposeHandle(&host.procs, handle);
  EXPECT_EQ(host.counts.newCalls, 1);
  EXPECT_EQ(host.counts.lockCalls, 1);
  EXPECT_EQ(host.counts.unlockCalls, 1);
  EXPECT_EQ(host.counts.disposeCalls, 1);
}

TEST(HandleServicesTest, RestoreContextThrowsForNullArguments) {
  MockHost host;
  intptr_t data = 0;
  int16_t result = 0;
  EXPECT_THROW(RestoreContext(nullptr, &data, &result), EError);
  EXPECT_THROW(RestoreContext(&host.record, nullptr, &result), EError);
  EXPECT_THROW(RestoreContext(&host.record, &data, nullptr), EError);
}

}  // namespace
