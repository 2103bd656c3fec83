// Splits a plug-in's Start call into its export pass, its wait for the
// application and its import pass, from the times of the host's callbacks.
// Portable.
//
// A pass is a run of transfer requests that walks the image forward (rows
// from the top, chunks from the left); a request at or before the previous
// one starts the next pass. The first pass is the export, the second the
// import.
//
// The export runs from Start's entry to the last callback before the
// import's first request: the cancel check after the last chunk was written
// (or the end of the last request when the plug-in never checks). The import
// runs from its first request to Start's return. What lies between is the
// wait: closing the exported file, the job description, starting the
// application, its whole run and the system's process start, then opening
// the processed file and reading and converting its first chunk (which comes
// before the first import request; one chunk of many).
#pragma once

#include <chrono>
#include <cstddef>

#include "tools/testhost/TestHost.h"

namespace cmdhost {

using ProfileClock = std::chrono::steady_clock;

struct PassTimes {
  // The plug-in's time for the pass, the host's share included and the
  // profile's own measuring taken out.
  ProfileClock::duration total{};
  // Time inside advanceState: the host copying pixels in and out.
  ProfileClock::duration host{};
  size_t requests = 0;
};

struct StartProfile {
  bool complete = false;  // an export and an import pass were both seen
  size_t passes = 0;
  PassTimes exportPass;
  PassTimes importPass;
  ProfileClock::duration wait{};
  // Time the profile's own measuring took during the passes.
  ProfileClock::duration measuring{};
};

class TransferProfile {
 public:
  void StartEntered(ProfileClock::time_point at);
  void StartReturned(ProfileClock::time_point at);
  // Feed every host callback of the Start call, in order, with its time.
  void OnEvent(testhost::HostEvent event, const testhost::TestHost& host,
               ProfileClock::time_point at);
  // Time spent measuring something else (memory) right after the last event;
  // it is taken out of the pass it fell in.
  void Measuring(ProfileClock::duration spent);
  StartProfile Result() const;

 private:
  void RequestDone(const testhost::Request& request, ProfileClock::time_point at);
  PassTimes* CurrentPass();

  ProfileClock::time_point startEntered_{};
  ProfileClock::time_point startReturned_{};
  ProfileClock::time_point arrival_{};
  ProfileClock::time_point lastCallback_{};
  ProfileClock::time_point callbackBeforeArrival_{};
  ProfileClock::time_point exportEnd_{};
  ProfileClock::time_point importBegin_{};
  size_t requestsSeen_ = 0;
  size_t passes_ = 0;
  int32_t lastTop_ = 0;
  int32_t lastLeft_ = 0;
  PassTimes export_;
  PassTimes import_;
  ProfileClock::duration measuring_[2]{};
  // The export's last measuring, which falls into the wait when it followed
  // the export's last callback.
  ProfileClock::time_point lastMeasuredAt_{};
  ProfileClock::duration lastMeasured_{};
};

}  // namespace cmdhost
