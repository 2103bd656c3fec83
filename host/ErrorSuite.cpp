#include "host/ErrorSuite.h"

namespace {

// A suite taken from the host, given back when the object ends.
template <typename Suite>
class AcquiredSuite {
 public:
  AcquiredSuite(const host::SPBasicSuite* basic, const char* name, int32_t version)
      : basic_(basic), name_(name), version_(version) {
    const void* table = nullptr;
    // A host that answers 0 has counted the suite as taken, with a table or
    // without one: it is given back either way.
    acquired_ = basic_->acquireSuite(name_, version_, &table) == 0;
    if (acquired_) suite_ = static_cast<const Suite*>(table);
  }
  ~AcquiredSuite() {
    if (acquired_) basic_->releaseSuite(name_, version_);
  }
  AcquiredSuite(const AcquiredSuite&) = delete;
  AcquiredSuite& operator=(const AcquiredSuite&) = delete;

  const Suite* operator->() const { return suite_; }
  explicit operator bool() const { return suite_ != nullptr; }

 private:
  const host::SPBasicSuite* basic_;
  const char* name_;
  int32_t version_;
  bool acquired_ = false;
  const Suite* suite_ = nullptr;
};

// A string of the host's, released when the object ends.
class HostString {
 public:
  HostString(const host::ZStringSuite* strings, const std::u16string& text) : strings_(strings) {
    if (strings_->makeFromUnicode == nullptr || strings_->release == nullptr) return;
    // The count is of UTF-16 units without the terminating zero, which the
    // buffer keeps after them for hosts that look for it.
    host::ZString made = nullptr;
    if (strings_->makeFromUnicode(reinterpret_cast<const uint16_t*>(text.c_str()), text.size(),
                                  &made) == 0) {
      string_ = made;
    }
  }
  ~HostString() {
    if (string_ != nullptr) strings_->release(string_);
  }
  HostString(const HostString&) = delete;
  HostString& operator=(const HostString&) = delete;

  host::ZString get() const { return string_; }

 private:
  const host::ZStringSuite* strings_;
  host::ZString string_ = nullptr;
};

}  // namespace

bool TrySetHostErrorText(const host::FilterRecord* record, const std::u16string& words,
                         const std::string& ansiText, const uint8_t (&fittedText)[256]) {
  const host::SPBasicSuite* basic = record != nullptr ? record->sSPBasic : nullptr;
  if (basic == nullptr || basic->acquireSuite == nullptr || basic->releaseSuite == nullptr ||
      words.empty()) {
    return false;
  }
  // The string first: the error suite is taken only with text ready for it.
  const AcquiredSuite<host::ZStringSuite> strings(basic, host::kZStringSuiteName,
                                                  host::kZStringSuiteVersion);
  if (!strings) return false;
  const HostString text(strings.operator->(), words);
  if (text.get() == nullptr) return false;
  const AcquiredSuite<host::ErrorSuite> errors(basic, host::kErrorSuiteName,
                                               host::kErrorSuiteVersion);
  if (!errors) return false;
  if (errors->setErrorFromZString != nullptr && errors->setErrorFromZString(text.get()) == 0) {
    return true;
  }
  if (!ansiText.empty() && errors->setErrorFromCString != nullptr &&
      errors->setErrorFromCString(ansiText.c_str()) == 0) {
    return true;
  }
  // The oldest setter last: a host whose error suite has been taken shows
  // its text, so it must not go back empty while a text can still be set.
  return fittedText[0] != 0 && errors->setErrorFromPString != nullptr &&
         errors->setErrorFromPString(fittedText) == 0;
}
