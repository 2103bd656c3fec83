#include "formats/JobDescription.h"

#include <algorithm>
#include <string>

#include "base/PathToolkit.h"
#include "base/SystemPaths.h"
#include "exchange/WorkFolder.h"
#include "formats/XmlWriter.h"
#include "host/FailureReport.h"
#include "host/PluginContext.h"

namespace {

const char* PluginTypeText(int32_t pluginType) {
  switch (pluginType) {
    case 0:
      return "EXPORT";
    case 1:
      return "FILTER";
    default:
      return "UNKNOWN";
  }
}

// The folder as the job description names it. The file declares no
// encoding, so an XML reader takes it as UTF-8: a folder with bytes of the
// ANSI code page above 0x7F ("Jos\xE9") is written in its short form, plain
// ASCII wherever the volume keeps short names. Plain ASCII paths stay as
// they are.
std::string FolderForJob(const std::string& folder) {
  const bool plain = std::all_of(folder.begin(), folder.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string shortForm;
  if (plain || !sys::QueryShortPath(folder, shortForm)) return folder;
  return shortForm;
}

}  // namespace

int16_t WriteJobDescription(PluginContext* context) {
  checkContext(context);
  // The folder already holds the exported image: make sure it exists, keep
  // its files.
  std::string folder;
  if (!PrepareWorkFolder(folder, false)) return kParamErr;
  std::string exportName;
  if (!GetExportFileName(context, exportName)) return kParamErr;
  std::string processedName;
  if (!GetProcessedFileName(context, processedName)) return kParamErr;

  // The application is started with jobPath: a path that would be stored cut
  // must not be written at all.
  const std::string jobPath = JoinPath(folder, kJobFileName);
  if (jobPath.size() >= kPathSize) {
    NoteFailure(EFailure::kPathTooLong, {jobPath});
    return kParamErr;
  }

  const std::string jobFolder = FolderForJob(folder);
  XmlWriter writer;
  if (!writer.OpenDocument(jobPath.c_str())) {
    NoteFailure(EFailure::kWorkFileHeld, {jobPath}, sys::LastErrorCode());
    return kParamErr;
  }
  CopyPath(context->jobPath, kPathSize, jobPath.c_str());

  writer.BeginElement("General", true);
  writer.AddElement("SourceApplication", "Photoshop");
  writer.AddElement("PluginType", PluginTypeText(context->pluginType));
  writer.AddIntElement("ImageCount", 1);
  writer.AddElement("ImportPath", jobFolder.c_str());
  writer.AddElement("SourcePath", "NA");
  writer.BeginElement("ImageList", true);
  writer.AddElement("Image0000", exportName.c_str());
  writer.EndElement("ImageList");
  writer.AddElement("ExportPath", jobFolder.c_str());
  writer.AddElement("ExportImage", processedName.c_str());
  writer.EndElement("General");

  // A partial job description must not reach the application.
  const bool written = writer.Flush();
  const uint32_t error = sys::LastErrorCode();
  const bool closed = writer.CloseDocument();
  if (written && closed) return kNoErr;
  NoteFailure(EFailure::kFileNotWritten, {jobPath}, written ? sys::LastErrorCode() : error);
  return kParamErr;
}
