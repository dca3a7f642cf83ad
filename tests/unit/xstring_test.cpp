#include "util/xstring.h"

#include <gtest/gtest.h>

#include <climits>

#include "util/exceptions.h"
#include "test_support.h"

namespace corv {
namespace {

TEST(Format, PlaceholdersAndBudget) {
  EXPECT_EQ(Format(u"%s", XString()), u"");
  EXPECT_EQ(Format(u"%%"), u"%");
  EXPECT_EQ(Format(u"a%sb%dc", XString(u"x"), int32_t{-5}), u"axb-5c");
  EXPECT_EQ(Format(u"%d", int32_t{INT_MIN}), u"-2147483648");
  EXPECT_EQ(Format(u"%u", uint32_t{4294967295u}), u"4294967295");
  EXPECT_EQ(Format(u"%x %X", uint32_t{0xBEEF}, uint32_t{0xBEEF}), u"beef BEEF");
  EXPECT_EQ(Format(u"%u", int32_t{-1}), u"4294967295");
}

TEST(Format, UnsupportedPlaceholderReportsAndAsserts) {
  for (const XString& fmt : {XString(u"%5d"), XString(u"%ls"), XString(u"%c"), XString(u"end%")}) {
    CapturedStdout out;
    EXPECT_THROW(FormatArgs(fmt, {}), AssertionFailedError);
    std::string text = out.take();
    EXPECT_EQ(text.rfind("Invalid format placeholder %", 0), 0u) << text;
    EXPECT_NE(text.find(" in string " + ToUtf8(fmt)), std::string::npos) << text;
  }
}

TEST(Format, ArgumentsMustMatchPlaceholders) {
  EXPECT_THROW(Format(u"%s"), AssertionFailedError);
  EXPECT_THROW(Format(u"%d", XString(u"x")), AssertionFailedError);
  EXPECT_THROW(Format(u"none", int32_t{1}), AssertionFailedError);
}

TEST(Int64ToDecimal, Extremes) {
  EXPECT_EQ(Int64ToDecimal(-1), u"-1");
  EXPECT_EQ(Int64ToDecimal(0), u"0");
  EXPECT_EQ(Int64ToDecimal(INT64_MAX), u"9223372036854775807");
  EXPECT_EQ(Int64ToDecimal(INT64_MIN), u"-9223372036854775808");
}

TEST(TrimBlanks, KeepsInnerBlanks) {
  XString s = u" \t a \t b\t ";
  TrimBlanks(s);
  EXPECT_EQ(s, u"a \t b");
  XString blanks = u" \t\t ";
  TrimBlanks(blanks);
  EXPECT_EQ(blanks, u"");
}

TEST(Conversions, RoundTripAndUnmappedCharacters) {
  EXPECT_EQ(ToWide("plain ascii"), u"plain ascii");
  EXPECT_EQ(ToAnsi(u"plain ascii"), "plain ascii");
  EXPECT_TRUE(IsAnsiConvertible(std::nullopt));
  EXPECT_TRUE(IsAnsiConvertible(XString()));
  // A text passes exactly when the code page gives it back unchanged.
  for (const XString& text : {XString(u"\u65e5\u672c \u0416"), XString(u"Gr\u00fc\u00dfe"), XString(u"\uff0e\uff3c")}) {
    EXPECT_EQ(IsAnsiConvertible(text), ToWide(ToAnsi(text)) == text) << ToUtf8(text);
  }
  EXPECT_EQ(Concat(u"ab", u"cd"), u"abcd");
}

TEST(Conversions, Utf8) {
  XString text = u"Gr\u00fc\u00dfe \u0416 \u65e5 \U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(FromUtf8("\xff"), u"\uFFFD");
  EXPECT_EQ(FromUtf8("\xc0\x80"), u"\uFFFD\uFFFD");
  EXPECT_TRUE(EqualsIgnoreCaseAscii(u"NO-REG", u"no-reg"));
  EXPECT_FALSE(EqualsIgnoreCaseAscii(u"no-re", u"no-reg"));
}

TEST(Conversions, Utf16Le) {
  const uint8_t bytes[] = {0x41, 0x00, 0x16, 0x04, 0x00, 0x00, 0xE5, 0x65, 0x7F};
  // Low byte first; a NUL is a character like any other; the odd byte goes.
  EXPECT_EQ(FromUtf16Le(bytes, sizeof bytes), XString(u"A\u0416\0\u65e5", 4));
  EXPECT_EQ(FromUtf16Le(bytes, 1), u"");
}

}  // namespace
}  // namespace corv
