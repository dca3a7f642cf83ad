#include "packagewriter.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "blockencoder.h"
#include "recordwriter.h"

namespace corv::pack {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMaxBlockSize = 0xFFE00000;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr Open(const fs::path& path, const char* mode) {
  return FilePtr(std::fopen(path.string().c_str(), mode));
}

// The output file, counting what was written.
class FileSink : public ByteSink {
public:
  explicit FileSink(const fs::path& path) : path_(path), file_(Open(path, "wb")) {
    if (!file_) throw std::runtime_error(path_.string() + ": cannot create the file");
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

void CopyStub(const fs::path& stub, ByteSink& out) {
  FilePtr in = Open(stub, "rb");
  if (!in) throw std::runtime_error(stub.string() + ": cannot open the installer stub");
  std::vector<uint8_t> buffer(1 << 16);
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) out.write(buffer.data(), n);
  if (std::ferror(in.get())) throw std::runtime_error(stub.string() + ": read failed");
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
      if (size != 0) encoder.write(f.content.data(), f.content.size());
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
  CopyStub(plan.stub, out);

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
