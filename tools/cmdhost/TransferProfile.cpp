#include "tools/cmdhost/TransferProfile.h"

namespace cmdhost {

void TransferProfile::StartEntered(ProfileClock::time_point at) {
  *this = TransferProfile();
  startEntered_ = at;
  lastCallback_ = at;
}

void TransferProfile::StartReturned(ProfileClock::time_point at) { startReturned_ = at; }

PassTimes* TransferProfile::CurrentPass() {
  if (passes_ == 1) return &export_;
  if (passes_ == 2) return &import_;
  return nullptr;
}

void TransferProfile::OnEvent(testhost::HostEvent event, const testhost::TestHost& host,
                              ProfileClock::time_point at) {
  switch (event) {
    case testhost::HostEvent::kRequestArrived:
      callbackBeforeArrival_ = lastCallback_;
      requestDoneBeforeArrival_ = lastRequestDone_;
      measuringBeforeArrival_ = measuringSinceDone_;
      arrival_ = at;
      if (firstArrival_ == ProfileClock::time_point{}) firstArrival_ = at;
      break;
    case testhost::HostEvent::kRequestDone:
      // A refused request may not be logged; it belongs to the current pass.
      if (host.Requests().size() > requestsSeen_) {
        requestsSeen_ = host.Requests().size();
        RequestDone(host.Requests().back(), at);
      } else if (PassTimes* pass = CurrentPass()) {
        pass->host += at - arrival_;
      }
      lastCallback_ = at;
      lastRequestDone_ = at;
      measuringSinceDone_ = {};
      break;
    case testhost::HostEvent::kAbortAsked:
      lastCallback_ = at;
      break;
  }
}

void TransferProfile::RequestDone(const testhost::Request& request, ProfileClock::time_point at) {
  const bool forward =
      request.top > lastTop_ || (request.top == lastTop_ && request.left > lastLeft_);
  if (passes_ == 0 || !forward) {
    ++passes_;
    if (passes_ == 2) {
      exportEnd_ = callbackBeforeArrival_;
      exportLastDone_ = requestDoneBeforeArrival_;
      importBegin_ = arrival_;
      measuringInPause_ = measuringBeforeArrival_;
      if (lastMeasuredAt_ == exportEnd_) measuring_[0] -= lastMeasured_;
    }
  }
  lastTop_ = request.top;
  lastLeft_ = request.left;
  if (PassTimes* pass = CurrentPass()) {
    pass->host += at - arrival_;
    ++pass->requests;
  }
}

void TransferProfile::Measuring(ProfileClock::duration spent) {
  measuringInStart_ += spent;
  measuringSinceDone_ += spent;
  if (passes_ == 1) {
    measuring_[0] += spent;
    lastMeasuredAt_ = lastCallback_;
    lastMeasured_ = spent;
  } else if (passes_ == 2) {
    measuring_[1] += spent;
  }
}

StartProfile TransferProfile::Result() const {
  StartProfile result;
  result.passes = passes_;
  result.exportPass = export_;
  result.importPass = import_;
  result.complete = passes_ == 2;
  if (!result.complete) return result;
  result.exportPass.total = exportEnd_ - startEntered_ - measuring_[0];
  result.importPass.total = startReturned_ - importBegin_ - measuring_[1];
  result.wait = importBegin_ - exportEnd_;
  result.measuring = measuring_[0] + measuring_[1];
  result.start = startReturned_ - startEntered_;
  result.pause = importBegin_ - exportLastDone_;
  result.whole = result.start - result.pause - export_.host - import_.host -
                 (measuringInStart_ - measuringInPause_);
  result.beforeFirstRequest = firstArrival_ - startEntered_;
  result.afterLastRequest = startReturned_ - lastRequestDone_;
  return result;
}

}  // namespace cmdhost
