// Extraction benchmark.
//
//   bench_extract pack LIST BLOCK     encodes the files named in LIST into a
//                                     package block (the usual parameters:
//                                     x86 conversion, lc 3, lp 0, pb 2,
//                                     8 MiB dictionary)
//   bench_extract run LIST BLOCK OUT  times, several rounds interleaved:
//     (a)  liblzma alone decoding the block (its LZMA1 decoder and its x86
//          filter: the same transformation) into nothing
//     (a0) liblzma's LZMA1 decoder without any x86 filter, into nothing
//     (b)  the installer's Decompressor with its X86OutputFilter, into
//          nothing
//     (c)  the installer's full extraction of the block into folder OUT
//   and prints the best time of each with (b)/(a) and (c)/(a); then the
//   memory that (b) and (c) add to the process, sampled as the decoding
//   goes on, to show that it does not grow with the payload.
//   bench_extract decode BLOCK        prints the seconds of one (a)
//
// LIST has one entry a line: size (-1 for a folder), a tab, the
// modification time, a tab, the path relative to the payload folder with
// `\` as separator; the payload folder is the first line, alone.
#include <lzma.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/filespackage.h"
#include "kernel/logger.h"
#include "kernel/overwritepolicy.h"
#include "kernel/uiprogressupdater.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/xstream.h"

#ifdef _WIN32
#include "util/win32/corvwindows.h"
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using namespace corv;

struct ListEntry {
  int64_t size;
  int32_t time;
  std::string name;
};

struct List {
  std::string root;
  std::vector<ListEntry> entries;
};

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_extract: %s\n", what.c_str());
  std::exit(2);
}

List ReadList(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Die("cannot read " + path);
  List list;
  std::getline(in, list.root);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
    if (t1 == std::string::npos || t2 == std::string::npos) Die("bad line: " + line);
    list.entries.push_back({std::stoll(line.substr(0, t1)), static_cast<int32_t>(std::stol(line.substr(t1 + 1, t2 - t1 - 1))),
                            line.substr(t2 + 1)});
  }
  return list;
}

std::string Native(std::string path) {
#ifndef _WIN32
  std::replace(path.begin(), path.end(), '\\', '/');
#endif
  return path;
}

// Current and peak memory of the process, in bytes.
uint64_t CurrentMemory() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS c;
  return GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c) ? c.WorkingSetSize : 0;
#else
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<uint64_t>(resident) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
#endif
}

// Processor time of the process (user and system), in seconds.
double CpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(value(kernel) + value(user)) / 1e7;
#else
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
#endif
}

// Wall-clock and processor time of one run of `f`.
struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
  void keepBest(const std::function<void()>& f) {
    const double cpu0 = CpuSeconds();
    auto start = std::chrono::steady_clock::now();
    f();
    wall = std::min(wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpu = std::min(cpu, CpuSeconds() - cpu0);
  }
};

// --- pack -----------------------------------------------------------------

void Pack(const std::string& listPath, const std::string& blockPath) {
  List list = ReadList(listPath);
  int64_t total = 0;
  for (const auto& e : list.entries) total += std::max<int64_t>(e.size, 0);
  FILE* out = std::fopen(blockPath.c_str(), "wb");
  if (!out) Die("cannot write " + blockPath);
  uint8_t header[13];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<uint8_t>(static_cast<uint64_t>(total) >> (8 * i));
  header[8] = 0x5D;
  const uint32_t dict = 8u << 20;
  for (int i = 0; i < 4; ++i) header[9 + i] = static_cast<uint8_t>(dict >> (8 * i));
  std::fwrite(header, 1, sizeof header, out);

  const char* presetText = std::getenv("BENCH_PRESET");
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, presetText ? static_cast<uint32_t>(std::atoi(presetText)) : 6);
  opt.dict_size = dict;
  opt.lc = 3;
  opt.lp = 0;
  opt.pb = 2;
  lzma_filter chain[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, chain) != LZMA_OK) Die("encoder");
  std::vector<uint8_t> inBuf(1 << 20), outBuf(1 << 20);
  auto pump = [&](lzma_action action) {
    for (;;) {
      strm.next_out = outBuf.data();
      strm.avail_out = outBuf.size();
      lzma_ret ret = lzma_code(&strm, action);
      std::fwrite(outBuf.data(), 1, outBuf.size() - strm.avail_out, out);
      if (ret == LZMA_STREAM_END) return;
      if (ret != LZMA_OK) Die("encoding failed");
      if (strm.avail_in == 0 && strm.avail_out != 0 && action == LZMA_RUN) return;
    }
  };
  for (const auto& e : list.entries) {
    if (e.size < 0) continue;
    std::string path = Native(list.root + "\\" + e.name);
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) Die("cannot read " + path);
    int64_t left = e.size;
    while (left > 0) {
      size_t n = std::fread(inBuf.data(), 1, static_cast<size_t>(std::min<int64_t>(left, inBuf.size())), in);
      if (n == 0) Die("short file " + path);
      left -= static_cast<int64_t>(n);
      strm.next_in = inBuf.data();
      strm.avail_in = n;
      pump(LZMA_RUN);
    }
    std::fclose(in);
  }
  strm.next_in = nullptr;
  strm.avail_in = 0;
  pump(LZMA_FINISH);
  lzma_end(&strm);
  std::fclose(out);
}

// --- run ------------------------------------------------------------------

class NullOutput : public OutputStream {
public:
  void open() override {}
  void write(const void*, uint32_t count) override { bytes += count; }
  uint64_t bytes = 0;
};

// Output that samples memory as the decoding goes on.
class SamplingOutput : public NullOutput {
public:
  explicit SamplingOutput(uint64_t total) : total_(total) {}
  void write(const void* data, uint32_t count) override {
    NullOutput::write(data, count);
    Sample(bytes, total_, samples);
  }
  static void Sample(uint64_t done, uint64_t total, std::vector<uint64_t>& samples) {
    size_t tenth = total ? static_cast<size_t>(done * 10 / total) : 10;
    while (samples.size() < tenth) samples.push_back(CurrentMemory());
  }
  std::vector<uint64_t> samples;

private:
  uint64_t total_;
};

// Progress as batch mode has it: counting, no drawing; samples memory.
class QuietProgress : public UIProgressUpdater {
public:
  std::vector<uint64_t> samples;
  void advance(int64_t delta, const OptString& name) override {
    UIProgressUpdater::advance(delta, name);
    written += static_cast<uint64_t>(delta);
    SamplingOutput::Sample(written, total() - 1, samples);
  }
  uint64_t written = 0;

protected:
  uint32_t overallRange() override { return 1000; }
  uint32_t itemRange() override { return 1000; }
  void initOverallBar() override {}
  void setOverallBar(uint32_t) override {}
  void initItemBar() override {}
  void setItemBar(uint32_t) override {}
  void setItemName(const XString&) override {}
  void done(bool) override {}
};

// liblzma alone, reading the block through the same file calls as the
// installer (1 MiB at a time) and decoding 1 MiB at a time into nothing.
uint64_t LiblzmaDecode(File& block, bool x86) {
  if (block.seek(kSeekStart, 0) != 0) Die("seek");
  uint8_t header[13];
  if (block.read(header, 13) != 13) Die("short block");
  uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = size << 8 | header[i];
  lzma_options_lzma opt{};
  opt.dict_size = 8u << 20;
  opt.lc = 3;
  opt.pb = 2;
  lzma_filter withX86[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_filter plain[] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&strm, x86 ? withX86 : plain) != LZMA_OK) Die("decoder");
  std::vector<uint8_t> inBuf(1 << 20), outBuf(1 << 20);
  uint64_t produced = 0;
  while (produced < size) {
    if (strm.avail_in == 0) {
      int32_t n = block.read(inBuf.data(), static_cast<uint32_t>(inBuf.size()));
      if (n < 0) Die("read");
      strm.next_in = inBuf.data();
      strm.avail_in = static_cast<size_t>(n);
    }
    strm.next_out = outBuf.data();
    strm.avail_out = static_cast<size_t>(std::min<uint64_t>(outBuf.size(), size - produced));
    size_t want = strm.avail_out;
    lzma_ret ret = lzma_code(&strm, LZMA_RUN);
    produced += want - strm.avail_out;
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) Die("liblzma decoding failed");
  }
  lzma_end(&strm);
  return produced;
}

// Removes the extractions' output (the script gives a private folder).
void RemoveTree(const std::string& path) {
#ifdef _WIN32
  std::string cmd = "cmd /c if exist \"" + path + "\" rmdir /s /q \"" + path + "\"";
#else
  std::string cmd = "rm -rf '" + path + "'";
#endif
  if (std::system(cmd.c_str()) != 0) Die("cannot remove " + path);
}

// Each extraction goes to a fresh folder of its own: removing the previous
// output just before would make the file system's allocator step around
// the freshly freed inodes, a cost of the benchmark's cleaning, not of the
// extraction. Everything goes at the end.
std::string FreshFolder(const std::string& outDir, int round) {
  return outDir + (outDir.find('\\') != std::string::npos ? "\\" : "/") + "round" + std::to_string(round);
}

std::unique_ptr<FilesPackage> MakePackage(const List& list, int64_t blockLength) {
  auto pkg = std::make_unique<FilesPackage>(0, static_cast<uint64_t>(blockLength), list.entries.size());
  for (const auto& e : list.entries) pkg->addEntry(FromUtf8(e.name), e.time, e.size);
  return pkg;
}

void PrintMemory(const char* what, uint64_t base, const std::vector<uint64_t>& samples) {
  if (samples.empty()) return;
  auto mib = [](uint64_t b) { return static_cast<double>(b) / (1 << 20); };
  std::printf("memory %-32s", what);
  for (size_t i = 0; i < samples.size(); i += 3) {
    std::printf(" %3zu%%:%5.1f", (i + 1) * 10, mib(samples[i] > base ? samples[i] - base : 0));
  }
  uint64_t peak = *std::max_element(samples.begin(), samples.end());
  uint64_t first = samples.front();
  std::printf("  MiB above start (peak %.1f, growth after 10%%: %.1f)\n", mib(peak > base ? peak - base : 0),
              mib(peak > first ? peak - first : 0));
}

int Run(const std::string& listPath, const std::string& blockPath, const std::string& outDir) {
  List list = ReadList(listPath);
  uint64_t total = 0;
  for (const auto& e : list.entries) total += static_cast<uint64_t>(std::max<int64_t>(e.size, 0));
  File block(FromUtf8(blockPath));
  if (block.open(kFileRead) != 0) Die("cannot open " + blockPath);
  const int64_t blockLength = block.size();
  const char* repeatText = std::getenv("BENCH_REPEAT");
  const int rounds = repeatText ? std::max(1, std::atoi(repeatText)) : 3;

  // Memory first, in a fresh process state: what (b) and (c) add.
  const uint64_t base = CurrentMemory();
  {
    SamplingOutput sink(total);
    FileSectionInputStream stream(block, 0, blockLength);
    Decompressor().decompress(stream, sink);
    PrintMemory("(b) decode + x86 filter", base, sink.samples);
  }
  RemoveTree(outDir);
  {
    auto pkg = MakePackage(list, blockLength);
    Logger log;
    OverwritePolicy policy(OverwritePolicy::kAlways);
    QuietProgress progress;
    pkg->extract(block, Directory(FromUtf8(FreshFolder(outDir, 0))), &progress, policy, log);
    PrintMemory("(c) extraction", base, progress.samples);
  }

  Timing a, a0, b, c;
  for (int r = 1; r <= rounds; ++r) {
    a.keepBest([&] {
      if (LiblzmaDecode(block, true) != total) Die("liblzma decoded a different size");
    });
    a0.keepBest([&] { LiblzmaDecode(block, false); });
    b.keepBest([&] {
      NullOutput sink;
      FileSectionInputStream stream(block, 0, blockLength);
      Decompressor().decompress(stream, sink);
      if (sink.bytes != total) Die("decoded a different size");
    });
    c.keepBest([&] {
      auto pkg = MakePackage(list, blockLength);
      Logger log;
      OverwritePolicy policy(OverwritePolicy::kAlways);
      QuietProgress progress;
      if (!pkg->extract(block, Directory(FromUtf8(FreshFolder(outDir, r))), &progress, policy, log)) {
        Die("extraction cancelled");
      }
    });
  }
  RemoveTree(outDir);
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("payload %.1f MB in %zu entries, block %.1f MB; best of %d rounds (wall clock; processor time)\n", mb,
              list.entries.size(), static_cast<double>(blockLength) / 1e6, rounds);
  auto line = [&](const char* what, const Timing& t) {
    std::printf("%-40s %7.3f s  %6.1f MB/s   cpu %7.3f s\n", what, t.wall, mb / t.wall, t.cpu);
  };
  line("(a)  liblzma LZMA1 + its x86 filter", a);
  line("(a0) liblzma LZMA1 alone, no x86", a0);
  line("(b)  Decompressor + X86OutputFilter", b);
  line("(c)  FilesPackage extraction to disk", c);
  std::printf("(b)/(a) = %.3f (target 1.05)   (c)/(a) = %.3f (target 1.15)   [cpu: %.3f, %.3f]\n", b.wall / a.wall,
              c.wall / a.wall, b.cpu / a.cpu, c.cpu / a.cpu);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0) {
      Pack(argv[2], argv[3]);
      return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "run") == 0) return Run(argv[2], argv[3], argv[4]);
    if (argc == 3 && std::strcmp(argv[1], "decode") == 0) {
      // (a) alone, once: the decoding limit of any installer of the block.
      File block(FromUtf8(argv[2]));
      if (block.open(kFileRead) != 0) Die(std::string("cannot open ") + argv[2]);
      Timing a;
      a.keepBest([&] { LiblzmaDecode(block, true); });
      std::printf("%.3f\n", a.wall);
      return 0;
    }
  } catch (const corv::Exception& e) {
    Die(e.what());
  }
  std::fprintf(stderr, "usage: bench_extract pack LIST BLOCK | run LIST BLOCK OUT | decode BLOCK\n");
  return 2;
}
