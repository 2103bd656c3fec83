#include "formats/XmlWriter.h"

#include "base/Error.h"
#include "base/TextFormat.h"

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\"?>";
constexpr const char* kLineEnd = "\r\n";

}  // namespace

void XmlWriter::ResetState() { text_.clear(); }

bool XmlWriter::OpenDocument(const char* path) {
  Require(path != nullptr);
  // Opening over an open document would lose its descriptor.
  Require(!file_.IsOpen());
  ResetState();
  if (!Open(file_, std::string(path), true, true)) return false;
  text_ = kDeclaration;
  text_ += kLineEnd;
  return true;
}

void XmlWriter::BeginElement(const char* name, bool lineBreak) {
  Require(name != nullptr);
  text_ += '<';
  text_ += name;
  text_ += '>';
  if (lineBreak) text_ += kLineEnd;
}

void XmlWriter::EndElement(const char* name) {
  Require(name != nullptr);
  text_ += "</";
  text_ += name;
  text_ += '>';
  text_ += kLineEnd;
}

void XmlWriter::AddElement(const char* name, const char* value) {
  Require(name != nullptr && value != nullptr);
  BeginElement(name, false);
  // A folder such as "R&D" must not end the document's well-formedness.
  for (const char* c = value; *c != '\0'; ++c) {
    switch (*c) {
      case '&':
        text_ += "&amp;";
        break;
      case '<':
        text_ += "&lt;";
        break;
      case '>':
        text_ += "&gt;";
        break;
      default:
        text_ += *c;
        break;
    }
  }
  EndElement(name);
}

void XmlWriter::AddIntElement(const char* name, int32_t value) {
  Require(name != nullptr);
  char digits[11] = {};
  FormatText(digits, sizeof digits, "%d", static_cast<int>(value));
  AddElement(name, digits);
}

bool XmlWriter::Flush() {
  if (!file_.IsOpen()) return true;
  return Write(file_, text_.data(), static_cast<uint32_t>(text_.size()));
}

bool XmlWriter::CloseDocument() {
  const bool closed = Close(file_);
  ResetState();
  return closed;
}
