#include "launch/MachineSetting.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "base/NarrowPath.h"

namespace {

class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

std::optional<std::string> ReadMachineApplicationPath() {
  ScopedKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineSettingKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    key.Out()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // REG_EXPAND_SZ is expanded and given as REG_SZ; the text always ends in
  // a terminator, also when it was stored without one.
  const DWORD flags = RRF_RT_REG_SZ;
  DWORD bytes = 0;
  if (RegGetValueW(key.Get(), nullptr, kMachineSettingValue, flags, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The value may change between the two calls: try again with its new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS status =
        RegGetValueW(key.Get(), nullptr, kMachineSettingValue, flags, nullptr, text.data(), &size);
    if (status == ERROR_MORE_DATA) {
      bytes = size;
      continue;
    }
    if (status != ERROR_SUCCESS) return std::nullopt;
    text.back() = L'\0';
    std::string narrow;
    if (!sys::ToExactNarrowPath(text.data(), narrow)) narrow.clear();
    return narrow;
  }
  return std::nullopt;
}
