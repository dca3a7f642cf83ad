// Byte streams.
//
// The decompressor reads from an InputStream and writes to an OutputStream;
// extraction and the x86 output filter are further OutputStreams. Streams
// report failures by throwing (FatalError 1102 "Unable to read file %s" with
// the file's path for read and seek failures); misuse is an assertion failure.
#pragma once

#include <cstdint>
#include <vector>

#include "util/file.h"

namespace corv {

class InputStream {
public:
  virtual ~InputStream() = default;
  // Prepares for reading; called once before the first read.
  virtual void open() = 0;
  // Delivers up to `count` bytes into `buffer`: the number delivered, 0 at
  // the end of the stream.
  virtual uint32_t read(void* buffer, uint32_t count) = 0;
};

class OutputStream {
public:
  virtual ~OutputStream() = default;
  // Called once before the first write.
  virtual void open() = 0;
  // Takes all `count` bytes of `buffer`.
  virtual void write(const void* buffer, uint32_t count) = 0;
};

// Reads the byte range [offset, offset + length) of a file and nothing
// beyond it, even if the file goes on.
class FileSectionInputStream : public InputStream {
public:
  // `file` is borrowed: opened for reading by its owner, and neither closed
  // nor deleted by the stream.
  FileSectionInputStream(AbstractFile& file, uint64_t offset, int64_t length);

  // Seeks to the start of the section; FatalError 1102 on failure.
  void open() override;
  // At most the bytes left in the section; FatalError 1102 if the file
  // cannot be read.
  uint32_t read(void* buffer, uint32_t count) override;

  // Bytes of the section not yet delivered.
  int64_t remaining() const { return remaining_; }

private:
  AbstractFile& file_;
  uint64_t offset_;
  int64_t remaining_;
};

// Collects bytes in a buffer of fixed capacity; it never grows. Writing
// beyond the capacity is an assertion failure.
class MemoryOutputStream : public OutputStream {
public:
  explicit MemoryOutputStream(uint32_t capacity);

  void open() override {}
  void write(const void* buffer, uint32_t count) override;

  // The buffer; the bytes written so far start at its beginning.
  const uint8_t* data() const { return buffer_.data(); }
  uint32_t fill() const { return fill_; }
  uint32_t capacity() const { return static_cast<uint32_t>(buffer_.size()); }

private:
  std::vector<uint8_t> buffer_;
  uint32_t fill_ = 0;
};

}  // namespace corv
