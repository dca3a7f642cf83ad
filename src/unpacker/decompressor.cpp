#include "unpacker/decompressor.h"

#include <lzma.h>

#include <algorithm>
#include <atomic>

#include "unpacker/x86outputfilter.h"
#include "util/exceptions.h"

namespace corv {
namespace {

// The smallest dictionary liblzma's decoder works with.
constexpr uint32_t kMinDictionary = 4096;

[[noreturn]] void Corrupted() { throw FatalError(kDecompressFailed); }

// Reads until `count` bytes or the end of the input; the number read.
uint32_t ReadFully(InputStream& input, uint8_t* buffer, uint32_t count) {
  uint32_t got = 0;
  while (got < count) {
    uint32_t n = input.read(buffer + got, count - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

// liblzma's raw LZMA1 decoder, ended on every way out.
class LzmaDecoder {
public:
  explicit LzmaDecoder(const BlockHeader& header) {
    lzma_options_lzma options{};
    options.lc = header.lc;
    options.lp = header.lp;
    options.pb = header.pb;
    uint32_t dictionary = header.dictionary == 0 ? 1 : header.dictionary;
    // A dictionary larger than the block itself can never be referenced:
    // every distance beyond the bytes decoded so far is an error anyway.
    // So a header that asks for gigabytes costs no more than the block.
    if (header.decodedSize >= 0 && static_cast<uint64_t>(header.decodedSize) < dictionary) {
      dictionary = std::max(static_cast<uint32_t>(header.decodedSize), kMinDictionary);
    }
    options.dict_size = std::max(dictionary, kMinDictionary);
    lzma_filter chain[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_raw_decoder(&stream_, chain) != LZMA_OK) Corrupted();
  }
  ~LzmaDecoder() { lzma_end(&stream_); }
  LzmaDecoder(const LzmaDecoder&) = delete;
  LzmaDecoder& operator=(const LzmaDecoder&) = delete;

  lzma_stream& stream() { return stream_; }

private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

std::atomic<const DecompressorFactory*> g_currentFactory{nullptr};

}  // namespace

std::optional<BlockHeader> ParseBlockHeader(const uint8_t (&bytes)[kBlockHeaderSize]) {
  const uint8_t properties = bytes[8];
  if (properties >= 225) return std::nullopt;
  BlockHeader h;
  uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = size << 8 | bytes[i];
  h.decodedSize = static_cast<int64_t>(size);
  h.lc = properties % 9;
  h.lp = (properties / 9) % 5;
  h.pb = properties / 45;
  h.dictionary = static_cast<uint32_t>(bytes[9]) | static_cast<uint32_t>(bytes[10]) << 8 |
                 static_cast<uint32_t>(bytes[11]) << 16 | static_cast<uint32_t>(bytes[12]) << 24;
  return h;
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) { return lzma_crc32(data, size, crc); }

Decompressor::~Decompressor() = default;

void Decompressor::decompress(InputStream& input, OutputStream& output) {
  input.open();
  output.open();

  uint8_t raw[kBlockHeaderSize];
  if (ReadFully(input, raw, 8) != 8) Corrupted();
  if (ReadFully(input, raw + 8, 5) != 5) Corrupted();
  const std::optional<BlockHeader> header = ParseBlockHeader(raw);
  if (!header) Corrupted();

  std::unique_ptr<uint8_t[]> inBuffer(new uint8_t[kInputBufferSize]);
  std::unique_ptr<uint8_t[]> outBuffer(new uint8_t[kOutputBufferSize]);
  LzmaDecoder decoder(*header);
  lzma_stream& strm = decoder.stream();

  // The range decoder starts from the first 5 compressed bytes.
  uint32_t available = ReadFully(input, inBuffer.get(), 5);
  if (available < 5) Corrupted();
  available += input.read(inBuffer.get() + 5, kInputBufferSize - 5);
  strm.next_in = inBuffer.get();
  strm.avail_in = available;
  bool inputEnded = false;

  std::unique_ptr<X86OutputFilter> filter;
  if (header->decodedSize < 0xFFFFFFFFll) {
    filter.reset(new X86OutputFilter(output));
    filter->open();
  }
  OutputStream& sink = filter ? static_cast<OutputStream&>(*filter) : output;

  int64_t produced = 0;
  bool endMarker = false;
  while (produced < header->decodedSize && !endMarker) {
    const uint32_t want = static_cast<uint32_t>(
        std::min<int64_t>(header->decodedSize - produced, kOutputBufferSize));
    strm.next_out = outBuffer.get();
    strm.avail_out = want;
    while (strm.avail_out > 0) {
      if (strm.avail_in == 0 && !inputEnded) {
        strm.next_in = inBuffer.get();
        strm.avail_in = input.read(inBuffer.get(), kInputBufferSize);
        inputEnded = strm.avail_in == 0;
      }
      const size_t outBefore = strm.avail_out;
      const size_t inBefore = strm.avail_in;
      const lzma_ret ret = lzma_code(&strm, LZMA_RUN);
      if (ret == LZMA_STREAM_END) {
        endMarker = true;
        break;
      }
      if (ret != LZMA_OK) Corrupted();
      // Nothing left to read and nothing more made: the data ends early.
      if (inputEnded && strm.avail_out == outBefore && strm.avail_in == inBefore) Corrupted();
    }
    const uint32_t made = want - static_cast<uint32_t>(strm.avail_out);
    if (made == 0) break;
    sink.write(outBuffer.get(), made);
    produced += made;
  }

  if (filter) filter->finish();
}

DecompressorFactory::~DecompressorFactory() = default;

std::unique_ptr<Decompressor> DecompressorFactory::create() const {
  return std::unique_ptr<Decompressor>(new Decompressor());
}

const DecompressorFactory& DecompressorFactory::current() {
  static const DecompressorFactory builtIn;
  const DecompressorFactory* f = g_currentFactory.load();
  return f ? *f : builtIn;
}

void DecompressorFactory::setCurrent(const DecompressorFactory* factory) { g_currentFactory.store(factory); }

}  // namespace corv
