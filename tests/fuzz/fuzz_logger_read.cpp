// Fuzz target of the install-log reader: arbitrary bytes as "install.log".
// Whatever it accepts must write and read back to the same log; whatever it
// rejects must leave the log as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/logger.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"

namespace {

using namespace corv;

// A file held in memory.
class MemoryFile : public AbstractFile {
public:
  explicit MemoryFile(std::vector<uint8_t> bytes) : AbstractFile(u"C:\\App\\install.log"), bytes_(std::move(bytes)) {}

  int open(int mode) override {
    if (open_) std::abort();
    if (mode == kFileWrite) bytes_.clear();
    pos_ = 0;
    open_ = true;
    return 0;
  }
  int32_t read(void* buffer, uint32_t count) override {
    if (!open_) return -1;
    size_t n = std::min<size_t>(count, bytes_.size() - pos_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return static_cast<int32_t>(n);
  }
  int write(const void* buffer, uint32_t count) override {
    if (!open_) return 1;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    bytes_.insert(bytes_.end(), p, p + count);
    return 0;
  }
  int close() override {
    if (!open_) return 1;
    open_ = false;
    return 0;
  }
  int remove() override { return 1; }
  int64_t tell() override { return static_cast<int64_t>(pos_); }
  int seek(int, int64_t) override { return 1; }
  int64_t size() override { return static_cast<int64_t>(bytes_.size()); }

  bool isOpen() const { return open_; }

private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
  bool open_ = false;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (SelectLanguage(kLanguageEnglish), true);
  (void)ready;

  MemoryFile in(std::vector<uint8_t>(data, data + size));
  Logger log(XString(u"Before"));
  log.setLogInteger(9);
  log.LogDirectory(u"C:\\Before");
  try {
    log.Read(in);
  } catch (const FatalError&) {
    Check(!in.isOpen());
    Check(log.productName() == u"Before" && log.logInteger() == 9 && !log.recordedFilePath());
    Check(log.recordCount() == 1 && log.records().front() == (LogRecord{kLogDirectory, u"C:\\Before"}));
    return 0;
  }
  Check(!in.isOpen());

  MemoryFile out({});
  try {
    log.Write(out);
  } catch (const FatalError&) {
    return 0;  // a record text too long for a written line
  }
  Logger back;
  back.Read(out);
  Check(back.productName() == log.productName());
  Check(back.recordedFilePath() == log.recordedFilePath());
  Check(back.logInteger() == log.logInteger());
  Check(back.records() == log.records());
  return 0;
}
