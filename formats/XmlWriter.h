// A minimal streaming XML writer: start tags, end tags and one-line text
// elements, collected in memory and written with one write. No attributes or
// indentation. Element text has "&", "<" and ">" escaped and every other byte
// as given; names are written as given.
#pragma once

#include <cstdint>
#include <string>

#include "base/BinaryFile.h"

class XmlWriter {
 public:
  XmlWriter() = default;
  // Closes a file that is still open.
  ~XmlWriter() = default;
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  // Forgets the text, then creates or truncates the file for writing. On
  // success the text holds the XML declaration line. Must be called closed: an
  // open file is not closed. Throws EError for a null or empty path.
  bool OpenDocument(const char* path);
  // "<name>", then CR LF when lineBreak is true. Throws EError for a null name.
  void BeginElement(const char* name, bool lineBreak);
  // "</name>" and CR LF. Throws EError for a null name.
  void EndElement(const char* name);
  // "<name>value</name>" and CR LF, the value's "&", "<" and ">" written as
  // "&amp;", "&lt;" and "&gt;" and its other bytes unchanged. Throws EError
  // for a null name or value.
  void AddElement(const char* name, const char* value);
  // AddElement with the value in decimal ("%d").
  void AddIntElement(const char* name, int32_t value);
  // Writes the whole text with one write; the text stays as it is. True when
  // no file is open; false when the write is not complete.
  bool Flush();
  // Closes the file and forgets the text. False when closing fails.
  bool CloseDocument();

  const std::string& Text() const { return text_; }
  bool IsOpen() const { return file_.IsOpen(); }

 private:
  void ResetState();

  BinaryFile file_;
  std::string text_;
};
