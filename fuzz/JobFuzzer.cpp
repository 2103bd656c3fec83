// The job description on arbitrary path texts, and the XML writer under it on
// arbitrary element names and values, each checked byte for byte against a
// plain model of the document.
//
// The first byte chooses the target. Job description: a host format, a
// plug-in type and a temporary folder whose name is the rest of the input,
// below a scratch folder; the folder exists or not. XML writer: a sequence of
// calls with names and values taken from the input.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "formats/JobDescription.h"
#include "formats/XmlWriter.h"
#include "host/HostInterface.h"
#include "host/PluginContext.h"
#include "support/TestContext.h"

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kOldJobPath = "C:\\previous\\Data.lif";

fuzzsupport::ScratchFolder& Scratch() {
  static fuzzsupport::ScratchFolder folder("job");
  return folder;
}

// Reads the input from the front: bytes, counts and zero-free strings.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ == size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  int32_t Int() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return static_cast<int32_t>(value);
  }
  // length bytes (or what is left), zero bytes dropped: C strings cannot
  // hold them.
  std::string Text(size_t length) {
    std::string text;
    for (size_t i = 0; i < length && at_ < size_; ++i) {
      const char c = static_cast<char>(data_[at_++]);
      if (c != '\0') text += c;
    }
    return text;
  }
  std::string Rest() { return Text(size_ - at_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool IsFolder(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Element text as XML wants it: "&", "<" and ">" as entities, every other
// byte as it is.
std::string Escaped(const std::string& value) {
  std::string text;
  for (const char c : value) {
    if (c == '&') {
      text += "&amp;";
    } else if (c == '<') {
      text += "&lt;";
    } else if (c == '>') {
      text += "&gt;";
    } else {
      text += c;
    }
  }
  return text;
}

size_t CountLineEnds(const std::string& text) {
  size_t count = 0;
  for (size_t at = text.find(kLineEnd); at != std::string::npos; at = text.find(kLineEnd, at + 2)) {
    ++count;
  }
  return count;
}

// ---- Job description ------------------------------------------------------

struct HostKind {
  int16_t mode;
  int32_t depth;
  int16_t planes;
  const char* extension;  // null: no exchange format for this image
};

constexpr HostKind kHostKinds[8] = {
    {host::kModeRGBColor, 8, 3, "ppm"},    {host::kModeRGB48, 16, 3, "ppm"},
    {host::kModeRGB96, 32, 3, "pfm"},      {host::kModeGrayScale, 8, 1, "ppm"},
    {host::kModeGray16, 16, 1, "ppm"},     {host::kModeGray32, 32, 1, "pfm"},
    {host::kModeCMYKColor, 8, 4, nullptr}, {host::kModeRGBColor, 12, 3, nullptr},
};

// A folder name below the scratch folder: the text's slashes separate
// folders, and a ".." component is renamed so that nothing lands outside.
std::string FolderBelowScratch(const std::string& text) {
  std::string relative;
  size_t start = 0;
  while (true) {
    const size_t slash = text.find('/', start);
    std::string component = text.substr(start, slash == std::string::npos ? slash : slash - start);
    if (component == "..") component = "__";
    relative += component;
    if (slash == std::string::npos) break;
    relative += '/';
    start = slash + 1;
  }
  return Scratch().Path() + "/" + relative;
}

void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
  ::mkdir(path.c_str(), 0700);
}

std::string ModelDocument(const std::string& work, const char* pluginType, const char* extension) {
  const std::string e = extension;
  std::string d = std::string("<?xml version=\"1.0\"?>") + kLineEnd;
  d += std::string("<General>") + kLineEnd;
  d += std::string("<SourceApplication>Photoshop</SourceApplication>") + kLineEnd;
  d += std::string("<PluginType>") + pluginType + "</PluginType>" + kLineEnd;
  d += std::string("<ImageCount>1</ImageCount>") + kLineEnd;
  d += "<ImportPath>" + Escaped(work) + "</ImportPath>" + kLineEnd;
  d += std::string("<SourcePath>NA</SourcePath>") + kLineEnd;
  d += std::string("<ImageList>") + kLineEnd;
  d += "<Image0000>Velmora." + e + "</Image0000>" + kLineEnd;
  d += std::string("</ImageList>") + kLineEnd;
  d += "<ExportPath>" + Escaped(work) + "</ExportPath>" + kLineEnd;
  d += "<ExportImage>Velmora_Processed." + e + "</ExportImage>" + kLineEnd;
  d += std::string("</General>") + kLineEnd;
  return d;
}

void FuzzJobDescription(Input& input) {
  const HostKind& kind = kHostKinds[input.Byte() % 8];
  const bool create = (input.Byte() & 1) != 0;
  const int32_t pluginType = static_cast<int8_t>(input.Byte());
  const std::string temp = FolderBelowScratch(input.Rest());
  if (create) MakeFolders(temp);
  const bool exists = IsFolder(temp);
  FUZZ_CHECK(::setenv("TMPDIR", temp.c_str(), 1) == 0);

  // The paths as the plug-in forms them natively: the system's folder ends
  // with a slash, and the plug-in's backslash separators follow.
  const std::string system = temp.back() == '/' ? temp : temp + "/";
  const std::string work = system + "\\velmorafilter";
  const std::string job = work + "\\Data.lif";
  // A temporary folder is taken only when the longest path formed under it,
  // the processed image's, fits the 260-byte buffers.
  const std::string longest = system + "\\velmorafilter\\Velmora_Processed.ppm";
  const bool fits = longest.size() < kPathSize && job.size() < kPathSize;
  const bool succeeds = exists && fits && kind.extension != nullptr;

  host::FilterRecord record{};
  record.imageMode = kind.mode;
  record.depth = kind.depth;
  record.planes = kind.planes;
  testsupport::BoundContext context(&record);
  context->pluginType = pluginType;
  std::strcpy(context->jobPath, kOldJobPath);

  const int16_t result = WriteJobDescription(context.get());
  if (!succeeds) {
    // Nothing written, and the context keeps the earlier path.
    FUZZ_CHECK(result == kParamErr);
    FUZZ_CHECK(std::strcmp(context->jobPath, kOldJobPath) == 0);
    struct stat status;
    FUZZ_CHECK(!fits || ::stat(job.c_str(), &status) != 0);
  } else {
    FUZZ_CHECK(result == kNoErr);
    FUZZ_CHECK(job == context->jobPath);
    const char* typeText = pluginType == 0 ? "EXPORT" : pluginType == 1 ? "FILTER" : "UNKNOWN";
    const std::string expected = ModelDocument(work, typeText, kind.extension);
    std::string written;
    FUZZ_CHECK(fuzzsupport::ReadWholeFile(job, written));
    FUZZ_CHECK(written == expected);
    // 13 lines, unless the folder's own name holds a line end.
    if (work.find(kLineEnd) == std::string::npos) FUZZ_CHECK(CountLineEnds(written) == 13);
    FUZZ_CHECK(written.size() >= 12 &&
               written.compare(written.size() - 12, 12, "</General>\r\n") == 0);
  }
  Scratch().Clear();
}

// ---- XML writer -----------------------------------------------------------

void FuzzXmlWriter(Input& input) {
  const std::string path = Scratch().File("writer.xml");
  XmlWriter writer;
  std::string text;  // what the writer holds
  std::string file;  // what the file must hold
  bool open = false;
  bool opened = false;  // a document was opened at least once
  for (int step = 0; step < 64 && !input.Empty(); ++step) {
    const uint8_t op = input.Byte();
    const std::string name = input.Text(input.Byte() % 24);
    switch (op % 7) {
      case 0: {
        const bool lineBreak = (op & 8) != 0;
        writer.BeginElement(name.c_str(), lineBreak);
        text += "<" + name + ">" + (lineBreak ? kLineEnd : "");
        break;
      }
      case 1:
        writer.EndElement(name.c_str());
        text += "</" + name + ">" + kLineEnd;
        break;
      case 2: {
        const std::string value = input.Text(input.Byte());
        writer.AddElement(name.c_str(), value.c_str());
        text += "<" + name + ">" + Escaped(value) + "</" + name + ">" + kLineEnd;
        break;
      }
      case 3: {
        // Decimal in an 11-byte buffer: ten characters at most, so the
        // lowest value loses its last digit.
        const int32_t value = input.Int();
        writer.AddIntElement(name.c_str(), value);
        const std::string digits = std::to_string(value).substr(0, 10);
        text += "<" + name + ">" + digits + "</" + name + ">" + kLineEnd;
        break;
      }
      case 4:
        FUZZ_CHECK(writer.Flush());
        if (open) file += text;  // one write of the whole text, where the last one ended
        break;
      case 5:
        FUZZ_CHECK(writer.CloseDocument());
        open = false;
        text.clear();
        break;
      default:
        if (open) break;  // a document is opened only on a closed writer
        FUZZ_CHECK(writer.OpenDocument(path.c_str()));
        open = opened = true;
        text = std::string("<?xml version=\"1.0\"?>") + kLineEnd;
        file.clear();
        break;
    }
    FUZZ_CHECK(writer.Text() == text);
    FUZZ_CHECK(writer.IsOpen() == open);
    if (opened) {
      std::string written;
      FUZZ_CHECK(fuzzsupport::ReadWholeFile(path, written));
      FUZZ_CHECK(written == file);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  if ((input.Byte() & 1) == 0) {
    FuzzJobDescription(input);
  } else {
    FuzzXmlWriter(input);
  }
  return 0;
}
