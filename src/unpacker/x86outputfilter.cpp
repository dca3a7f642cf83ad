#include "unpacker/x86outputfilter.h"

#include <cstring>

#include "util/exceptions.h"

namespace corv {

X86OutputFilter::X86OutputFilter(OutputStream& next)
    : next_(next), buffer_(new uint8_t[kBufferSize]) {}

X86OutputFilter::~X86OutputFilter() = default;

void X86OutputFilter::open() { decoder_.reset(); }

void X86OutputFilter::write(const void* data, uint32_t count) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  if (count < kBufferSize - fill_) {
    std::memcpy(buffer_.get() + fill_, in, count);
    fill_ += count;
    return;
  }
  for (;;) {
    const uint32_t take = kBufferSize - fill_;
    std::memcpy(buffer_.get() + fill_, in, take);
    fill_ = kBufferSize;
    in += take;
    count -= take;
    convertFullBuffer();
    if (count <= kBufferSize - 1 - fill_) {
      std::memcpy(buffer_.get() + fill_, in, count);
      fill_ += count;
      return;
    }
  }
}

void X86OutputFilter::convertFullBuffer() {
  // The next full buffer would take the 32-bit stream offset past 4 GiB.
  CORV_ASSERT_AT(position_ < 0xFFEFFFFBu, 56);
  const size_t converted = decoder_.convert(buffer_.get(), kBufferSize, static_cast<uint32_t>(position_));
  CORV_ASSERT_AT(converted <= kBufferSize, 61);
  CORV_ASSERT_AT(converted > 1048575, 62);
  position_ += converted;
  next_.write(buffer_.get(), static_cast<uint32_t>(converted));
  fill_ = static_cast<uint32_t>(kBufferSize - converted);
  std::memmove(buffer_.get(), buffer_.get() + converted, fill_);
}

void X86OutputFilter::finish() {
  const size_t converted = decoder_.convert(buffer_.get(), fill_, static_cast<uint32_t>(position_));
  CORV_ASSERT_AT(converted <= fill_, 86);
  CORV_ASSERT_AT(converted + 4 >= fill_, 87);
  // The converted bytes and the unconverted tail alike.
  if (fill_ > 0) next_.write(buffer_.get(), fill_);
  fill_ = 0;
}

}  // namespace corv
