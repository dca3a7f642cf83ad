// The UI resource library as the wizard loads it under Wine: the thread
// locale of a language picks that language's dialog templates, and the
// library's string table holds the wizard's messages at each language's base.
#include <gtest/gtest.h>

#include "util/win32/corvwindows.h"

#include <algorithm>
#include <string>

#include "util/win32/handles.h"

namespace corv {
namespace {

struct Language {
  LCID lcid;
  int base;
};

const Language kLanguages[] = {{0x409, 1000}, {0x407, 2000}, {0x419, 3000}, {0x40C, 4000}, {0x411, 5000}};

class UiResourceLibraryTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string path = std::string("Z:") + CORV_XINSTRES_DLL;
    std::replace(path.begin(), path.end(), '/', '\\');
    library.reset(LoadLibraryA(path.c_str()));
    ASSERT_TRUE(library) << path << ": error " << GetLastError();
  }
  void TearDown() override { SetThreadLocale(savedLocale); }

  // The template that a dialog of `id` is created from, as the window
  // system finds it for the calling thread.
  const void* found(int id) const {
    HRSRC r = FindResourceA(library.get(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    return r ? LockResource(LoadResource(library.get(), r)) : nullptr;
  }
  // The template of `id` in the language of `lcid`.
  const void* ofLanguage(int id, LCID lcid) const {
    HRSRC r = FindResourceExA(library.get(), MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(id), LANGIDFROMLCID(lcid));
    return r ? LockResource(LoadResource(library.get(), r)) : nullptr;
  }

  win32::UniqueModule library;
  LCID savedLocale = GetThreadLocale();
};

TEST_F(UiResourceLibraryTest, TheThreadLocalePicksTheTemplatesOfItsLanguage) {
  for (const Language& l : kLanguages) {
    ASSERT_TRUE(SetThreadLocale(l.lcid));
    for (int id = 101; id <= 118; ++id) {
      if (id == 102) continue;
      const void* own = ofLanguage(id, l.lcid);
      ASSERT_NE(own, nullptr) << "template " << id << " of " << std::hex << l.lcid;
      EXPECT_EQ(found(id), own) << "template " << id << " under " << std::hex << l.lcid;
    }
  }
}

TEST_F(UiResourceLibraryTest, MessagesAreFoundAtEveryBaseWhateverTheThreadLocale) {
  char english[256], german[256];
  ASSERT_TRUE(SetThreadLocale(0x411));
  ASSERT_GT(LoadStringA(library.get(), 1000 + 412, english, sizeof english), 0);
  EXPECT_STREQ(english, "%s - Corvantis Installer");
  ASSERT_GT(LoadStringA(library.get(), 2000 + 416, german, sizeof german), 0);
  EXPECT_STREQ(german, "Abbrechen");
  wchar_t text[2048];
  for (const Language& l : kLanguages) {
    for (int number : {412, 418, 594}) {
      EXPECT_GT(LoadStringW(library.get(), l.base + number, text, 2048), 0) << l.base + number;
    }
    EXPECT_EQ(LoadStringW(library.get(), l.base + 411, text, 2048), 0) << "the installer's own numbers stay out";
  }
}

}  // namespace
}  // namespace corv
