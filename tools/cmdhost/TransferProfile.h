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
//
// What the user waits for is Start's whole time less the pause between the
// export's last request and the import's first (the application's run, its
// process start and exit, and the plug-in's closing, job description and
// opening around it) and less the host's own time inside advanceState. It
// splits into the plug-in's work before its first request (the lock, the
// working folder, the exported file's creation and header), the two passes'
// requests and the work after its last request (the last chunk, closing the
// processed file).
#pragma once

#include <chrono>
#include <cstddef>

#include "tools/cmdhost/ProfileClock.h"
#include "tools/testhost/TestHost.h"

namespace cmdhost {

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
  // Start's whole time, from entry to return.
  ProfileClock::duration start{};
  // Start's whole time less the pause and less the host's share (both
  // passes), the profile's measuring outside the pause taken out.
  ProfileClock::duration whole{};
  // From the export's last request (served) to the import's first (arrived).
  ProfileClock::duration pause{};
  // Start's entry to the first request's arrival, and the import's last
  // request (served) to Start's return: inside whole, without requests.
  ProfileClock::duration beforeFirstRequest{};
  ProfileClock::duration afterLastRequest{};
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
  ProfileClock::time_point firstArrival_{};
  ProfileClock::time_point lastRequestDone_{};
  ProfileClock::time_point requestDoneBeforeArrival_{};
  ProfileClock::time_point exportLastDone_{};
  ProfileClock::time_point exportEnd_{};
  ProfileClock::time_point importBegin_{};
  size_t requestsSeen_ = 0;
  size_t passes_ = 0;
  int32_t lastTop_ = 0;
  int32_t lastLeft_ = 0;
  PassTimes export_;
  PassTimes import_;
  ProfileClock::duration measuring_[2]{};
  // All measuring during Start, and the part of it since the last request
  // was served (as it stood when the current request arrived): the part
  // that fell into the pause.
  ProfileClock::duration measuringInStart_{};
  ProfileClock::duration measuringSinceDone_{};
  ProfileClock::duration measuringBeforeArrival_{};
  ProfileClock::duration measuringInPause_{};
  // The export's last measuring, which falls into the wait when it followed
  // the export's last callback.
  ProfileClock::time_point lastMeasuredAt_{};
  ProfileClock::duration lastMeasured_{};
};

}  // namespace cmdhost
