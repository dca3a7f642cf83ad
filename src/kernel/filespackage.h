// One files block of the package with its entry table, and its extraction.
//
// The decoded block is the contents of the block's files concatenated in
// table order, without separators; folders contribute no bytes. `extract`
// decodes the block once, from start to end, and cuts it into files below a
// target folder: it creates the folders, asks the overwrite policy about
// files that exist already, writes every file, restores its modification
// time, records what it creates in the install log and reports progress in
// bytes. It can be cancelled from another thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/installrecord.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv {

class AbstractOverwritePolicy;
class Logger;
class UIProgressUpdater;

// What an extraction records: every folder it creates (through the
// listener handed to Directory::createDirectories) and every file before
// its first byte is written; and what it keeps of an existing file before
// replacing it.
class ExtractionLog {
public:
  virtual ~ExtractionLog() = default;
  virtual DirectoryListener& directoryListener() = 0;
  virtual void logFile(const AbstractFile& file) = 0;
  // Keeps the existing `file` so that a rollback can put it back; non-zero
  // when it cannot be kept (then it must not be replaced).
  virtual int keepPrevious(const File& file) = 0;
};

class FilesPackage {
public:
  // The record's file entry: the path below the target folder, the
  // modification time to restore, the bytes in the block (-1 a folder).
  using Entry = RecordFileEntry;

  // The block at `blockOffset` of the package file, `blockLength` bytes
  // long with its header; `entryCount` is what the table announces (room
  // is made for that many entries). `crc` is the CRC-32 of the decoded
  // block as the record gives it; 0 when none was recorded.
  FilesPackage(uint64_t blockOffset, uint64_t blockLength, size_t entryCount = 0, uint32_t crc = 0);
  FilesPackage(const FilesPackage&) = delete;
  FilesPackage& operator=(const FilesPackage&) = delete;

  // Appends an entry in table order; a file's size adds to the total.
  void addEntry(XString name, FileTime time, int64_t size);

  size_t count() const { return entries_.size(); }
  // Entry `index`; outside 0..count-1 an assertion failure.
  const Entry& entry(size_t index) const;
  // Sum of the file sizes: what progress counts to.
  uint64_t total() const { return total_; }
  uint64_t blockOffset() const { return blockOffset_; }
  uint64_t blockLength() const { return blockLength_; }

  // Decodes the block from `package` (open for reading) into `target`.
  // `progress` may be null. True when every entry was processed; false
  // when `abort` cancelled the run (the file being written stays, logged).
  // An existing file that the policy replaces is first kept through the
  // log (for a Logger, in its journal's folder, when it has one).
  // FatalError: 1103 with the path of a file that cannot be kept, created,
  // written, closed or given its time; 1202 for damaged block data, which
  // includes data that ends before the table's last file and data whose
  // CRC-32 is not the recorded one (known only once every file is written,
  // which the caller's rollback then removes); 1181 for an entry
  // whose name would lead outside `target`, which nothing is written for.
  bool extract(AbstractFile& package, const Directory& target, UIProgressUpdater* progress,
               AbstractOverwritePolicy& policy, Logger& log);
  bool extract(AbstractFile& package, const Directory& target, UIProgressUpdater* progress,
               AbstractOverwritePolicy& policy, ExtractionLog& log);

  // Cancels a running extract at the next file or chunk; safe from any
  // thread. The flag is cleared when extract starts.
  void abort() { abort_.store(true); }
  bool aborted() const { return abort_.load(); }

private:
  class Sink;

  uint64_t blockOffset_;
  uint64_t blockLength_;
  uint32_t crc_;
  uint64_t total_ = 0;
  std::vector<Entry> entries_;
  std::atomic<bool> abort_{false};
};

}  // namespace corv
