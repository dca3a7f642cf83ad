#include "xbind/bindscript.h"
#include "xbind/bintoolkit.h"

#include <gtest/gtest.h>

#include "scratch.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "util/messages.h"

namespace corv {
namespace {

class BindScriptTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  // Where parsing `text` stops: "line:column", or "accepted".
  static std::string ErrorAt(const XString& text) {
    try {
      BindScript::Parse(u"xbind.script", text);
    } catch (const BindScriptError& e) {
      return std::to_string(e.line()) + ":" + std::to_string(e.column());
    }
    return "accepted";
  }

  ScratchFolder scratch;
};

TEST_F(BindScriptTest, ReadsEveryLineEndCommentAndTokenForm) {
  const XString text =
      u"# a comment, even with COMPONENT in it\r\n"
      u"ROOT Root\n"
      u"\t \n"
      u"  COMPONENT bin\\app.exe\r"
      u"    DLL \"MSVCRT.DLL\" = \"$(Root)\\lib\\msvc rt.dll\"\r\n"
      u"    JRE $(JRE)\n"
      u"    KORVMPROP 'a=\\'b\\' \\\"c\\\" \\\\d\\ne \\x'\n"
      u"  COMPONENT \"lib\\my lib.dll\"APPEND tokens after it are ignored\n"
      u"ROOT=JRE";
  // The file is UTF-16LE without a byte-order mark; an odd last byte is
  // ignored.
  std::string bytes = Utf16le(text) + "\x41";
  scratch.writeFile("xbind.script", bytes);
  File file(scratch.path(u"xbind.script"));
  BindScript script = BindScript::Read(file);
  EXPECT_FALSE(file.isOpen());

  ASSERT_EQ(script.roots().size(), 2u);
  const BindRoot& root = *script.roots()[0];
  EXPECT_EQ(root.name(), u"Root");
  EXPECT_EQ(script.roots()[1]->name(), u"JRE");
  EXPECT_TRUE(script.roots()[1]->components().empty());
  ASSERT_EQ(root.components().size(), 2u);

  const BindComponent& app = root.components()[0];
  EXPECT_EQ(&app.root(), &root);
  EXPECT_EQ(app.path(), u"bin\\app.exe");
  EXPECT_FALSE(app.append());
  ASSERT_EQ(app.items().size(), 3u);
  EXPECT_EQ(app.items()[0].kind, BindItem::kDLLRedirection);
  EXPECT_EQ(app.items()[0].library, u"MSVCRT.DLL");
  EXPECT_EQ(app.items()[0].text, u"$(Root)\\lib\\msvc rt.dll");
  EXPECT_EQ(app.items()[1].kind, BindItem::kRuntimeHome);
  EXPECT_EQ(app.items()[1].text, u"$(JRE)");
  EXPECT_EQ(app.items()[2].kind, BindItem::kVMProperty);
  EXPECT_EQ(app.items()[2].text, u"a='b' \"c\" \\d\ne \\x");

  const BindComponent& lib = root.components()[1];
  EXPECT_EQ(lib.path(), u"lib\\my lib.dll");
  EXPECT_TRUE(lib.append());
  EXPECT_TRUE(lib.items().empty());

  // The text ends at a zero character.
  EXPECT_EQ(ErrorAt(XString(u"ROOT Root\n", 10) + XString(1, u'\0') + u"BROKEN"), "accepted");
}

TEST_F(BindScriptTest, RefusesStatementsWithLineAndColumn) {
  EXPECT_EQ(ErrorAt(u"COMPONENT app.exe\n"), "1:9");
  EXPECT_EQ(ErrorAt(u"ROOT Root\n\nROOT Other\r\nROOT Root extra\n"), "4:9");
  EXPECT_EQ(ErrorAt(u"ROOT Root\n  UNKNOWN x\n"), "2:9");
  EXPECT_EQ(ErrorAt(u"ROOT Root\n  # indented is no comment\n"), "2:3");
  EXPECT_EQ(ErrorAt(u"ROOT Root\rCOMPONENT a.exe ADD\r"), "2:19");
  EXPECT_EQ(ErrorAt(u"ROOT Root\nKORVMPROP 'x'\n"), "2:9");
  EXPECT_EQ(ErrorAt(u"ROOT Root\nCOMPONENT a.exe\nDLL \"X.DLL\"\n"), "3:11");
  EXPECT_EQ(ErrorAt(u"ROOT\n"), "1:4");
  EXPECT_EQ(ErrorAt(u"ROOT =  \n"), "1:8");
  // Unterminated quotes stop at the end of their line.
  EXPECT_EQ(ErrorAt(u"ROOT Root\r\nCOMPONENT a.exe\r\nDLL \"X.DLL\r\n\"\r\n"), "3:10");
  EXPECT_EQ(ErrorAt(u"ROOT Root\nCOMPONENT a.exe\nJRE 'abc\\'\nx'\n"), "3:10");
  // No root at all: where the text ends.
  EXPECT_EQ(ErrorAt(u"# only\r\n# comments\r\n"), "3:0");
  EXPECT_EQ(ErrorAt(u""), "1:0");
  EXPECT_EQ(ErrorAt(u"ROOT a\nROOT b\n"), "accepted");

  try {
    BindScript::Parse(u"C:\\Temp\\xbind.script", u"ROOT Root\nBIND x\n");
    FAIL() << "accepted";
  } catch (const FatalError& e) {
    EXPECT_EQ(ToUtf8(e.message()), "Invalid file C:\\Temp\\xbind.script at 2:4.");
  }
}

TEST_F(BindScriptTest, ScriptThatCannotBeReadIsFatalError1102) {
  File missing(scratch.path(u"none.script"));
  try {
    BindScript::Read(missing);
    FAIL() << "read a missing script";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"Unable to read file " + missing.widePath());
  }
}

TEST_F(BindScriptTest, ComponentsOutsideTheirFolderAreRefusedBeforeAnythingIsRewritten) {
  scratch.writeFile("dest/app.exe", "MZ not a program");
  scratch.writeFile("victim.exe", "MZ belongs to someone else");
  for (const char* path : {"..\\victim.exe", "C:\\victim.exe", "\\victim.exe", "bin\\..\\..\\victim.exe"}) {
    std::string text = std::string("ROOT Root\r\nCOMPONENT app.exe\r\nKORVMPROP 'a=b'\r\nCOMPONENT ") + path +
                       "\r\nROOT JRE\r\n";
    std::string bytes;
    for (char c : text) bytes += std::string{c, '\0'};
    scratch.writeFile("xbind.script", bytes);
    try {
      Bind(scratch.path(u"xbind.script"), scratch.path(u"dest"), std::nullopt);
      ADD_FAILURE() << "bound " << path;
    } catch (const FatalError& e) {
      EXPECT_EQ(ToUtf8(e.message()), std::string("Invalid relative path ") + path);
    }
    EXPECT_EQ(scratch.readFile("dest/app.exe"), "MZ not a program");
    EXPECT_EQ(scratch.readFile("victim.exe"), "MZ belongs to someone else");
  }
}

class ResolveRootsTest : public BindScriptTest {
protected:
  ResolveRootsTest()
      : script(BindScript::Parse(u"xbind.script",
                                 u"ROOT Root\nCOMPONENT bin\\app.exe\nCOMPONENT app.exe\nCOMPONENT ..\\out.exe\n"
                                 u"ROOT JRE\nCOMPONENT bin/java.exe\nROOT Other\n")) {
    script.findRoot(u"Root")->locate(XString(u"C:\\Dest"), false);
    script.findRoot(u"JRE")->locate(XString(u"C:\\Java"), true);
  }

  XString Resolve(const BindComponent& component, const XString& text) {
    return ResolveRoots(script, component, text);
  }
  std::string Failure(const BindComponent& component, const XString& text) {
    try {
      return "resolved " + ToUtf8(Resolve(component, text));
    } catch (const FatalError& e) {
      return ToUtf8(e.message());
    }
  }

  BindScript script;
  const BindComponent& inBin = script.roots()[0]->components()[0];
  const BindComponent& atRoot = script.roots()[0]->components()[1];
  const BindComponent& outside = script.roots()[0]->components()[2];
  const BindComponent& java = script.roots()[1]->components()[0];
};

TEST_F(ResolveRootsTest, OwnRootIsRelativeOtherRootsNeedADefinedLocation) {
  EXPECT_EQ(Resolve(inBin, u"$(Root)\\lib\\x.dll"), u"*{comp.dir}\\..\\lib\\x.dll");
  EXPECT_EQ(Resolve(atRoot, u"$(Root)\\lib\\x.dll"), u"*{comp.dir}\\lib\\x.dll");
  EXPECT_EQ(Resolve(inBin, u"-cp $(JRE)\\lib;$(Root)"), u"-cp C:\\Java\\lib;*{comp.dir}\\..");
  EXPECT_EQ(Resolve(java, u"$(JRE)\\x"), u"*{comp.dir}\\..\\x");
  EXPECT_EQ(Resolve(atRoot, u"costs $5, $(unclosed"), u"costs $5, $(unclosed");
  EXPECT_EQ(Resolve(atRoot, u"$$(JRE)$"), u"$C:\\Java$");

  EXPECT_EQ(Failure(atRoot, u"$(Nope)"), "Unable to bind app.exe: root Nope is undefined");
  EXPECT_EQ(Failure(atRoot, u"$(Other)"), "Unable to bind app.exe: location of root Other is undefined");
  // "Root" is located but not defined: only its own components use it.
  EXPECT_EQ(Failure(java, u"$(Root)"), "Unable to bind bin/java.exe: location of root Root is undefined");
  EXPECT_EQ(Failure(outside, u"$(Root)"), "Invalid relative path ..\\out.exe");
  EXPECT_EQ(Failure(outside, u"no reference"), "resolved no reference");

  // Without a chosen runtime a reference to "JRE" cannot be bound.
  script.findRoot(u"JRE")->locate(std::nullopt, true);
  EXPECT_EQ(Failure(inBin, u"$(JRE)"), "Unable to bind bin\\app.exe: location of root JRE is undefined");
}

}  // namespace
}  // namespace corv
