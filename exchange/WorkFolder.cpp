#include "exchange/WorkFolder.h"

#include <cstring>

#include "base/BinaryFile.h"
#include "base/PathToolkit.h"
#include "base/SystemPaths.h"
#include "host/FailureReport.h"
#include "host/PluginContext.h"

namespace {

// The longest name the plug-in forms under the temporary folder:
// "velmorafilter\Velmora_Processed.ppm", the lock's name being shorter.
const size_t kLongestWorkName = std::strlen(kWorkFolderName) + 1 + std::strlen(kProductName) +
                                std::strlen(kProcessedSuffix) + std::strlen(".ppm");

}  // namespace

bool GetTempFolder(std::string& path) {
  path.clear();
  // Room for the working folder's files in the 260-byte path buffers: a
  // folder whose own name leaves none is taken in its short form.
  constexpr uint32_t kRoom = static_cast<uint32_t>(kPathSize);
  const uint32_t size = kRoom - static_cast<uint32_t>(kLongestWorkName);
  char buffer[kPathSize] = {};
  const uint32_t length = sys::QueryTempPath(buffer, size);
  if (length == 0 || length >= size) return false;
  path = EnsureTrailingBackslash(buffer);
  // Natively the separator is added here.
  if (path.size() >= size) path.clear();
  return !path.empty();
}

bool PrepareWorkFolder(std::string& path, bool empty) {
  if (!GetTempFolder(path)) {
    NoteFailure(EFailure::kNoTempFolder);
    return false;
  }
  path = JoinPath(path, kWorkFolderName);
  if (PathExists(path)) {
    // Even a plain file of that name counts as present: opening inside it
    // fails later and is reported there.
    if (empty) EmptyFolder(path);
    return true;
  }
  if (CreateFolder(path)) return true;
  NoteFailure(EFailure::kWorkFolderNotMade, {path}, sys::LastErrorCode());
  return false;
}

EPixelFormat GetFileFormat(int32_t hostFormat) {
  switch (hostFormat) {
    case RGB8:
    case Gray8:
      return RGB8;
    case RGB16:
    case Gray16:
      return RGB16;
    case RGB32F:
    case Gray32F:
      return RGB32F;
    default:
      return None;
  }
}

EFileKind GetFileKind(int32_t fileFormat) {
  switch (fileFormat) {
    case RGB8:
    case RGB16:
      return ePixmap16;
    case RGB32F:
      return eFloatMap;
    default:
      return eNoFileKind;
  }
}

namespace {

const char* GetExtension(EFileKind kind) {
  switch (kind) {
    case ePixmap16:
      return "ppm";
    case eFloatMap:
      return "pfm";
    default:
      return nullptr;
  }
}

bool FormFileName(PluginContext* context, const char* suffix, std::string& name) {
  checkContext(context);
  name = GetBaseName(context->filterRecord);
  if (name.empty()) return false;
  name += suffix;
  name += '.';
  const char* extension =
      GetExtension(GetFileKind(GetFileFormat(GetHostPixelFormat(context->filterRecord))));
  if (extension == nullptr) {
    name.clear();
  } else {
    name += extension;
  }
  return !name.empty();
}

// True when a processed file of either kind is still in the folder after it
// was emptied: one held open elsewhere (a virus scanner, a preview pane, an
// old application window) would otherwise be imported as this run's result
// when the user closes the application without saving.
bool HasOldResult(const PluginContext* context, const std::string& folder) {
  const std::string base = GetBaseName(context->filterRecord) + kProcessedSuffix + '.';
  for (EFileKind kind : {ePixmap16, eFloatMap}) {
    const std::string path = JoinPath(folder, base + GetExtension(kind));
    if (!PathExists(path)) continue;
    // Once more, for the system's reason to tell the user.
    if (sys::RemoveFile(path)) continue;
    NoteFailure(EFailure::kWorkFileHeld, {path}, sys::LastErrorCode());
    return true;
  }
  return false;
}

// Stores the full path of a file of the working folder, refusing a path that
// would have to be cut: a cut path names another file.
int16_t SetWorkFilePath(char (&destination)[kPathSize], bool processed) {
  PluginContext* context = checkContext(gContext);
  std::memset(destination, 0, kPathSize);
  std::string folder;
  if (!PrepareWorkFolder(folder, true)) return kParamErr;
  std::string name;
  const bool named =
      processed ? GetProcessedFileName(context, name) : GetExportFileName(context, name);
  if (!named) return kParamErr;
  if (processed && HasOldResult(context, folder)) return kParamErr;
  const std::string path = JoinPath(folder, name);
  if (path.size() >= kPathSize) {
    NoteFailure(EFailure::kPathTooLong, {path});
    return kParamErr;
  }
  CopyPath(destination, kPathSize, path.c_str());
  return kNoErr;
}

}  // namespace

bool GetExportFileName(PluginContext* context, std::string& name) {
  return FormFileName(context, "", name);
}

bool GetProcessedFileName(PluginContext* context, std::string& name) {
  return FormFileName(context, kProcessedSuffix, name);
}

int16_t SetExportPath() { return SetWorkFilePath(checkContext(gContext)->exportPath, false); }

int16_t SetImportPath() { return SetWorkFilePath(checkContext(gContext)->importPath, true); }
