#include "host/FailureReport.h"

#include <utility>

namespace {

FailureScope* gScope = nullptr;

}  // namespace

FailureScope::FailureScope() : outer_(gScope) { gScope = this; }

FailureScope::~FailureScope() { gScope = outer_; }

void FailureScope::Report(EFailure failure, std::vector<std::string> facts) {
  reported_ = FailureReport{failure, std::move(facts), 0};
}

void NoteFailure(EFailure failure, std::vector<std::string> facts, uint32_t systemError) {
  if (gScope == nullptr) return;
  gScope->noted_ = FailureReport{failure, std::move(facts), systemError};
}

void TakeNotedFailure(bool first) {
  if (gScope == nullptr) return;
  if (first) gScope->reported_ = std::move(gScope->noted_);
  gScope->noted_ = FailureReport{};
}

void NoteLanguageSetting(std::string setting) {
  if (gScope != nullptr) gScope->language_ = std::move(setting);
}

std::string CurrentLanguageSetting() {
  return gScope != nullptr ? gScope->language_ : std::string();
}
