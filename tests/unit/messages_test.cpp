#include "util/messages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "util/exceptions.h"
#include "util/messagesplatform.h"
#include "util/messagetable.h"

namespace corv {
namespace {

class MessagesTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetLanguage();
    ClearMessageRanges();
  }
  void TearDown() override {
    platform::SetThreadLocale(0x409);
    ResetLanguage();
    ClearMessageRanges();
  }
};

// The placeholders of a text, in order.
std::string Placeholders(const XString& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == u'%') {
      out += static_cast<char>(text[i + 1]);
      ++i;
    }
  }
  return out;
}

TEST_F(MessagesTest, EveryLanguageHasEveryMessageWithTheSamePlaceholders) {
  size_t count = 0;
  const MessageEntry* table = MessageTable(&count);
  std::map<int, XString> byId;
  for (size_t i = 0; i < count; ++i) byId[table[i].id] = table[i].text;
  int english = 0;
  for (const auto& [id, text] : byId) {
    if (id < 1000 || id >= 2000) continue;
    ++english;
    for (int base : {2000, 3000, 4000, 5000}) {
      auto it = byId.find(base + id - 1000);
      ASSERT_NE(it, byId.end()) << "message " << id << " missing at base " << base;
      EXPECT_EQ(Placeholders(it->second), Placeholders(text)) << "message " << id << " at base " << base;
    }
  }
  EXPECT_GE(english, 73);
  EXPECT_EQ(byId.size(), static_cast<size_t>(english) * 5);
}

TEST_F(MessagesTest, LoadsTheSelectedLanguage) {
  ASSERT_TRUE(SelectLanguage(kLanguageEnglish));
  EXPECT_EQ(CurrentLanguage().base, 1000);
  EXPECT_EQ(CurrentLanguage().lcid, 1033u);
  EXPECT_EQ(LoadMessage(1101), u"Unable to open file %s");
  EXPECT_EQ(FormatMessageTextWide(1085, XString(u"a.exe"), uint32_t{3}), u"Execution 'a.exe' failed - exit code 3");
  XString english = LoadMessage(1302);

  ASSERT_TRUE(SelectLanguage(kLanguageGerman));
  EXPECT_EQ(CurrentLanguage().base, 2000);
  EXPECT_EQ(CurrentLanguage().lcid, 1031u);
  XString german = LoadMessage(1302);
  EXPECT_NE(german, english);
  EXPECT_EQ(Placeholders(german), "s");

  ASSERT_TRUE(SelectLanguage(kLanguageRussian));
  EXPECT_EQ(CurrentLanguage().base, 3000);
  ASSERT_TRUE(SelectLanguage(kLanguageFrench));
  EXPECT_EQ(CurrentLanguage().base, 4000);
  ASSERT_TRUE(SelectLanguage(kLanguageJapanese));
  EXPECT_EQ(CurrentLanguage().base, 5000);
  EXPECT_THROW(SelectLanguage(7), AssertionFailedError);
}

TEST_F(MessagesTest, BaseIsChosenOnDemandFromTheThreadLocale) {
  platform::SetThreadLocale(0x0407);  // German (Germany)
  if (!(platform::DesktopFontCodePages() & 1)) GTEST_SKIP() << "desktop font without Latin 1";
  EXPECT_EQ(AutomaticLanguage(), kLanguageGerman);
  LoadMessage(1302);
  EXPECT_EQ(CurrentLanguage().base, 2000);
}

TEST_F(MessagesTest, UnsupportedLocaleFallsBackToEnglish) {
  platform::SetThreadLocale(0x0410);  // Italian
  EXPECT_EQ(AutomaticLanguage(), kLanguageEnglish);
  EnsureLanguage();
  EXPECT_EQ(CurrentLanguage().base, 1000);
}

TEST_F(MessagesTest, MissingMessageNamesTheNumberWithoutBase) {
  SelectLanguage(kLanguageEnglish);
  try {
    LoadMessage(1999);
    FAIL() << "no exception";
  } catch (const FatalError& e) {
    std::string text = ToUtf8(e.message());
    EXPECT_EQ(text.rfind("Message 999 not found (error ", 0), 0u) << text;
  }
}

TEST_F(MessagesTest, RangesMayNotNest) {
  int module = 0;
  RegisterMessageRange(412, 700, &module);
  EXPECT_THROW(RegisterMessageRange(450, 500, &module), AssertionFailedError);
  EXPECT_THROW(RegisterMessageRange(400, 800, &module), AssertionFailedError);
  EXPECT_THROW(RegisterMessageRange(10, 10, &module), AssertionFailedError);
  EXPECT_THROW(RegisterMessageRange(-1, 10, &module), AssertionFailedError);
  // The installer's own numbers below 412 still come from its own table.
  SelectLanguage(kLanguageEnglish);
  EXPECT_EQ(LoadMessage(1401), u"Information");
}

TEST(Exceptions, TextsAndKinds) {
  SelectLanguage(kLanguageEnglish);
  FatalError fatal(1102, XString(u"C:\\x.bin"));
  EXPECT_EQ(fatal.message(), u"Unable to read file C:\\x.bin");
  EXPECT_EQ(fatal.kind(), Exception::kFatalError);
  Error error(u"plain");
  EXPECT_EQ(error.kind(), Exception::kError);
  AssertionFailedError failed("/home/dev/corv/src/kernel/options.cpp", 141);
  EXPECT_EQ(failed.message(), u"ASSERT: file ..\\src\\kernel\\options.cpp, line 141");
  EXPECT_EQ(failed.kind(), Exception::kAssertionFailed);
  EXPECT_EQ(SourcePathOf("src/util/win32/messageswin32.cpp"), "..\\src\\util\\win32\\messageswin32.cpp");
  EXPECT_EQ(SourcePathOf("C:\\b\\src\\kernel\\driver.cpp"), "..\\src\\kernel\\driver.cpp");
}

}  // namespace
}  // namespace corv
