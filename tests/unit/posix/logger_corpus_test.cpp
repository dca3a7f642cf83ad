// The seed corpus of the install-log fuzz target says what it holds: every
// "good_" seed reads, every "bad_" seed is refused as corrupt.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kernel/logger.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {
namespace {

TEST(LoggerCorpus, GoodSeedsReadAndBadSeedsAreRefusedAsCorrupt) {
  SelectLanguage(kLanguageEnglish);
  const std::filesystem::path corpus = std::filesystem::path(CORV_TEST_DATA).parent_path() / "fuzz" / "corpus" / "fuzz_logger_read";
  int good = 0;
  int bad = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string name = entry.path().filename().string();
    File file(AnsiString(entry.path().string()));
    Logger log;
    if (name.rfind("good_", 0) == 0) {
      EXPECT_NO_THROW(log.Read(file)) << name;
      ++good;
    } else {
      ASSERT_EQ(name.rfind("bad_", 0), 0u) << name;
      try {
        log.Read(file);
        ADD_FAILURE() << name << " was read";
      } catch (const FatalError& e) {
        EXPECT_NE(e.message().find(u"corrupted"), XString::npos) << name;
      }
      ++bad;
    }
  }
  EXPECT_GT(good, 5);
  EXPECT_GT(bad, 10);
  ResetLanguage();
}

}  // namespace
}  // namespace corv
