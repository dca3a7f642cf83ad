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

// A PATH value as "text (REG_SZ)", "text (REG_EXPAND_SZ)" or "none".
std::string Describe(const std::optional<PathValue>& value) {
  if (!value) return "none";
  return value->text + (value->expandable ? " (REG_EXPAND_SZ)" : " (REG_SZ)");
}

class EnvironmentTest : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    system.autoexec = dir.path(u"autoexec.bat");
  }
  void TearDown() override { ResetLanguage(); }

  // Both keys' PATH and the broadcasts sent so far.
  std::string Keys() const {
    return Describe(system.personal.path) + " | " + Describe(system.common.path) + " | " +
           std::to_string(system.broadcasts);
  }

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

  // Cutting the range joins the rest.
  AnsiString value = "C:\\ab;C:\\a;C:\\c";
  std::optional<TextRange> range = Environment::FindPathEntry("C:\\A", value, CodePage::kOem);
  ASSERT_TRUE(range.has_value());
  value.erase(range->offset, range->length);
  EXPECT_EQ(value, "C:\\ab;C:\\c");
}

// ---- Windows NT: the registry

TEST_F(EnvironmentTest, NTAddingPutsAMissingFolderFirstWithTheOldTypeAndAnnouncesIt) {
  system.personal.path = Sz("C:\\Bin;D:\\Tools");
  system.common.path = ExpandSz("%SystemRoot%\\system32");
  bool added = true;
  EXPECT_EQ(environment.AddToPath(u"D:\\tools", true, &restart, &added), 0);
  EXPECT_FALSE(added) << "a present folder is not the installation's entry";
  EXPECT_EQ(Keys(), "C:\\Bin;D:\\Tools (REG_SZ) | %SystemRoot%\\system32 (REG_EXPAND_SZ) | 0")
      << "nothing written, nothing announced";
  EXPECT_FALSE(restart);

  restart = true;
  EXPECT_EQ(environment.AddToPath(u"E:\\App", true, &restart, &added), 0);
  EXPECT_TRUE(added);
  EXPECT_EQ(Keys(), "E:\\App;C:\\Bin;D:\\Tools (REG_SZ) | %SystemRoot%\\system32 (REG_EXPAND_SZ) | 1");
  EXPECT_FALSE(restart);
  restart = true;
  EXPECT_EQ(environment.AddToPath(u"E:\\My App", false, &restart), 0);
  EXPECT_EQ(Keys(), "E:\\App;C:\\Bin;D:\\Tools (REG_SZ) | E:\\My App;%SystemRoot%\\system32 (REG_EXPAND_SZ) | 2")
      << "unquoted";
  EXPECT_FALSE(restart);
  // Without a value, an expandable one is made.
  system.personal.path.reset();
  EXPECT_EQ(environment.AddToPath(u"E:\\App", true, &restart), 0);
  EXPECT_EQ(Keys(), "E:\\App (REG_EXPAND_SZ) | E:\\My App;%SystemRoot%\\system32 (REG_EXPAND_SZ) | 3");

  // A key that cannot be opened or written fails the call.
  system.common.opens = false;
  restart = true;
  EXPECT_NE(environment.AddToPath(u"F:\\App", false, &restart), 0);
  system.personal.writable = false;
  system.personal.path = Sz("C:\\Bin");
  EXPECT_NE(environment.AddToPath(u"F:\\App", true, &restart), 0);
  EXPECT_EQ(Keys(), "C:\\Bin (REG_SZ) | E:\\My App;%SystemRoot%\\system32 (REG_EXPAND_SZ) | 3");
  EXPECT_FALSE(restart);
  EXPECT_FALSE(dir.exists("autoexec.bat")) << "NT never adds through autoexec.bat";
}

TEST_F(EnvironmentTest, NTRemovingTakesTheFolderOutOfEveryKeyThatHoldsIt) {
  system.personal.path = ExpandSz("E:\\App");
  EXPECT_EQ(environment.RemoveFromPath(u"e:\\app"), 0);
  EXPECT_EQ(Keys(), "none | none | 1") << "the whole value goes";
  EXPECT_FALSE(dir.exists("autoexec.bat")) << "a missing autoexec.bat stays missing";

  system.personal.path = Sz("C:\\Bin");
  system.common.path = ExpandSz("C:\\ab;E:\\App;C:\\c");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0) << "one key held it";
  EXPECT_EQ(Keys(), "C:\\Bin (REG_SZ) | C:\\ab;C:\\c (REG_EXPAND_SZ) | 2");
  EXPECT_NE(environment.RemoveFromPath(u"E:\\App"), 0) << "in neither key";

  system.personal.path = Sz("E:\\App;C:\\Bin");
  system.common.path = ExpandSz("C:\\c;E:\\App");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0);
  EXPECT_EQ(Keys(), "C:\\Bin (REG_SZ) | C:\\c (REG_EXPAND_SZ) | 4") << "both keys lose it, each announced";
  system.personal.opens = false;
  system.common.path = ExpandSz("E:\\App;C:\\c");
  EXPECT_EQ(environment.RemoveFromPath(u"E:\\App"), 0) << "a key that cannot be opened does not stop the other";
  EXPECT_EQ(Describe(system.common.path), "C:\\c (REG_EXPAND_SZ)");

  // autoexec.bat is cleaned as well, but only the keys count.
  dir.writeFile("autoexec.bat", "SET PATH=\"E:\\App\";\"%PATH%\"\r\nECHO OFF\r\n");
  EXPECT_NE(environment.RemoveFromPath(u"E:\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), "ECHO OFF\r\n");
}

// ---- Windows 95/98/Me: autoexec.bat

TEST_F(EnvironmentTest, Win98AddingWritesALineAfterTheLastPathLineAndAsksForARestart) {
  system.nt = false;
  system.personal.opens = system.common.opens = false;
  restart = false;
  EXPECT_EQ(environment.AddToPath(u"C:\\Program Files\\App", false, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), "SET PATH=\"C:\\Program Files\\App\";\"%PATH%\"\r\n") << "made when missing";
  EXPECT_TRUE(restart);
  EXPECT_EQ(system.broadcasts, 0);

  dir.writeFile("autoexec.bat", "@ECHO OFF\nSET PATH=C:\\DOS\r\nset\tpath=%PATH%;C:\\UTIL\nREM end\n");
  restart = false;
  EXPECT_EQ(environment.AddToPath(u"C:\\App", true, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"),
            "@ECHO OFF\r\nSET PATH=C:\\DOS\r\nset\tpath=%PATH%;C:\\UTIL\r\nSET PATH=\"C:\\App\";\"%PATH%\"\r\nREM end\r\n");
  EXPECT_TRUE(restart);
  EXPECT_EQ(environment.AddToPath(u"C:\\App", true, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), "@ECHO OFF\r\nSET PATH=C:\\DOS\r\nset\tpath=%PATH%;C:\\UTIL\r\n"
                                          "SET PATH=\"C:\\App\";\"%PATH%\"\r\nSET PATH=\"C:\\App\";\"%PATH%\"\r\nREM end\r\n")
      << "the folder is not looked for first; the new line goes right after the first one";

  dir.writeFile("autoexec.bat", "@ECHO OFF\r\nPATH C:\\DOS\r\nSET PATH = C:\\X\r\n");
  EXPECT_EQ(environment.AddToPath(u"C:\\App", true, &restart), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"),
            "@ECHO OFF\r\nPATH C:\\DOS\r\nSET PATH = C:\\X\r\nSET PATH=\"C:\\App\";\"%PATH%\"\r\n")
      << "neither PATH without SET nor a blank before '=' sets PATH";
}

TEST_F(EnvironmentTest, Win98RemovingDropsTheInstallersLinesCutsOthersAndRestoresTheFile) {
  system.nt = false;
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0);
  EXPECT_FALSE(dir.exists("autoexec.bat")) << "none is made";
  // A file without the folder is not rewritten: its bytes stay as they are.
  const std::string odd = "@ECHO OFF\nSET PATH=C:\\DOS\r\n\x1a";
  dir.writeFile("autoexec.bat", odd);
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), odd);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.native()), {}), 1) << "no file of its own left";

  dir.writeFile("autoexec.bat",
                "@echo off\r\n"
                "SET PATH=C:\\DOS;c:\\app;C:\\APPS\r\n"
                "SET PATH=\"C:\\App\";\"%PATH%\"\r\n"
                "rem C:\\App stays here\r\n"
                "  @Set Path=\"c:\\APP\";\"%path%\"\r\n"
                "SET PATH=\"%PATH%\";\"C:\\Other\"\r\n");
  const std::string cleaned =
      "@echo off\r\nSET PATH=C:\\DOS;C:\\APPS\r\nrem C:\\App stays here\r\nSET PATH=\"%PATH%\";\"C:\\Other\"\r\n";
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), cleaned);
  EXPECT_EQ(environment.RemoveFromPath(u"C:\\App"), 0) << "a folder not found still succeeds";
  EXPECT_EQ(dir.readFile("autoexec.bat"), cleaned);

  // Added and removed again leaves the file as it was.
  const std::string before = "@ECHO OFF\r\nSET PATH=C:\\DOS\r\nREM end\r\n";
  dir.writeFile("autoexec.bat", before);
  ASSERT_EQ(environment.AddToPath(u"C:\\Program Files\\App", false, &restart), 0);
  ASSERT_EQ(environment.RemoveFromPath(u"C:\\Program Files\\App"), 0);
  EXPECT_EQ(dir.readFile("autoexec.bat"), before);
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

// ---- The lines of autoexec.bat

TEST(AutoexecFile, ReadsLinesAsTextAndKnowsThoseThatSetPath) {
  using L = std::vector<AnsiString>;
  auto lines = [](const char* text) { return AutoexecFile::FromText(text).lines(); };
  EXPECT_TRUE(lines("").empty());
  EXPECT_EQ(lines("a\r\nb\nc"), (L{"a", "b", "c"}));
  EXPECT_EQ(lines("a\n\n"), (L{"a", ""}));
  EXPECT_EQ(lines("a\rb\r\r\n"), (L{"a\rb\r"}));
  EXPECT_EQ(lines("a\r\nb\x1A" "c\r\n"), (L{"a", "b"})) << "Ctrl-Z ends the text";
  EXPECT_EQ(AutoexecFile::FromText("a\nb\n").text(), "a\r\nb\r\n");

  EXPECT_EQ(AutoexecFile::PathValueStart("SET PATH=C:\\DOS"), std::optional<size_t>(9));
  EXPECT_EQ(AutoexecFile::PathValueStart(" \t@@ sEt \t pAtH="), std::optional<size_t>(16));
  for (const char* line : {"SET PATH = C:\\DOS", "SETPATH=C:\\DOS", "PATH=C:\\DOS", "SET PATHEXT=.COM",
                           "REM SET PATH=x", "SET PATH", "SET"}) {
    EXPECT_EQ(AutoexecFile::PathValueStart(line), std::nullopt) << line;
  }
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
