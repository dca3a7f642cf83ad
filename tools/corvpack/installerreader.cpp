#include "installerreader.h"

#include <algorithm>
#include <memory>

#include "kernel/filespackage.h"
#include "kernel/recordchecks.h"
#include "kernel/logger.h"
#include "kernel/overwritepolicy.h"
#include "kernel/packagecontainer.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"
#include "util/xstream.h"

namespace corv::pack {

namespace fs = std::filesystem;

BadInstaller::BadInstaller(std::string message, std::string detail)
    : std::runtime_error(detail.empty() ? message : message + ": " + detail),
      message_(std::move(message)),
      detail_(std::move(detail)) {}

std::string HostMessage(const Exception& e) {
  std::string text = ToUtf8(e.message());
  // An assertion names a source file of the installer, not a file here.
  if (e.kind() != Exception::kAssertionFailed) std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

namespace {

[[noreturn]] void Corrupt(const std::string& detail) {
  throw BadInstaller(ToUtf8(LoadMessage(kCorruptedPackage)), detail);
}

XString WidePath(const fs::path& p) { return FromUtf8(p.u8string()); }

// The installer file, open for reading.
class OpenFile {
public:
  explicit OpenFile(const fs::path& path) : file_(WidePath(path)) {
    if (file_.open(kFileRead) != 0) throw BadInstaller(ToUtf8(FormatMessageTextWide(kUnableToOpenFile, WidePath(path))), "");
  }
  File& file() { return file_; }

private:
  File file_;
};

// Runs the installer's decoder over a section of the file; its failures
// become BadInstaller with `what` as detail.
void Decode(File& file, uint64_t offset, uint64_t length, OutputStream& out, const std::string& what) {
  FileSectionInputStream in(file, offset, static_cast<int64_t>(length));
  try {
    DecompressorFactory::current().create()->decompress(in, out);
  } catch (const BadInstaller&) {
    throw;
  } catch (const AbortUnpackException&) {
    throw;
  } catch (const AssertionFailedError&) {
    Corrupt(what + " decodes to more bytes than announced");
  } catch (const Exception& e) {
    throw BadInstaller(HostMessage(e), what + " cannot be decoded");
  }
}

bool SameNameIgnoringCase(const XString& a, const XString& b) { return EqualsIgnoreCaseAscii(a, b); }

// Hands the decoded bytes of a block to a visitor, cut into its files.
class VisitingSink : public OutputStream {
public:
  VisitingSink(const RecordBlock& block, BlockVisitor& visitor, Progress* progress, const std::string& what)
      : block_(block), visitor_(visitor), progress_(progress), what_(what) {}

  void open() override { advance(); }

  void write(const void* buffer, uint32_t count) override {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    crc_ = Crc32(p, count, crc_);
    while (count > 0) {
      if (index_ >= block_.entries.size()) Corrupt("the " + what_ + " block holds more bytes than its files");
      uint32_t take = remaining_ < count ? static_cast<uint32_t>(remaining_) : count;
      visitor_.data(p, take);
      p += take;
      count -= take;
      remaining_ -= take;
      done_ += take;
      if (remaining_ == 0) {
        visitor_.endEntry(block_.entries[index_++]);
        advance();
      }
    }
    if (progress_) progress_->update(what_, done_, block_.decodedSize);
  }

  bool complete() const { return index_ == block_.entries.size(); }
  uint32_t crc() const { return crc_; }

private:
  // Steps over folders and empty files to the next file with bytes.
  void advance() {
    while (index_ < block_.entries.size()) {
      const RecordFileEntry& e = block_.entries[index_];
      visitor_.beginEntry(e);
      if (e.isFolder() || e.size == 0) {
        visitor_.endEntry(e);
        ++index_;
        continue;
      }
      remaining_ = static_cast<uint64_t>(e.size);
      return;
    }
  }

  const RecordBlock& block_;
  BlockVisitor& visitor_;
  Progress* progress_;
  std::string what_;
  size_t index_ = 0;
  uint64_t remaining_ = 0;
  uint64_t done_ = 0;
  uint32_t crc_ = 0;
};

}  // namespace

OpenedInstaller OpenInstaller(const fs::path& path) {
  OpenedInstaller out;
  out.path = path;
  OpenFile opened(path);
  File& file = opened.file();
  try {
    if (file.seek(kSeekEnd, 0) != 0) Corrupt("the file cannot be measured");
    int64_t size = file.tell();
    if (size < static_cast<int64_t>(kTrailerSize)) Corrupt("the file is too short to hold a package");
    out.fileSize = static_cast<uint64_t>(size);
    SignatureFault fault;
    const std::optional<LocatedTrailer> located = FindPackageTrailer(file, &fault);
    if (fault != SignatureFault::kNone) throw BadInstaller(ToUtf8(LoadMessage(kDecompressFailed)), SignatureFaultText(fault));
    if (!located) Corrupt("no package trailer at the end of the file");
    out.signedFile = located->signedFile;
    out.packageEnd = located->end;
    out.recordLength = located->trailer.recordBlockLength;
    out.recordOffset = located->trailer.recordBlockOffset;
    out.recordSize = located->trailer.recordSize;
    uint64_t end = out.packageEnd - kTrailerSize;
    if (out.recordOffset > end || out.recordLength > end - out.recordOffset) {
      Corrupt("the trailer names a record block outside the file");
    }
    if (out.recordOffset + out.recordLength != end) Corrupt("the record block does not end where the trailer begins");
    if (out.recordSize > 0xFFFFFFFFu) Corrupt("the trailer announces a record of more than 4 GiB");
    std::vector<uint8_t> record;
    try {
      record = ReadInstallInfoRecord(file);
    } catch (const AssertionFailedError&) {
      Corrupt("the record decodes to more bytes than the trailer says");
    }
    if (record.size() != out.recordSize) {
      Corrupt("the record decodes to " + std::to_string(record.size()) + " bytes, the trailer says " +
              std::to_string(out.recordSize));
    }
    out.record = ReadInstallRecord(record.data(), record.size());
  } catch (const BadInstaller&) {
    throw;
  } catch (const RecordRefused& e) {
    const RecordFault& f = e.fault();
    throw BadInstaller(HostMessage(e), "the install-info record is refused: " + f.field + " \"" + ToUtf8(f.value) +
                                           "\" " + f.problem);
  } catch (const Exception& e) {
    throw BadInstaller(HostMessage(e), "the install-info record is refused");
  }
  return out;
}

void DecodeFilesBlock(const OpenedInstaller& installer, const RecordBlock& block, BlockVisitor& visitor,
                      Progress* progress, const std::string& what) {
  uint64_t end = installer.packageEnd - kTrailerSize;
  if (block.offset > end || block.length > end - block.offset) {
    if (installer.signedFile) {
      throw BadInstaller(ToUtf8(LoadMessage(kDecompressFailed)), SignatureFaultText(SignatureFault::kBlockInSignature));
    }
    Corrupt("the " + what + " block lies outside the file");
  }
  uint64_t sum = 0;
  for (const RecordFileEntry& e : block.entries) {
    if (e.size < -1) Corrupt("\"" + ToUtf8(e.name) + "\" has a negative size");
    if (!e.isFolder()) sum += static_cast<uint64_t>(e.size);
  }
  if (sum != block.decodedSize) Corrupt("the sizes of the " + what + " do not add up to their block's size");
  OpenFile opened(installer.path);
  File& file = opened.file();
  {
    FileSectionInputStream header(file, block.offset, static_cast<int64_t>(block.length));
    header.open();
    uint8_t bytes[kBlockHeaderSize];
    uint32_t got = 0;
    while (got < sizeof bytes) {
      uint32_t n = header.read(bytes + got, sizeof bytes - got);
      if (n == 0) break;
      got += n;
    }
    if (got != sizeof bytes) {
      throw BadInstaller(ToUtf8(LoadMessage(kDecompressFailed)), "the " + what + " block is shorter than its header");
    }
    std::optional<BlockHeader> h = ParseBlockHeader(bytes);
    if (!h) throw BadInstaller(ToUtf8(LoadMessage(kDecompressFailed)), "the " + what + " block has a bad header");
    if (h->decodedSize < 0 || static_cast<uint64_t>(h->decodedSize) != block.decodedSize) {
      Corrupt("the " + what + " block's header and the record disagree on its size");
    }
  }
  VisitingSink sink(block, visitor, progress, what);
  Decode(file, block.offset, block.length, sink, "the " + what + " block");
  if (!sink.complete()) Corrupt("the " + what + " block ends before its last file");
  if (block.crc != 0 && sink.crc() != block.crc) {
    throw BadInstaller(ToUtf8(LoadMessage(kDecompressFailed)), "the " + what + " block does not decode to the bytes its checksum was made of");
  }
  if (progress) progress->done(what);
}

namespace {

class CountingVisitor : public BlockVisitor {
public:
  void beginEntry(const RecordFileEntry& e) override { (e.isFolder() ? folders : files) += 1; }
  void data(const uint8_t*, size_t size) override { bytes += size; }
  void endEntry(const RecordFileEntry&) override {}
  size_t files = 0, folders = 0;
  uint64_t bytes = 0;
};

bool HasEntry(const RecordBlock& block, const XString& name) {
  for (const RecordFileEntry& e : block.entries) {
    if (!e.isFolder() && SameNameIgnoringCase(e.name, name)) return true;
  }
  return false;
}

}  // namespace

VerifyReport VerifyInstaller(const fs::path& path, Progress* progress) {
  OpenedInstaller installer = OpenInstaller(path);
  const InstallRecord& r = installer.record;
  if (installer.record.bindExecutables && !HasEntry(r.auxiliaryBlock, u"xbind.script")) {
    Corrupt("the record binds executables but the auxiliary files hold no xbind.script");
  }
  if (r.hookLibrary && !HasEntry(r.auxiliaryBlock, *r.hookLibrary)) {
    Corrupt("the hook library " + ToUtf8(*r.hookLibrary) + " is not among the auxiliary files");
  }
  if (r.wizardBitmap && !HasEntry(r.auxiliaryBlock, *r.wizardBitmap)) {
    Corrupt("the wizard bitmap " + ToUtf8(*r.wizardBitmap) + " is not among the auxiliary files");
  }
  VerifyReport report;
  CountingVisitor main;
  DecodeFilesBlock(installer, r.mainBlock, main, progress, "main files");
  CountingVisitor aux;
  DecodeFilesBlock(installer, r.auxiliaryBlock, aux, progress, "auxiliary files");
  report.mainFiles = main.files;
  report.mainFolders = main.folders;
  report.mainBytes = main.bytes;
  report.auxiliaryFiles = aux.files;
  report.auxiliaryBytes = aux.bytes;
  return report;
}

namespace {

// Extraction outside an installation records nothing.
class UnloggedExtraction : public ExtractionLog {
public:
  DirectoryListener& directoryListener() override { return listener_; }
  void logFile(const AbstractFile&) override {}
  int keepPrevious(const File&) override { return 0; }

private:
  class Ignore : public DirectoryListener {
  public:
    void folderCreated(const Directory&) override {}
  } listener_;
};

}  // namespace

void ExtractInstaller(const fs::path& path, const fs::path& folder, bool auxiliary, Progress* progress) {
  OpenedInstaller installer = OpenInstaller(path);
  const RecordBlock& block = auxiliary ? installer.record.auxiliaryBlock : installer.record.mainBlock;
  // Checked first, so that a bad block writes nothing.
  CountingVisitor counter;
  DecodeFilesBlock(installer, block, counter, progress, auxiliary ? "auxiliary files" : "main files");
  Directory target(WidePath(fs::absolute(folder)));
  if (target.createDirectories() != 0) throw std::runtime_error(ToUtf8(FormatMessageTextWide(kUnableToWriteFile, WidePath(folder))));
  // The installer's own extraction, always overwriting.
  FilesPackage package(block.offset, block.length, block.entries.size(), block.crc);
  for (const RecordFileEntry& e : block.entries) package.addEntry(e.name, e.time, e.size);
  OpenFile opened(path);
  OverwritePolicy always(OverwritePolicy::kAlways);
  UnloggedExtraction log;
  try {
    package.extract(opened.file(), target, nullptr, always, log);
  } catch (const Exception& e) {
    throw std::runtime_error(HostMessage(e));
  }
}

}  // namespace corv::pack
