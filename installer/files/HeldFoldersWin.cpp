#include "installer/files/HeldFoldersWin.h"

// After windows.h.
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>
#include <algorithm>
#include <memory>

namespace files {
namespace {

constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS kUserMappedFile = static_cast<NTSTATUS>(0xC0000243);
constexpr NTSTATUS kFileLockConflict = static_cast<NTSTATUS>(0xC0000054);
constexpr ULONG kFileCreated = 2;  // IO_STATUS_BLOCK.Information of a new file
// Folders are held for looking into and opening below, never for writing:
// what is written goes through handles of its own.
constexpr ACCESS_MASK kFolderAccess =
    READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE;

bool InUse(NTSTATUS status) {
  return status == kSharingViolation || status == kUserMappedFile || status == kFileLockConflict;
}

unsigned long ErrorOf(NTSTATUS status) { return RtlNtStatusToDosError(status); }

// Opens name below the folder held by parent.
NTSTATUS OpenBelow(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG options, Handle& handle,
                   ULONG_PTR* information = nullptr, PSECURITY_DESCRIPTOR security = nullptr) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, security);
  IO_STATUS_BLOCK io{};
  HANDLE opened = nullptr;
  const NTSTATUS status = NtCreateFile(
      &opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
      disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status >= 0) {
    handle = Handle(opened);
    if (information != nullptr) *information = io.Information;
  }
  return status;
}

// The name the system gives an open handle, in the C:\... form.
std::wstring FinalName(HANDLE handle) {
  std::wstring name(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= name.size()) {
    name.resize(length);
    length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (length == 0 || length >= name.size()) return L"";
  name.resize(length);
  if (name.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + name.substr(8);
  if (name.compare(0, 4, L"\\\\?\\") == 0) return name.substr(4);
  return name;
}

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return "";
  std::string result = text;
  LocalFree(text);
  return result;
}

Security SecurityOf(HANDLE handle) {
  Security security;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return security;
  }
  // Owner and access list point into the descriptor: freed with it on every
  // way out, an exception from the strings included.
  const std::unique_ptr<void, decltype(&LocalFree)> held(descriptor, &LocalFree);
  security.known = true;
  security.owner = SidText(owner);
  security.hasDacl = dacl != nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) {
      security.known = false;
      break;
    }
    AccessEntry entry;
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        entry.mask = ace->Mask;
        entry.sid = SidText(const_cast<DWORD*>(&ace->SidStart));
        break;
      }
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        entry.allows = false;
        break;
      default:
        // Any other kind that may allow: counted as allowing everything to
        // an unknown account, so that the folder is refused.
        entry.mask = 0xFFFFFFFFu;
        break;
    }
    security.entries.push_back(entry);
  }
  return security;
}

// What the handle opened, which should be the name expected.
Entry Describe(HANDLE handle, const std::wstring& expected) {
  Entry entry;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return entry;
  const std::wstring final = FinalName(handle);
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !SameName(final, expected)) {
    entry.kind = EntryKind::kLink;
    return entry;
  }
  entry.kind =
      (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder : EntryKind::kFile;
  entry.security = SecurityOf(handle);
  return entry;
}

}  // namespace

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Handle old(handle_);
    handle_ = other.release();
  }
  return *this;
}

Handle::~Handle() {
  if (*this) CloseHandle(handle_);
}

HANDLE Handle::release() {
  HANDLE handle = handle_;
  handle_ = nullptr;
  return handle;
}

Entry WinHeldFolders::Hold(Handle handle, const std::wstring& expected) {
  const Entry entry = Describe(handle.get(), expected);
  if (entry.kind == EntryKind::kFolder) {
    handles_.push_back(std::move(handle));
    paths_.push_back(expected);
  }
  return entry;
}

Entry WinHeldFolders::HoldRoot(const std::wstring& root) {
  // Without FILE_SHARE_DELETE: while held, nobody renames or removes it.
  Handle handle(CreateFileW(root.c_str(), kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return Entry{};
  return Hold(std::move(handle), root);
}

Entry WinHeldFolders::HoldChild(const std::wstring& name, bool create, bool& made) {
  made = false;
  if (handles_.empty()) return Entry{};
  Handle handle;
  ULONG_PTR information = 0;
  const NTSTATUS status =
      OpenBelow(handles_.back().get(), name, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                create ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE, handle, &information);
  if (status == kNotADirectory) return Entry{EntryKind::kFile, {}};
  if (status < 0) return Entry{};
  made = information == kFileCreated;
  return Hold(std::move(handle), paths_.back() + L"\\" + name);
}

Entry WinHeldFolders::MakeProtected(const std::wstring& parent, const std::wstring& name,
                                    unsigned long& error) {
  error = 0;
  Handle above(CreateFileW(parent.c_str(), kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!above) {
    error = GetLastError();
    return Entry{};
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Protected (P): nothing inherited from a folder that users may change.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1,
          &descriptor, nullptr)) {
    error = GetLastError();
    return Entry{};
  }
  Handle handle;
  // FILE_CREATE: a name that exists already, a link among them, fails.
  const NTSTATUS status =
      OpenBelow(above.get(), name, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                FILE_DIRECTORY_FILE, handle, nullptr, descriptor);
  LocalFree(descriptor);
  if (status < 0) {
    error = ErrorOf(status);
    return Entry{};
  }
  std::wstring expected = FinalName(above.get());
  if (expected.empty() || expected.back() != L'\\') expected += L'\\';  // a drive's root has one
  return Hold(std::move(handle), expected + name);
}

Outcome WinHeldFolders::Write(const std::wstring& name, const std::vector<uint8_t>& bytes,
                              bool atRestart, unsigned long& error) {
  error = 0;
  if (handles_.empty()) return Outcome::kFailed;
  const HANDLE folder = handles_.back().get();
  const std::wstring path = paths_.back() + L"\\" + name;
  {
    // A file there already is replaced only when it is a file of that one
    // name: not a link, and no second name of a file elsewhere, whose
    // contents the write would change too.
    Handle existing;
    const NTSTATUS status = OpenBelow(folder, name, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      FILE_OPEN, FILE_NON_DIRECTORY_FILE, existing);
    if (status == kIsADirectory) return Outcome::kLink;
    if (status >= 0) {
      FILE_STANDARD_INFO standard{};
      if (Describe(existing.get(), path).kind != EntryKind::kFile ||
          !GetFileInformationByHandleEx(existing.get(), FileStandardInfo, &standard,
                                        sizeof standard) ||
          standard.NumberOfLinks != 1) {
        return Outcome::kLink;
      }
    }
  }
  Handle file;
  const NTSTATUS status =
      OpenBelow(folder, name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE, file);
  if (InUse(status)) {
    if (!atRestart) return Outcome::kInUse;
    // The new build waits beside the file in use and replaces it when
    // Windows next starts, before any program can load it.
    const Outcome beside = Write(name + L".new", bytes, false, error);
    if (beside != Outcome::kDone) return beside == Outcome::kInUse ? Outcome::kFailed : beside;
    if (!MoveFileExW((path + L".new").c_str(), path.c_str(),
                     MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      error = GetLastError();
      return Outcome::kFailed;
    }
    return Outcome::kAtRestart;
  }
  if (status < 0) {
    error = ErrorOf(status);
    return Outcome::kFailed;
  }
  if (Describe(file.get(), path).kind != EntryKind::kFile) return Outcome::kLink;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      error = GetLastError();
      return Outcome::kFailed;
    }
    done += written;
  }
  HANDLE raw = file.release();
  if (!CloseHandle(raw)) {
    error = GetLastError();
    return Outcome::kFailed;
  }
  return Outcome::kDone;
}

Outcome WinHeldFolders::Remove(const std::wstring& name, bool atRestart, unsigned long& error) {
  error = 0;
  if (handles_.empty()) return Outcome::kFailed;
  const std::wstring path = paths_.back() + L"\\" + name;
  Handle target;
  const NTSTATUS status =
      OpenBelow(handles_.back().get(), name, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, target);
  if (status == kNameNotFound || status == kPathNotFound) return Outcome::kAbsent;
  if (status < 0 && !InUse(status)) {
    error = ErrorOf(status);
    return Outcome::kFailed;
  }
  if (status >= 0) {
    // Never what a link leads to; the link itself is left too.
    if (Describe(target.get(), path).kind == EntryKind::kLink) return Outcome::kLink;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(target.get(), FileDispositionInfo, &disposition,
                                   sizeof disposition)) {
      return Outcome::kDone;
    }
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
        error != ERROR_DIR_NOT_EMPTY) {
      return Outcome::kFailed;
    }
    if (error == ERROR_DIR_NOT_EMPTY && !atRestart) return Outcome::kFailed;
  }
  if (!atRestart) return Outcome::kInUse;
  // Removed when Windows next starts (a folder then only when empty).
  if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    error = GetLastError();
    return Outcome::kFailed;
  }
  error = 0;
  return Outcome::kAtRestart;
}

Outcome WinHeldFolders::RemoveRoot(const std::wstring& root, unsigned long& error) {
  error = 0;
  Handle folder(CreateFileW(root.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return Outcome::kAbsent;
  if (Describe(folder.get(), root).kind != EntryKind::kFolder) return Outcome::kLink;
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition,
                                 sizeof disposition)) {
    return Outcome::kDone;
  }
  error = GetLastError();
  return Outcome::kFailed;
}

std::string OwnAccount() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return "";
  Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return "";
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

}  // namespace files
