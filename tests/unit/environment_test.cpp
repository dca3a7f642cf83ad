#include "util/environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"

namespace corv {
namespace {

// A system held in memory: the two environment keys, the broadcasts sent,
// and an "autoexec.bat" in a scratch folder.
class FakeEnvironment : public EnvironmentSystem {
public:
  struct Key {
    bool opens = true;
    bool writable = true;
    std::optional<PathValue> path;
  };

  class OpenKey : public EnvironmentKey {
  public:
    explicit OpenKey(Key& key) : key_(key) {}
    std::optional<PathValue> readPath() override { return key_.path; }
    bool writePath(const PathValue& value) override {
      if (!key_.writable) return false;
      key_.path = value;
      return true;
    }
    bool deletePath() override {
      if (!key_.writable || !key_.path) return false;
      key_.path.reset();
      return true;
    }

  private:
    Key& key_;
  };

  bool isWindowsNT() override { return nt; }
  std::unique_ptr<EnvironmentKey> openKey(bool isPersonal) override {
    Key& key = isPersonal ? personal : common;
    if (!key.opens) return nullptr;
    return std::make_unique<OpenKey>(key);
  }
  void broadcastChange() override { ++broadcasts; }
  OptString autoexecPath() override { return autoexec; }

  bool nt = true;
  Key personal;
  Key common;
  int broadcasts = 0;
  OptString autoexec;
};

PathValue Sz(const AnsiString& text) { return PathValue{text, false}; }
PathValue ExpandSz(const AnsiString& text) { return PathValue{text, true}; }

::testing::AssertionResult HoldsPath(const std::optional<PathValue>& actual, const PathValue& expected) {
  if (!actual) return ::testing::AssertionFailure() << "no PATH value";
  if (actual->text != expected.text || actual->expandable != expected.expandable) {
    return ::testing::AssertionFailure() << "PATH is \"" << actual->text << "\" "
                                         << (actual->expandable ? "REG_EXPAND_SZ" : "REG_SZ");
  }
  return ::testing::AssertionSuccess();
}

class EnvironmentTest : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    system.autoexec = dir.path(u"autoexec.bat");
  }
  void TearDown() override { ResetLanguage(); }

  ScratchFolder dir;
  FakeEnvironment system;
  Environment environment{system};
  bool restart = true;
};

// ---- FindPathEntry

TEST(FindPathEntry, WholeEntriesOnlyIgnoringCase) {
  using R = std::optional<TextRange>;
  auto find = [](const char* entry, const char* value) {
    return Environment::FindPathEntry(entry, value, CodePage::kAnsi);
  };
  EXPECT_EQ(find("C:\\App", "C:\\Ap"), std::nullopt) << "value shorter than the entry";
  EXPECT_EQ(find("C:\\App", "c:\\aPP"), R(TextRange{0, 6})) << "the whole value";
  EXPECT_EQ(find("C:\\App", "C:\\Apq"), std::nullopt);
  EXPECT_EQ(find("c:\\bin", "C:\\Bin;D:\\Tools"), R(TextRange{0, 7})) << "first, with the ';' after it";
  EXPECT_EQ(find("D:\\tools", "C:\\Bin;D:\\Tools"), R(TextRange{6, 9})) << "last, with the ';' before it";
  EXPECT_EQ(find("C:\\a", "C:\\ab;C:\\a;C:\\c"), R(TextRange{6, 5})) << "inside, with the ';' after it";
  EXPECT_EQ(find("C:\\a", "C:\\ab;C:\\abc"), std::nullopt) << "a prefix of an entry is not the entry";
  EXPECT_EQ(find("C:\\a", "XC:\\a;C:\\a\\b"), std::nullopt) << "a suffix of an entry is not the entry";
  EXPECT_EQ(find("C:\\a", ";;C:\\a;;"), R(TextRange{2, 5})) << "between empty entries";
  EXPECT_EQ(find("A", "A;B;A"), R(TextRange{0, 2})) << "the first match counts";
  EXPECT_EQ(find("A", "B;A;C;A"), R(TextRange{5, 2})) << "the end is tried before the inside";
  EXPECT_EQ(find("C:\\a", "C:\\a;"), R(TextRange{0, 5}));
  EXPECT_THROW(find("", "C:\\a"), AssertionFailedError);
}

TEST(FindPathEntry, CuttingTheRangeJoinsTheRest) {
  AnsiString value = "C:\\ab;C:\\a;C:\\c";
  std::optional<TextRange> range = Environment::FindPathEntry("C:\\A", value, CodePage::kOem);
  ASSERT_TRUE(range.has_value());
  value.erase(range->offset, range->length);
  EXPECT_EQ(value, "C:\\ab;C:\\c");
}

// ---- Windows NT: the registry

TEST_F(EnvironmentTest, NTAddingAPresentFolderChangesNothing) {
  system.personal.path = Sz("C:\\Bin;D:\\Tools");
  bool added = true;
  EXPECT_EQ(environment.AddToPath(u"D:\\tools", true, &restart, &added), 0);
  EXPECT_FALSE(added) << "not the installation's entry";
  EXPECT_TRUE(HoldsPath(system.personal.path, Sz("C:\\Bin;D:\\Tools")));
  EXPECT_EQ(system.broadcasts, 0) << "nothing written, nothing announced";
  EXPECT_FALSE(restart);
}

TEST_F(EnvironmentTest, NTAddingPutsTheFolderFirstWithTheOldType) {
  system.personal.path = Sz("C:\\Bin;D:\\Tools");
  system.common.path = ExpandSz("%SystemRoot%\\system32");
  bool added = false;
  EXPECT_EQ(environment.AddToPath(u"E:\\App", true, &restart, &added), 0);
  EXPECT_TRUE(added);
  EXPECT_TRUE(HoldsPath(system.personal.path, Sz("E:\\App;C:\\Bin;D:\\Tools")));
  EXPECT_TRUE(HoldsPath(system.common.path, ExpandSz("%SystemRoot%\\system32")));
  EXPECT_EQ(system.broadcasts, 1);
  EXPECT_FALSE(restart);

  EXPECT_EQ(environment.AddToPath(u"E:\\My App", false, &restart), 0);
  EXPECT_TRUE(HoldsPath(system.common.path, ExpandSz("E:\\My App;%SystemRoot%\\system32"))) << "unquoted";
  EXPECT_EQ(system.broadcasts, 2);
  EXPECT_FALSE(restart);
}

TEST_F(EnvironmentTest, NTAddingWithoutAValueCreatesAnExpandableOne) {
  EXPECT_EQ(environment.AddToPath(u"E:\\App", true, &restart), 0);
  EXPECT_TRUE(HoldsPath(system.personal.path, ExpandSz("E:\\App")));
  EXPECT_FALSE(system.common.path.has_value());
  EXPECT_EQ(system.broadcasts, 1);
}

TEST_F(EnvironmentTest, NTAddingFailsWhenTheKeyCannotBeOpenedOrWritten) {
  system.common.opens = false;
  EXPECT_NE(environment.AddToPath(u"E:\\App", false, &restart), 0);
  system.personal.writable = false;
  system.personal.path = Sz("C:\\Bin");
  EXPECT_NE(environment.AddToPath(u"E:\\App", true, &restart), 0);
  EXPECT_TRUE(HoldsPath(system.personal.path, Sz("C:\\Bin")));
  EXPECT_EQ(system.broadcasts, 0);
  EXPECT_FALSE(restart);
  EXPECT_FALSE(dir.exists("autoexec.bat")) << "NT never adds through autoexec.bat";
}

TEST_F(EnvironmentTest, NTRemovingTheWholeValueDeletesIt) {
  system.personal.path = ExpandSz("E:\\App");
  EXPECT_EQ(environment.RemoveFromPath(u"e:\\app"), 0);
  EXPECT_FALSE(system.personal.path.has_value());
  EXPECT_EQ(system.broadcasts, 1);
}

TEST_F(EnvironmentTest, NTRemovingSucceedsWhenAnyKeyHeldTheFolder) {
  system.personal.path = Sz("C:\\Bin");
  system.common.path = ExpandSz("C:\\ab;E:\\App;C:\\c");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0);
  EXPECT_TRUE(HoldsPath(system.personal.path, Sz("C:\\Bin")));
  EXPECT_TRUE(HoldsPath(system.common.path, ExpandSz("C:\\ab;C:\\c")));
  EXPECT_EQ(system.broadcasts, 1);

  EXPECT_NE(environment.RemoveFromPath(u"E:\\App"), 0) << "in neither key";
  system.personal.path = Sz("E:\\App;C:\\Bin");
  system.common.path = ExpandSz("C:\\c;E:\\App");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0);
  EXPECT_TRUE(HoldsPath(system.personal.path, Sz("C:\\Bin")));
  EXPECT_TRUE(HoldsPath(system.common.path, ExpandSz("C:\\c"))) << "both keys lose it";

  system.personal.opens = false;
  system.common.path = ExpandSz("E:\\App;C:\\c");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0) << "a key that cannot be opened does not stop the other";
  EXPECT_TRUE(HoldsPath(system.common.path, ExpandSz("C:\\c")));
}

TEST_F(EnvironmentTest, NTRemovingAlsoCleansAutoexecButLeavesAMissingOneMissing) {
  system.common.path = ExpandSz("E:\\App");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0);
  EXPECT_FALSE(dir.exists("autoexec.bat"));

  dir.writeFile("autoexec.bat", "SET PATH=\"E:\\App\";\"%PATH%\"\r\nECHO OFF\r\n");
  EXPECT_NE(environment.RemoveFromPath(u"E:\\App"), 0) << "only the keys count";
  EXPECT_EQ(dir.readFile("autoexec.bat"), "ECHO OFF\r\n");
}

// ---- Windows 95/98/Me: autoexec.bat

TEST_F(EnvironmentTest, Win98AddingWithoutAutoexecCreatesItAndAsksForARestart) {
  system.nt = false;
  system.personal.opens = system.common.opens = false;
  restart = false;
  EXPECT_EQ(environment.AddToPath(u"C:\\Program Files\\App", false, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), "SET PATH=\"C:\\Program Files\\App\";\"%PATH%\"\r\n");
  EXPECT_TRUE(restart);
  EXPECT_EQ(system.broadcasts, 0);
}

TEST_F(EnvironmentTest, Win98AddingGoesAfterTheLastPathLineOrAtTheEnd) {
  system.nt = false;
  dir.writeFile("autoexec.bat", "@ECHO OFF\nSET PATH=C:\\DOS\r\nset\tpath=%PATH%;C:\\UTIL\nREM end\n");
  EXPECT_EQ(environment.AddToPath(u"C:\\App", true, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"),
            "@ECHO OFF\r\nSET PATH=C:\\DOS\r\nset\tpath=%PATH%;C:\\UTIL\r\nSET PATH=\"C:\\App\";\"%PATH%\"\r\nREM end\r\n");
  EXPECT_TRUE(restart);

  EXPECT_EQ(environment.AddToPath(u"C:\\App", true, &restart), 0);
  AutoexecFile twice;
  ASSERT_TRUE(twice.load(dir.path(u"autoexec.bat")));
  EXPECT_EQ(twice.lines().size(), 6u) << "the folder is not looked for first";
  EXPECT_EQ(twice.lines()[4], twice.lines()[3]) << "right after the first one";
  EXPECT_EQ(twice.lines()[5], "REM end");

  dir.writeFile("autoexec.bat", "@ECHO OFF\r\nPATH C:\\DOS\r\nSET PATH = C:\\X\r\n");
  EXPECT_EQ(environment.AddToPath(u"C:\\App", true, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"),
            "@ECHO OFF\r\nPATH C:\\DOS\r\nSET PATH = C:\\X\r\nSET PATH=\"C:\\App\";\"%PATH%\"\r\n")
      << "neither PATH without SET nor a blank before '=' sets PATH";
}

TEST_F(EnvironmentTest, Win98FailsWhenAutoexecCannotBeReadOrWritten) {
  system.nt = false;
  system.autoexec = dir.path(u"folder");
  ASSERT_EQ(Directory(dir.path(u"folder")).createDirectories(), 0);
  restart = false;
  EXPECT_NE(environment.AddToPath(u"C:\\App", false, &restart), 0);
  EXPECT_FALSE(restart);
  EXPECT_NE(environment.RemoveFromPath(u"C:\\App"), 0);

  system.autoexec = std::nullopt;
  EXPECT_NE(environment.AddToPath(u"C:\\App", false, &restart), 0);
  EXPECT_NE(environment.RemoveFromPath(u"C:\\App"), 0);
}

TEST_F(EnvironmentTest, Win98RemovingDropsTheInstallersLineAndCutsOthers) {
  system.nt = false;
  dir.writeFile("autoexec.bat",
                "@echo off\r\n"
                "SET PATH=C:\\DOS;c:\\app;C:\\APPS\r\n"
                "SET PATH=\"C:\\App\";\"%PATH%\"\r\n"
                "rem C:\\App stays here\r\n"
                "  @Set Path=\"c:\\APP\";\"%path%\"\r\n"
                "SET PATH=\"%PATH%\";\"C:\\Other\"\r\n");
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"),
            "@echo off\r\n"
            "SET PATH=C:\\DOS;C:\\APPS\r\n"
            "rem C:\\App stays here\r\n"
            "SET PATH=\"%PATH%\";\"C:\\Other\"\r\n");

  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0) << "a folder not found still succeeds";
  EXPECT_EQ(dir.readFile("autoexec.bat"),
            "@echo off\r\nSET PATH=C:\\DOS;C:\\APPS\r\nrem C:\\App stays here\r\nSET PATH=\"%PATH%\";\"C:\\Other\"\r\n");
}

TEST_F(EnvironmentTest, Win98RemovingWithoutAutoexecWritesNothing) {
  system.nt = false;
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0);
  EXPECT_FALSE(dir.exists("autoexec.bat"));
  // A file without the folder is not rewritten: its bytes stay as they are.
  const std::string odd = "@ECHO OFF\nSET PATH=C:\\DOS\r\n\x1a";
  dir.writeFile("autoexec.bat", odd);
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), odd);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.native()), {}), 1) << "no file of its own left";
}

TEST_F(EnvironmentTest, AddedAndRemovedAgainLeavesTheFileAsItWas) {
  system.nt = false;
  const std::string before = "@ECHO OFF\r\nSET PATH=C:\\DOS\r\nREM end\r\n";
  dir.writeFile("autoexec.bat", before);
  ASSERT_EQ(environment.AddToPath(u"C:\\Program Files\\App", false, &restart), 0);
  ASSERT_EQ(environment.RemoveFromPath(u"C:\\Program Files\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), before);
}

// ---- The lines of autoexec.bat

TEST(AutoexecFile, ReadsLinesAsText) {
  EXPECT_TRUE(AutoexecFile::FromText("").lines().empty());
  EXPECT_EQ(AutoexecFile::FromText("a\r\nb\nc").lines(), (std::vector<AnsiString>{"a", "b", "c"}));
  EXPECT_EQ(AutoexecFile::FromText("a\n\n").lines(), (std::vector<AnsiString>{"a", ""}));
  EXPECT_EQ(AutoexecFile::FromText("a\rb\r\r\n").lines(), (std::vector<AnsiString>{"a\rb\r"}));
  EXPECT_EQ(AutoexecFile::FromText("a\r\nb\x1A" "c\r\n").lines(), (std::vector<AnsiString>{"a", "b"}))
      << "Ctrl-Z ends the text";
  EXPECT_EQ(AutoexecFile::FromText("a\nb\n").text(), "a\r\nb\r\n");
}

TEST(AutoexecFile, LinesThatSetPath) {
  using P = std::optional<size_t>;
  EXPECT_EQ(AutoexecFile::PathValueStart("SET PATH=C:\\DOS"), P(9));
  EXPECT_EQ(AutoexecFile::PathValueStart(" \t@@ sEt \t pAtH="), P(16));
  EXPECT_EQ(AutoexecFile::PathValueStart("SET PATH = C:\\DOS"), std::nullopt);
  EXPECT_EQ(AutoexecFile::PathValueStart("SETPATH=C:\\DOS"), std::nullopt);
  EXPECT_EQ(AutoexecFile::PathValueStart("PATH=C:\\DOS"), std::nullopt);
  EXPECT_EQ(AutoexecFile::PathValueStart("SET PATHEXT=.COM"), std::nullopt);
  EXPECT_EQ(AutoexecFile::PathValueStart("REM SET PATH=x"), std::nullopt);
  EXPECT_EQ(AutoexecFile::PathValueStart("SET PATH"), std::nullopt);
  EXPECT_EQ(AutoexecFile::PathValueStart("SET"), std::nullopt);
}

TEST(AutoexecFile, LoadKeepsTheObjectOnFailure) {
  ScratchFolder dir;
  AutoexecFile file = AutoexecFile::FromText("keep\n");
  ASSERT_EQ(Directory(dir.path(u"sub")).createDirectories(), 0);
  EXPECT_FALSE(file.load(dir.path(u"sub")));
  EXPECT_EQ(file.lines(), (std::vector<AnsiString>{"keep"}));
  EXPECT_TRUE(file.load(dir.path(u"missing.bat")));
  EXPECT_TRUE(file.lines().empty());
}

}  // namespace
}  // namespace corv
