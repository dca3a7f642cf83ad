#include "packagewriter.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "blockencoder.h"
#include "recordwriter.h"
#include "unpacker/decompressor.h"

namespace corv::pack {

namespace fs = std::filesystem;

namespace {

// Flags that only some systems know.
#ifndef O_NOFOLLOW
constexpr int O_NOFOLLOW = 0;
#endif
#ifndef O_CLOEXEC
constexpr int O_CLOEXEC = 0;
#endif
#ifndef O_BINARY
constexpr int O_BINARY = 0;
#endif

constexpr uint64_t kMaxBlockSize = 0xFFE00000;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr Open(const fs::path& path, const char* mode) {
  return FilePtr(std::fopen(path.string().c_str(), mode));
}

// Creates `path` as a new file for writing. What is there already under
// that name (a file left by an interrupted build, or a link someone planted
// to have the installer written over another file) is removed first, and
// the file is then made with O_EXCL and O_NOFOLLOW: never opened through a
// link, never shared with another writer.
FilePtr CreateNew(const fs::path& path) {
  const std::string name = path.string();
  if (std::remove(name.c_str()) != 0 && errno != ENOENT) return nullptr;
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_BINARY, 0666);
  if (fd < 0) return nullptr;
  FilePtr file(::fdopen(fd, "wb"));
  if (!file) ::close(fd);
  return file;
}

// The output file, counting what was written.
class FileSink : public ByteSink {
public:
  explicit FileSink(const fs::path& path) : path_(path), file_(CreateNew(path)) {
    if (!file_) throw std::runtime_error(path_.string() + ": cannot create the file: " + std::strerror(errno));
  }
  void write(const uint8_t* data, size_t size) override {
    if (size != 0 && std::fwrite(data, 1, size, file_.get()) != size) {
      throw std::runtime_error(path_.string() + ": write failed");
    }
    position_ += size;
  }
  void close() {
    if (std::fclose(file_.release()) != 0) throw std::runtime_error(path_.string() + ": write failed");
  }
  uint64_t position() const { return position_; }

private:
  fs::path path_;
  FilePtr file_;
  uint64_t position_ = 0;
};

// Removes the temporary output unless it was handed over.
class TemporaryFile {
public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    std::error_code ec;
    if (!kept_) fs::remove(path_, ec);
  }
  void keep() { kept_ = true; }
  const fs::path& path() const { return path_; }

private:
  fs::path path_;
  bool kept_ = false;
};

// The largest stub whose resources corvpack rebuilds.
constexpr uint64_t kMaxStubSize = 64u << 20;

// Writes the stub, with `identity` in its resources unless it is empty.
void CopyStub(const fs::path& stub, const Identity& identity, ByteSink& out) {
  FilePtr in = Open(stub, "rb");
  if (!in) throw std::runtime_error(stub.string() + ": cannot open the installer stub");
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> buffer(1 << 16);
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
    if (identity.empty()) {
      out.write(buffer.data(), n);
    } else if (bytes.size() + n > kMaxStubSize) {
      throw std::runtime_error(stub.string() + ": larger than 64 MiB, too large for an installer stub");
    } else {
      bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(n));
    }
  }
  if (std::ferror(in.get())) throw std::runtime_error(stub.string() + ": read failed");
  if (identity.empty()) return;
  try {
    bytes = ApplyIdentity(bytes, identity);
  } catch (const std::exception& e) {
    throw std::runtime_error(stub.string() + ": cannot take the package's version and icon: " + e.what());
  }
  out.write(bytes.data(), bytes.size());
}

// Encodes one files block at the sink's current end; fills `block`.
void WriteFilesBlock(const std::vector<PackageFile>& files, FileSink& out, int level,
                     const std::string& what, Progress* progress, RecordBlock& block) {
  uint64_t total = 0;
  for (const PackageFile& f : files) {
    if (!f.entry.isFolder()) {
      if (f.entry.size < 0) throw std::runtime_error(f.source.string() + ": negative size");
      total += static_cast<uint64_t>(f.entry.size);
    }
  }
  // The installer's x86 converter counts positions in 32 bits.
  if (total >= kMaxBlockSize) throw std::runtime_error("the " + what + " exceed the 4 GiB a block can hold");
  block = RecordBlock();
  block.offset = out.position();
  block.decodedSize = total;
  BlockEncoder encoder(out, total, level);
  std::vector<uint8_t> buffer(1 << 20);
  for (const PackageFile& f : files) {
    block.entries.push_back(f.entry);
    if (f.entry.isFolder()) continue;
    uint64_t size = static_cast<uint64_t>(f.entry.size);
    if (f.source.empty()) {
      if (f.content.size() != size) throw std::logic_error("content does not match its entry's size");
      if (size != 0) {
        encoder.write(f.content.data(), f.content.size());
        block.crc = Crc32(f.content.data(), f.content.size(), block.crc);
      }
      continue;
    }
    FilePtr in = Open(f.source, "rb");
    if (!in) throw std::runtime_error(f.source.string() + ": cannot open the file");
    uint64_t left = size;
    while (left > 0) {
      size_t want = left < buffer.size() ? static_cast<size_t>(left) : buffer.size();
      size_t n = std::fread(buffer.data(), 1, want, in.get());
      if (n == 0) {
        throw std::runtime_error(f.source.string() +
                                 (std::ferror(in.get()) ? ": read failed" : ": the file shrank while it was packed"));
      }
      encoder.write(buffer.data(), n);
      block.crc = Crc32(buffer.data(), n, block.crc);
      left -= n;
      if (progress) progress->update(what, encoder.fed(), total);
    }
    if (std::fgetc(in.get()) != EOF) throw std::runtime_error(f.source.string() + ": the file grew while it was packed");
  }
  block.length = encoder.finish();
  if (progress) progress->done(what);
}

}  // namespace

std::vector<uint8_t> MakeTrailer(uint64_t offset, uint32_t length, uint64_t recordSize) {
  std::vector<uint8_t> t(kTrailerSize, 0);
  auto put = [&t](size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) t[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, kPackageMagic, 4);
  put(4, length, 4);
  put(8, offset, 8);
  put(16, recordSize, 8);
  return t;
}

InstallRecord WriteInstaller(const PackagePlan& plan, const fs::path& output, Progress* progress) {
  TemporaryFile temp(fs::path(output).concat(".part"));
  FileSink out(temp.path());
  CopyStub(plan.stub, plan.identity, out);

  InstallRecord record = plan.record;
  WriteFilesBlock(plan.mainFiles, out, plan.level, "main files", progress, record.mainBlock);
  WriteFilesBlock(plan.auxiliaryFiles, out, plan.level, "auxiliary files", progress, record.auxiliaryBlock);

  std::vector<uint8_t> bytes = WriteInstallRecord(record);
  uint64_t recordOffset = out.position();
  std::vector<uint8_t> block = EncodeBlock(bytes, plan.level);
  if (block.size() > 0xFFFFFFFFu) throw std::runtime_error("the install-info block exceeds 4 GiB");
  out.write(block.data(), block.size());
  std::vector<uint8_t> trailer = MakeTrailer(recordOffset, static_cast<uint32_t>(block.size()), bytes.size());
  out.write(trailer.data(), trailer.size());
  out.close();

  std::error_code ec;
  fs::rename(temp.path(), output, ec);
  if (ec) throw std::runtime_error(output.string() + ": " + ec.message());
  temp.keep();
  return record;
}

}  // namespace corv::pack
