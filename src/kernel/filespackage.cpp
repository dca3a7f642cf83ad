#include "kernel/filespackage.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>

#include "kernel/logger.h"
#include "kernel/overwritepolicy.h"
#include "kernel/uiprogressupdater.h"
#include "unpacker/decompressor.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/thread.h"
#include "util/xstream.h"

namespace corv {
namespace {

class LoggerExtractionLog : public ExtractionLog {
public:
  explicit LoggerExtractionLog(Logger& log) : log_(log) {}
  DirectoryListener& directoryListener() override { return log_.DirectoryListener(); }
  void logFile(const AbstractFile& file) override { log_.LogFile(file); }
  int keepPrevious(const File& file) override { return log_.KeepFile(file); }

private:
  Logger& log_;
};

// `path` lies strictly below `folder` (both absolute and normalised).
bool LiesBelow(const XString& path, const XString& folder) {
  XString prefix = folder;
  if (prefix.empty() || prefix.back() != u'\\') prefix += u'\\';
  return path.size() > prefix.size() && EqualsIgnoreCaseAscii(path.substr(0, prefix.size()), prefix);
}

// The record refuses names that could leave the target folder; this is the
// second line: no root, no drive or stream, and the normalised result must
// still lie below the target (which also catches "..", device names and
// whatever else the system folds into another place).
bool IsContainedEntry(const XString& name, const XString& resolved, const Directory& target) {
  if (name.empty() || name[0] == u'\\' || name[0] == u'/') return false;
  if (name.find(u':') != XString::npos) return false;
  return LiesBelow(resolved, target.widePath());
}

// The folders an extraction creates: told on to the log's listener, and
// remembered, since nothing in them can be older than the run.
class MadeFolders : public DirectoryListener {
public:
  explicit MadeFolders(DirectoryListener& log) : log_(log) {}

  void folderCreating(const Directory& folder) override { log_.folderCreating(folder); }
  void folderCreated(const Directory& folder) override {
    log_.folderCreated(folder);
    made_.insert(folder.widePath());
  }

  bool contains(const XString& folder) const { return made_.count(folder) != 0; }

private:
  DirectoryListener& log_;
  std::set<XString> made_;
};

// Decodes a block on a thread of its own, running ahead of the thread that
// writes the files by at most kSlots chunks of at most kSlotSize bytes, so
// that decoding and writing overlap. The writer's side (`drain`) hands every
// chunk to the real output in order, opens it where the decoder opened it,
// and rethrows what the decoder threw once the chunks before it are
// written. When the writer stops early (a cancel, a failure), `stop` ends
// the decoder at its next chunk.
class DecodeAhead : public Thread, private OutputStream {
public:
  static constexpr size_t kSlots = 4;
  static constexpr uint32_t kSlotSize = Decompressor::kOutputBufferSize;

  DecodeAhead(Decompressor& decompressor, InputStream& input) : decompressor_(decompressor), input_(input) {}

  ~DecodeAhead() override { stop(); }

  void drain(OutputStream& output) {
    for (size_t next = 0;; next = (next + 1) % kSlots) {
      filled_.acquire();
      Slot& slot = slots_[next];
      if (slot.kind == Slot::kEnd) {
        joined_ = true;
        join();
        if (failure_) std::rethrow_exception(failure_);
        return;
      }
      if (slot.kind == Slot::kOpen) {
        output.open();
      } else {
        output.write(slot.bytes.data(), slot.count);
      }
      free_.release();
    }
  }

  // Ends the decoder at its next chunk and waits for it.
  void stop() {
    if (!started_ || joined_) return;
    stopping_.store(true);
    free_.release();  // the decoder may wait for room
    joined_ = true;
    join();
  }

  void start() override {
    started_ = true;
    Thread::start();
  }

private:
  struct Slot {
    enum Kind { kOpen, kBytes, kEnd } kind = kBytes;
    std::vector<uint8_t> bytes;
    uint32_t count = 0;
  };
  // The writer stopped reading: the decoder ends.
  struct Stopped {};

  void run() override {
    try {
      decompressor_.decompress(input_, *this);
    } catch (const Stopped&) {
      return;
    } catch (...) {
      failure_ = std::current_exception();
    }
    if (take()) push(Slot::kEnd);
  }

  void open() override {
    if (!take()) throw Stopped();
    push(Slot::kOpen);
  }

  void write(const void* data, uint32_t count) override {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
      if (!take()) throw Stopped();
      Slot& slot = slots_[next_];
      slot.count = std::min(count, kSlotSize);
      slot.bytes.assign(p, p + slot.count);
      push(Slot::kBytes);
      p += slot.count;
      count -= slot.count;
    }
  }

  // Waits for a free slot; false when the writer has stopped.
  bool take() {
    free_.acquire();
    return !stopping_.load();
  }

  void push(Slot::Kind kind) {
    slots_[next_].kind = kind;
    next_ = (next_ + 1) % kSlots;
    filled_.release();
  }

  Decompressor& decompressor_;
  InputStream& input_;
  Slot slots_[kSlots];
  size_t next_ = 0;  // the decoder's next slot
  Semaphore free_{static_cast<int32_t>(kSlots)};
  Semaphore filled_{0};
  std::atomic<bool> stopping_{false};
  std::exception_ptr failure_;
  bool started_ = false;
  bool joined_ = false;
};

}  // namespace

// The output of the block's decoding: cuts the stream into the entries'
// files. Lives for one extract.
class FilesPackage::Sink : public OutputStream {
public:
  Sink(FilesPackage& package, const Directory& target, UIProgressUpdater* progress,
       AbstractOverwritePolicy& policy, ExtractionLog& log)
      : package_(package), target_(target), progress_(progress), policy_(policy), log_(log) {}

  void open() override {
    if (progress_) progress_->begin(static_cast<int64_t>(package_.total_), true);
    skip_ = 0;
    index_ = -1;
    nextFile();
  }

  void write(const void* data, uint32_t count) override {
    CORV_ASSERT_AT(count > 0, 499);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    crc_ = Crc32(p, count, crc_);
    for (;;) {
      // Bytes of files that are kept stream past unwritten.
      if (skip_ > 0) {
        if (skip_ >= count) {
          skip_ -= count;
          return;
        }
        p += skip_;
        count -= static_cast<uint32_t>(skip_);
        skip_ = 0;
      }
      // More bytes than the entries account for. (After the last file the
      // finished file stays current; its remaining count of 0 must not turn
      // the surplus into an endless loop of empty writes.)
      CORV_ASSERT_AT(file_ != nullptr && remaining_ > 0, 515);
      const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, remaining_));
      if (package_.aborted()) abortRun();
      if (file_->write(p, n) != 0) {
        file_->close();
        throw FatalError(kUnableToWriteFile, file_->widePath());
      }
      if (package_.aborted()) abortRun();
      remaining_ -= n;
      if (progress_) progress_->advance(n, std::nullopt);
      if (remaining_ == 0) {
        finishFile();
        nextFile();
      }
      count -= n;
      p += n;
      if (count == 0) return;
    }
  }

  // CRC-32 of every byte decoded so far, those of kept files included.
  uint32_t crc() const { return crc_; }

  // Every entry was reached and every byte the table announces arrived.
  bool complete() const {
    const int64_t last = static_cast<int64_t>(package_.entries_.size()) - 1;
    return skip_ == 0 && index_ >= last && (file_ == nullptr || remaining_ == 0);
  }

private:
  void nextFile() {
    const int64_t count = static_cast<int64_t>(package_.entries_.size());
    if (index_ >= count - 1) return;
    if (package_.aborted()) abortRun();
    for (;;) {
      file_.reset();
      entry_ = nullptr;
      if (++index_ == count) return;
      const Entry& e = package_.entries_[static_cast<size_t>(index_)];
      if (e.isFolder()) {
        Directory folder(target_, e.name);
        if (!IsContainedEntry(e.name, folder.widePath(), target_)) throw FatalError(kCorruptedPackage);
        refuseLinks(folder.widePath(), folder.widePath());
        // A failure shows later, when a file in it cannot be opened.
        folder.createDirectories(&madeFolders_);
      } else if (!startFile(e)) {
        return;  // wait for the file's bytes
      }
      if (package_.aborted()) abortRun();
    }
  }

  // Opens the file of `e`, or arranges for its bytes to be skipped. False
  // when its bytes are to come; true when the entry is done with.
  bool startFile(const Entry& e) {
    if (e.size < 0) throw FatalError(kCorruptedPackage);
    std::unique_ptr<File> file(new File(target_, e.name));
    if (!IsContainedEntry(e.name, file->widePath(), target_)) throw FatalError(kCorruptedPackage);
    // The folders on the way are asked once a run; the file itself once.
    std::optional<Directory> parent = file->parentDirectory();
    if (parent) refuseLinks(parent->widePath(), file->widePath());
    remaining_ = e.size;
    // A folder this run made holds nothing but what the run put there: the
    // file is created as a new one without asking first whether its name
    // is taken. Should it be (an earlier entry of the same name, or what
    // another program put there since), the creation fails and the file is
    // asked about as anywhere else.
    const bool inMadeFolder = parent && madeFolders_.contains(parent->widePath());
    if (inMadeFolder) {
      if (progress_) progress_->beginItem(e.size, e.size, file->widePath());
      // Logged before it can be seen, as below.
      log_.logFile(*file);
      if (file->createNew() == 0) return opened(std::move(file), e);
    }
    const PathKind at = file->kind();
    if (at.isLink) throw FatalError(msg::kLinkInPath, file->widePath());
    if (progress_ && !inMadeFolder) progress_->beginItem(e.size, e.size, file->widePath());
    if (at.exists) {
      if (!policy_.decide(*file, e.time, e.size)) {
        if (progress_) progress_->advance(e.size, std::nullopt);
        // Sizes that no block could hold must not overflow the count.
        if (e.size > INT64_MAX - skip_) throw FatalError(kCorruptedPackage);
        skip_ += e.size;
        return true;
      }
      // The earlier file is kept before anything of it is replaced.
      if (log_.keepPrevious(*file) != 0) throw FatalError(kUnableToWriteFile, file->widePath());
    }
    if (parent && soundFolders_.count(parent->widePath()) == 0 && !parent->exists()) {
      parent->createDirectories(&madeFolders_);
    }
    // Logged before it is opened, so that an interrupted run leaves no file
    // unrecorded.
    log_.logFile(*file);
    if (file->open(kFileWrite) != 0) throw FatalError(kUnableToWriteFile, file->widePath());
    return opened(std::move(file), e);
  }

  // `file`, open, becomes the current file of `e`: false when its bytes
  // are to come; true when it is already complete (no bytes).
  bool opened(std::unique_ptr<File> file, const Entry& e) {
    file_ = std::move(file);
    entry_ = &e;
    if (remaining_ > 0) return false;
    finishFile();
    return true;
  }

  // Nothing is written through a symbolic link or junction: the target
  // folder and every folder between it and `folder` (itself included) must
  // be none (a planted link would carry the files to another place); the
  // failure names `path`, what was to be written. Folders found sound are
  // not asked again in this run.
  void refuseLinks(const XString& folder, const XString& path) {
    if (FileSys::LinkInPath(folder, target_.widePath(), &soundFolders_)) throw FatalError(msg::kLinkInPath, path);
  }

  void finishFile() {
    if (file_->closeWithTime(entry_->time) != 0) throw FatalError(kUnableToWriteFile, file_->widePath());
  }

  [[noreturn]] void abortRun() {
    if (file_ && file_->isOpen()) file_->close();
    throw AbortUnpackException();
  }

  FilesPackage& package_;
  const Directory& target_;
  UIProgressUpdater* progress_;
  AbstractOverwritePolicy& policy_;
  ExtractionLog& log_;
  std::unique_ptr<File> file_;
  const Entry* entry_ = nullptr;
  int64_t index_ = -1;
  int64_t remaining_ = 0;
  int64_t skip_ = 0;
  std::set<XString> soundFolders_;
  MadeFolders madeFolders_{log_.directoryListener()};
  uint32_t crc_ = 0;
};

FilesPackage::FilesPackage(uint64_t blockOffset, uint64_t blockLength, size_t entryCount, uint32_t crc)
    : blockOffset_(blockOffset), blockLength_(blockLength), crc_(crc) {
  // Room for the announced entries; the count is the package's word, so a
  // damaged one only costs growing later, never a huge allocation up front.
  entries_.reserve(std::min<size_t>(entryCount, 1 << 16));
}

void FilesPackage::addEntry(XString name, FileTime time, int64_t size) {
  entries_.push_back(Entry{std::move(name), time, size});
  if (size != -1) total_ += static_cast<uint64_t>(size);
}

const FilesPackage::Entry& FilesPackage::entry(size_t index) const {
  CORV_ASSERT(index < entries_.size());
  return entries_[index];
}

bool FilesPackage::extract(AbstractFile& package, const Directory& target, UIProgressUpdater* progress,
                           AbstractOverwritePolicy& policy, Logger& log) {
  LoggerExtractionLog adapter(log);
  return extract(package, target, progress, policy, adapter);
}

bool FilesPackage::extract(AbstractFile& package, const Directory& target, UIProgressUpdater* progress,
                           AbstractOverwritePolicy& policy, ExtractionLog& log) {
  abort_.store(false);
  std::unique_ptr<Decompressor> decompressor = DecompressorFactory::current().create();
  FileSectionInputStream stream(package, blockOffset_, static_cast<int64_t>(std::min<uint64_t>(blockLength_, INT64_MAX)));
  Sink sink(*this, target, progress, policy, log);
  try {
    DecodeAhead decoder(*decompressor, stream);
    decoder.start();
    decoder.drain(sink);
  } catch (const AbortUnpackException&) {
    return false;
  }
  // A block that ends before the table's last file would otherwise pass
  // for a complete installation.
  if (!sink.complete()) throw FatalError(kDecompressFailed);
  // Damaged LZMA data may decode without an error into other bytes.
  if (crc_ != 0 && sink.crc() != crc_) throw FatalError(kDecompressFailed);
  return true;
}

}  // namespace corv
