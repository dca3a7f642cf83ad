#include "blockwriter.h"

#include <lzma.h>

#include <stdexcept>

namespace corv {
namespace test {
namespace {

lzma_options_lzma LzmaOptions(const BlockOptions& o) {
  lzma_options_lzma opt;
  if (lzma_lzma_preset(&opt, o.preset)) throw std::runtime_error("bad preset");
  opt.dict_size = o.dictionary;
  opt.lc = o.lc;
  opt.lp = o.lp;
  opt.pb = o.pb;
  return opt;
}

// Runs a raw coder over the whole input.
Bytes RunRaw(bool encode, const lzma_filter* filters, const Bytes& in) {
  lzma_stream strm = LZMA_STREAM_INIT;
  lzma_ret ret = encode ? lzma_raw_encoder(&strm, filters) : lzma_raw_decoder(&strm, filters);
  if (ret != LZMA_OK) throw std::runtime_error("liblzma init failed");
  Bytes out;
  uint8_t buf[65536];
  strm.next_in = in.data();
  strm.avail_in = in.size();
  for (;;) {
    strm.next_out = buf;
    strm.avail_out = sizeof buf;
    ret = lzma_code(&strm, encode ? LZMA_FINISH : LZMA_RUN);
    out.insert(out.end(), buf, buf + (sizeof buf - strm.avail_out));
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) {
      lzma_end(&strm);
      throw std::runtime_error("liblzma coding failed");
    }
    if (!encode && strm.avail_in == 0 && strm.avail_out != 0) break;
  }
  lzma_end(&strm);
  return out;
}

}  // namespace

void AppendLE(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint8_t PropertiesByte(uint32_t lc, uint32_t lp, uint32_t pb) {
  return static_cast<uint8_t>((pb * 5 + lp) * 9 + lc);
}

Bytes CompressRaw(const Bytes& data, const BlockOptions& options) {
  lzma_options_lzma opt = LzmaOptions(options);
  lzma_filter chain[3];
  int n = 0;
  if (options.x86) chain[n++] = {LZMA_FILTER_X86, nullptr};
  chain[n++] = {LZMA_FILTER_LZMA1, &opt};
  chain[n] = {LZMA_VLI_UNKNOWN, nullptr};
  return RunRaw(true, chain, data);
}

Bytes BlockHeader(int64_t decodedSize, uint8_t properties, uint32_t dictionary) {
  Bytes out;
  AppendLE(out, static_cast<uint64_t>(decodedSize), 8);
  out.push_back(properties);
  AppendLE(out, dictionary, 4);
  return out;
}

Bytes EncodeBlock(const Bytes& data, const BlockOptions& options, int64_t decodedSize) {
  Bytes out = BlockHeader(decodedSize == -2 ? static_cast<int64_t>(data.size()) : decodedSize,
                          PropertiesByte(options.lc, options.lp, options.pb), options.dictionary);
  Bytes packed = CompressRaw(data, options);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

Bytes LiblzmaX86Decode(const Bytes& data) {
  BlockOptions plain;
  plain.x86 = false;
  Bytes packed = CompressRaw(data, plain);
  lzma_options_lzma opt = LzmaOptions(plain);
  lzma_filter chain[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  return RunRaw(false, chain, packed);
}

Bytes Trailer(uint32_t length, uint64_t offset, uint64_t recordSize) {
  Bytes out = {'5', 'I', 'I', '1'};
  AppendLE(out, length, 4);
  AppendLE(out, offset, 8);
  AppendLE(out, recordSize, 8);
  return out;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  Bytes out(size);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

}  // namespace test
}  // namespace corv
