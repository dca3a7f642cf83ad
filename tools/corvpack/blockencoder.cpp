#include "blockencoder.h"

#include <lzma.h>

#include <stdexcept>
#include <string>

namespace corv::pack {

namespace {

constexpr size_t kOutChunk = 1 << 16;

std::string LzmaError(lzma_ret r) { return "LZMA encoder error " + std::to_string(static_cast<int>(r)); }

}  // namespace

struct BlockEncoder::State {
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_options_lzma lzma{};
  lzma_options_bcj bcj{};
  uint8_t buffer[kOutChunk];

  ~State() { lzma_end(&stream); }
};

BlockEncoder::BlockEncoder(ByteSink& out, uint64_t decodedSize, int level)
    : state_(new State), out_(out), decodedSize_(decodedSize) {
  if (level < 0 || level > 9) throw std::invalid_argument("compression level must be 0 to 9");
  if (decodedSize > static_cast<uint64_t>(INT64_MAX)) throw std::invalid_argument("block too large");
  if (lzma_lzma_preset(&state_->lzma, static_cast<uint32_t>(level)) != 0) {
    throw std::runtime_error("LZMA encoder: unsupported preset");
  }
  state_->lzma.dict_size = kLzmaDictionary;
  state_->lzma.lc = 3;
  state_->lzma.lp = 0;
  state_->lzma.pb = 2;
  // The decoder undoes the conversion from stream offset 0 of each block.
  state_->bcj.start_offset = 0;
  lzma_filter filters[] = {
      {LZMA_FILTER_X86, &state_->bcj},
      {LZMA_FILTER_LZMA1, &state_->lzma},
      {LZMA_VLI_UNKNOWN, nullptr},
  };
  lzma_ret r = lzma_raw_encoder(&state_->stream, filters);
  if (r != LZMA_OK) throw std::runtime_error(LzmaError(r));

  uint8_t header[kBlockHeaderSize];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<uint8_t>(decodedSize >> (8 * i));
  header[8] = kLzmaProperties;
  for (int i = 0; i < 4; ++i) header[9 + i] = static_cast<uint8_t>(kLzmaDictionary >> (8 * i));
  out_.write(header, sizeof header);
  written_ = sizeof header;
}

BlockEncoder::~BlockEncoder() = default;

void BlockEncoder::write(const uint8_t* data, size_t size) {
  if (finished_) throw std::logic_error("block already finished");
  if (size > decodedSize_ - fed_) throw std::logic_error("more data than the block announced");
  fed_ += size;
  state_->stream.next_in = data;
  state_->stream.avail_in = size;
  pump(false);
}

uint64_t BlockEncoder::finish() {
  if (finished_) throw std::logic_error("block already finished");
  if (fed_ != decodedSize_) throw std::logic_error("less data than the block announced");
  finished_ = true;
  state_->stream.next_in = nullptr;
  state_->stream.avail_in = 0;
  pump(true);
  return written_;
}

void BlockEncoder::pump(bool finishing) {
  lzma_stream& s = state_->stream;
  for (;;) {
    s.next_out = state_->buffer;
    s.avail_out = sizeof state_->buffer;
    lzma_ret r = lzma_code(&s, finishing ? LZMA_FINISH : LZMA_RUN);
    size_t produced = sizeof state_->buffer - s.avail_out;
    if (produced > 0) {
      out_.write(state_->buffer, produced);
      written_ += produced;
    }
    if (r == LZMA_STREAM_END) return;
    if (r != LZMA_OK) throw std::runtime_error(LzmaError(r));
    if (!finishing && s.avail_in == 0 && s.avail_out != 0) return;
  }
}

std::vector<uint8_t> EncodeBlock(const std::vector<uint8_t>& data, int level) {
  MemorySink sink;
  BlockEncoder encoder(sink, data.size(), level);
  if (!data.empty()) encoder.write(data.data(), data.size());
  encoder.finish();
  return std::move(sink.bytes);
}

}  // namespace corv::pack
