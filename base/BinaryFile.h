// Unbuffered file access through the C runtime's low-level descriptor I/O,
// with exact-count transfers and a harmless closed state.
#pragma once

#include <cstdint>
#include <string>

// Owns one runtime file descriptor; -1 when closed. Move-only. The destructor
// closes a still open descriptor without reporting; closing that must be
// checked is the explicit Close().
struct BinaryFile {
  int32_t descriptor = -1;

  BinaryFile() = default;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  BinaryFile(BinaryFile&& other) noexcept : descriptor(other.descriptor) { other.descriptor = -1; }
  BinaryFile& operator=(BinaryFile&& other) noexcept;
  ~BinaryFile();

  bool IsOpen() const { return descriptor != -1; }
};

// Opens path in binary mode: write selects write-only, otherwise read-only;
// create adds create-if-missing and truncate, with owner read/write permission.
// Does not close an already open descriptor. Empty path throws EError.
bool Open(BinaryFile& file, const std::string& path, bool create, bool write);
// True when closed already or the runtime reports success; the descriptor is
// -1 afterwards in every case.
bool Close(BinaryFile& file);
// Writes exactly count bytes: true when all of them reached the file. After
// a short write the rest is written once more, so that a failure carries the
// system's reason (sys::LastErrorCode; 0 when it gave none), such as a disk
// that filled up during the write. When left is not null it receives the
// bytes that did not reach the file (0 on success). Throws EError on a
// closed file, null data or count 0.
bool Write(BinaryFile& file, const void* data, uint32_t count, uint32_t* left = nullptr);
// One read of exactly count bytes; end of file first is a failure (the bytes
// that arrived stay in the buffer). Throws like Write.
bool Read(BinaryFile& file, void* buffer, uint32_t count);
// Reads until count bytes have arrived, the file has ended or a read has
// failed, repeating the runtime's read after a short one; returns the bytes
// that arrived. Throws like Write.
uint32_t ReadUpTo(BinaryFile& file, void* buffer, uint32_t count);
// File length without moving the position; 0 on failure or for an empty file.
// Throws EError on a closed file.
uint32_t Length(BinaryFile& file);
// The bytes from the current position to the end, in 64 bits so that files
// above 4 GB neither wrap nor read as 0; the position does not move. False,
// with bytes 0, when the position or the end cannot be found. Throws EError
// on a closed file.
bool TryGetBytesLeft(BinaryFile& file, uint64_t& bytes);

// Creates exactly one folder; false when it exists or cannot be made. Empty
// path throws EError.
bool CreateFolder(const std::string& path);
// True when the last character is a backslash; false for an empty string.
// In a double-byte ANSI code page the second byte of a character may be 0x5C
// and is no separator.
bool EndsWithBackslash(const std::string& path);
