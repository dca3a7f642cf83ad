// Fuzz target of the install-log reader: arbitrary bytes as "install.log".
// Whatever it accepts must write and read back to the same log; whatever it
// rejects must leave the log as it was.
#include <cstdint>
#include <vector>

#include "fuzzsupport.h"
#include "kernel/logger.h"
#include "util/exceptions.h"

using namespace corv;
using fuzz::Check;
using fuzz::MemoryFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::UseEnglish();

  MemoryFile in(u"C:\\App\\install.log", std::vector<uint8_t>(data, data + size));
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

  MemoryFile out(u"C:\\App\\install.log", {});
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
