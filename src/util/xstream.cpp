#include "util/xstream.h"

#include <cstring>

#include "util/exceptions.h"

namespace corv {

FileSectionInputStream::FileSectionInputStream(AbstractFile& file, uint64_t offset, int64_t length)
    : file_(file), offset_(offset), remaining_(length) {}

void FileSectionInputStream::open() {
  if (offset_ > static_cast<uint64_t>(INT64_MAX) || file_.seek(kSeekStart, static_cast<int64_t>(offset_)) != 0) {
    throw FatalError(kUnableToReadFile, file_.widePath());
  }
}

uint32_t FileSectionInputStream::read(void* buffer, uint32_t count) {
  if (remaining_ <= 0) return 0;
  if (static_cast<int64_t>(count) > remaining_) count = static_cast<uint32_t>(remaining_);
  int32_t got = file_.read(buffer, count);
  if (got < 0) throw FatalError(kUnableToReadFile, file_.widePath());
  CORV_ASSERT_AT(got <= remaining_ && static_cast<uint32_t>(got) <= count, 65);
  remaining_ -= got;
  return static_cast<uint32_t>(got);
}

MemoryOutputStream::MemoryOutputStream(uint32_t capacity) : buffer_(capacity) {}

void MemoryOutputStream::write(const void* buffer, uint32_t count) {
  CORV_ASSERT_AT(count <= capacity() - fill_, 95);
  if (count == 0) return;
  std::memcpy(buffer_.data() + fill_, buffer, count);
  fill_ += count;
}

}  // namespace corv
