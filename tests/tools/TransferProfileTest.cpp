// Splitting a Start call into export, wait and import from the host's
// callbacks, with made-up times: which callback ends the export, where the
// import begins, the host's share and the measuring taken out.
#include "tools/cmdhost/TransferProfile.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using cmdhost::ProfileClock;
using cmdhost::TransferProfile;
using std::chrono::milliseconds;
using testhost::HostEvent;

// Drives a real test host's request log so the profile sees the requests it
// would see: each step is one callback at a given millisecond.
class ProfileTest : public ::testing::Test {
 protected:
  ProfileTest() : host_(Options()) {}

  static testhost::HostOptions Options() {
    testhost::HostOptions options;
    options.width = 3;
    options.height = 2;
    options.depth = 8;
    return options;
  }

  ProfileClock::time_point At(int ms) const { return zero_ + milliseconds(ms); }

  // One request for pixels [left, left + 1) of row top, arriving at `arrive`
  // and served by `done`, then a cancel check at `abort` (none when < 0).
  void Chunk(int32_t top, int32_t left, int arrive, int done, int abort) {
    host::FilterRecord& r = host_.Record();
    r.inRect = r.outRect =
        host::Rect{static_cast<int16_t>(top), static_cast<int16_t>(left),
                   static_cast<int16_t>(top + 1), static_cast<int16_t>(left + 1)};
    r.inLoPlane = r.outLoPlane = 0;
    r.inHiPlane = r.outHiPlane = 2;
    r.inputRate = r.maskRate = host::kFixedOne;
    profile_.OnEvent(HostEvent::kRequestArrived, host_, At(arrive));
    ASSERT_EQ(r.advanceState(), 0);
    profile_.OnEvent(HostEvent::kRequestDone, host_, At(done));
    if (abort >= 0) profile_.OnEvent(HostEvent::kAbortAsked, host_, At(abort));
  }

  ProfileClock::time_point zero_ = ProfileClock::now();
  testhost::TestHost host_;
  TransferProfile profile_;
};

double Ms(ProfileClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

TEST_F(ProfileTest, ExportEndsAtTheLastCancelCheckImportAtStartsReturn) {
  profile_.StartEntered(At(0));
  Chunk(0, 0, 10, 12, 15);
  Chunk(0, 1, 16, 17, 20);
  Chunk(1, 0, 21, 24, 30);     // the export's last chunk, written by 30
  Chunk(0, 0, 500, 502, 505);  // the application ran in between
  Chunk(0, 1, 506, 508, 510);
  Chunk(1, 0, 511, 512, 520);
  profile_.StartReturned(At(525));

  const cmdhost::StartProfile p = profile_.Result();
  ASSERT_TRUE(p.complete);
  EXPECT_EQ(p.passes, 2u);
  EXPECT_EQ(p.exportPass.requests, 3u);
  EXPECT_EQ(p.importPass.requests, 3u);
  EXPECT_DOUBLE_EQ(Ms(p.exportPass.total), 30);
  EXPECT_DOUBLE_EQ(Ms(p.exportPass.host), 2 + 1 + 3);
  EXPECT_DOUBLE_EQ(Ms(p.wait), 470);
  EXPECT_DOUBLE_EQ(Ms(p.importPass.total), 25);
  EXPECT_DOUBLE_EQ(Ms(p.importPass.host), 2 + 2 + 1);
  // What the user waits for: all of Start but the pause from the export's
  // last request served (24) to the import's first arriving (500) and the
  // host's share.
  EXPECT_DOUBLE_EQ(Ms(p.pause), 476);
  EXPECT_DOUBLE_EQ(Ms(p.whole), 525 - 476 - 6 - 5);
  EXPECT_DOUBLE_EQ(Ms(p.beforeFirstRequest), 10);
  EXPECT_DOUBLE_EQ(Ms(p.afterLastRequest), 525 - 512);
}

TEST_F(ProfileTest, WithoutCancelChecksTheExportEndsWithItsLastRequest) {
  profile_.StartEntered(At(0));
  Chunk(0, 0, 10, 12, -1);
  Chunk(1, 0, 20, 22, -1);
  Chunk(0, 0, 100, 101, -1);
  Chunk(1, 0, 110, 111, -1);
  profile_.StartReturned(At(120));
  const cmdhost::StartProfile p = profile_.Result();
  ASSERT_TRUE(p.complete);
  EXPECT_DOUBLE_EQ(Ms(p.exportPass.total), 22);
  EXPECT_DOUBLE_EQ(Ms(p.wait), 78);
  EXPECT_DOUBLE_EQ(Ms(p.importPass.total), 20);
}

TEST_F(ProfileTest, MeasuringComesOutOfThePassItFellIn) {
  profile_.StartEntered(At(0));
  Chunk(0, 0, 10, 12, 15);
  profile_.Measuring(milliseconds(2));  // inside the export
  Chunk(1, 0, 20, 22, 25);
  profile_.Measuring(milliseconds(3));  // after the export's last check: the wait
  Chunk(0, 0, 100, 101, 105);
  profile_.Measuring(milliseconds(4));  // inside the import
  Chunk(1, 0, 110, 111, 115);
  profile_.StartReturned(At(120));
  const cmdhost::StartProfile p = profile_.Result();
  ASSERT_TRUE(p.complete);
  EXPECT_DOUBLE_EQ(Ms(p.exportPass.total), 25 - 2);
  EXPECT_DOUBLE_EQ(Ms(p.importPass.total), 20 - 4);
  EXPECT_DOUBLE_EQ(Ms(p.measuring), 2 + 4);
  // The 3 ms fell into the pause (22 to 100), which is not counted at all.
  EXPECT_DOUBLE_EQ(Ms(p.whole), 120 - 78 - (2 + 2) - (1 + 1) - (2 + 4));
}

TEST_F(ProfileTest, OnePassIsNotAProfile) {
  profile_.StartEntered(At(0));
  Chunk(0, 0, 10, 12, 15);
  Chunk(1, 0, 20, 22, 25);
  profile_.StartReturned(At(30));
  const cmdhost::StartProfile p = profile_.Result();
  EXPECT_FALSE(p.complete);
  EXPECT_EQ(p.passes, 1u);
  EXPECT_EQ(p.exportPass.requests, 2u);
}

TEST_F(ProfileTest, AnObservedHostReportsEveryCallback) {
  int arrived = 0, done = 0, aborts = 0;
  testhost::HostOptions options = Options();
  options.observer = [&](HostEvent event, const testhost::TestHost&) {
    arrived += event == HostEvent::kRequestArrived;
    done += event == HostEvent::kRequestDone;
    aborts += event == HostEvent::kAbortAsked;
  };
  options.failAdvanceOnCall = 2;
  testhost::TestHost host(options);
  host::FilterRecord& r = host.Record();
  r.inRect = r.outRect = host::Rect{0, 0, 1, 3};
  r.inLoPlane = r.outLoPlane = 0;
  r.inHiPlane = r.outHiPlane = 2;
  r.inputRate = r.maskRate = host::kFixedOne;
  EXPECT_EQ(r.advanceState(), 0);
  EXPECT_NE(r.advanceState(), 0);  // refused: still reported as done
  r.abortProc();
  EXPECT_EQ(arrived, 2);
  EXPECT_EQ(done, 2);
  EXPECT_EQ(aborts, 1);
  EXPECT_GE(host.OwnBytes(), host.Requests().size() * sizeof(testhost::Request));
}

}  // namespace
