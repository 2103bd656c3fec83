// The user's words go with the first failure of a call, as its code does.
#include <gtest/gtest.h>

#include "host/FailureReport.h"
#include "host/PluginContext.h"
#include "support/TestContext.h"

namespace {

TEST(FailureReportTest, OnlyTheFirstFailureOfACallKeepsItsWords) {
  host::FilterRecord record{};
  testsupport::BoundContext context(&record);
  {
    FailureScope call;
    NoteFailure(EFailure::kWorkFileHeld, {"C:\\held"}, 32);
    EXPECT_TRUE(recordResult(0));  // the step got past it after all
    EXPECT_FALSE(recordResult(-128));
    NoteFailure(EFailure::kFileNotWritten, {"C:\\later"});
    EXPECT_FALSE(recordResult(-50));
    // A cancel has no words, and a later failure does not lend it its own.
    EXPECT_EQ(context.result, -128);
    EXPECT_EQ(call.Reported().failure, EFailure::kNone);
  }
  context.result = 0;
  {
    FailureScope call;
    NoteFailure(EFailure::kDiskFull, {"C:\\work", "100", "7"});
    EXPECT_FALSE(recordResult(-20));
    NoteFailure(EFailure::kFileNotWritten, {"C:\\work\\x"}, 5);
    EXPECT_FALSE(recordResult(-50));
    {
      // A scope inside keeps its words to itself.
      FailureScope nested;
      NoteFailure(EFailure::kNoMemory);
      EXPECT_EQ(call.Reported().facts.size(), 3u);
    }
    NoteFailure(EFailure::kPluginFault);  // dropped with the next code
    EXPECT_TRUE(recordResult(0));
    EXPECT_EQ(context.result, -20);
    EXPECT_EQ(call.Reported().failure, EFailure::kDiskFull);
    EXPECT_EQ(call.Reported().facts, (std::vector<std::string>{"C:\\work", "100", "7"}));
    EXPECT_EQ(call.Reported().systemError, 0u);
  }
}

}  // namespace
