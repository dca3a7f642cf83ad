// The packaging tool: its description format, the product folder walk and
// the command line, through to the installer's own reading of the result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "blockwriter.h"
#include "cli.h"
#include "description.h"
#include "installerreader.h"
#include "kernel/installinfo.h"
#include "plan.h"
#include "record_samples.h"
#include "scratch.h"
#include "streams_support.h"
#include "util/messages.h"

namespace corv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using ::testing::HasSubstr;
using ::testing::Not;

void WriteText(const fs::path& path, const std::string& text) {
  test::WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

std::string ReadText(const fs::path& path) {
  Bytes b = test::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

std::vector<XString> Names(const RecordBlock& block) {
  std::vector<XString> names;
  for (const RecordFileEntry& e : block.entries) names.push_back(e.name);
  return names;
}

// A description of the package "x" of the product folder, with `keys` in its
// [package] section and the sections `rest`.
std::string Pkg(const std::string& keys, const std::string& rest = "") {
  return "[package]\nname = \"x\"\n" + keys + "[files]\nsource = \"product\"\n" + rest;
}

// Every key of the format, with a value other than its default.
const char kFullDescription[] = R"toml(# every key
[package]
name = "Example Suite"
product = "Example"
kind = "update"
product-key = 'Vendor\Example'
language = "german"
overwrite = "older"
warn-previous-version = true
licence = "licence.txt"
wizard-bitmap = "art/wizard.bmp"
hook-library = "hooks/hooks.dll"
ui-library = "art/resources.dll"
uninstaller = "bin/uninstall.exe"
recorded-file = "bin/app.exe"
path-entry = "bin"
[uninstall-entry]
icon = "bin/app.exe"
version = "2.1.0"
publisher = "Example Corp."
estimated-size = 4096
[destination]
base = "path"
folder = 'C:\Example'
fixed = true
program-folder = "Example Group"
[files]
source = "product"
exclude = ["*.pdb", "tmp"]
[install-run]
program = "bin/setup.exe"
arguments = "/quiet $(Root)"
[after-run]
program = "bin/app.exe"
[primary]
name = "Example Base"
markers = ["bin/app.exe", "base.cfg"]
jre-file = "bin/app.exe"
[jre]
version = "1.4.2_05"
value = 3735928559
names = ["Java 2 Runtime", ""]
[[jre.layout]]
flag = 1
files = [
  { path = "bin/java.exe", size = 24576 },
  { path = "lib/rt.jar", size = 25000000 },
  { path = "bin/old.dll", absent = true },
]
[[jre.layout]]
[[shortcut]]
name = "Example"
target = "bin/app.exe"
arguments = '-root "$(Root)"'
icon = "bin/app.exe"
icon-index = 1
[[shortcut]]
location = "desktop"
name = "Example"
target = "bin/app.exe"
working-folder = ""
icon-index = -3
[[shortcut]]
location = "start-menu"
name = "Tools/Example Tool"
target = "bin/app.exe"
[[shortcut]]
location = "startup"
name = "Example Agent"
target = "bin/app.exe"
arguments = "/background"
[[association]]
extension = "exa"
label = "Example documents"
description = "Example.Document"
program = "bin/app.exe"
[[association]]
extension = "exb"
description = "Example.Backup"
program = "bin/app.exe"
arguments = ""
selected = false
icon = "bin/backup.ico"
[[service]]
executable = "bin/svc.exe"
display-name = "Example Service"
description = "Keeps examples"
interactive = true
dependencies = ["Tcpip", "EventLog"]
[[service]]
executable = "bin/svc.exe"
display-name = "Example Helper"
start = "disabled"
account = "user"
[bind]
script = "xbind.txt"
)toml";

// The record kFullDescription describes, without its blocks.
InstallRecord FullDescriptionRecord() {
  InstallRecord r;
  r.kind = kPackageUpdate;
  r.overwriteMode = OverwritePolicy::kIfOlder;
  r.destinationBase = kBasePath;
  r.noJre = 0;
  r.bindExecutables = true;
  r.language = kLanguageGerman;
  r.warnPreviousVersion = true;
  r.destinationFixed = true;
  r.packageName = u"Example Suite";
  r.productName = u"Example";
  r.primaryName = u"Example Base";
  r.productKey = u"Vendor\\Example";
  r.licenseText = u"Terms\r\nMore terms\r\n";
  r.wizardBitmap = u"wizard.bmp";
  r.uninstallerName = u"bin\\uninstall.exe";
  r.hookLibrary = u"hooks.dll";
  r.recordedFile = u"bin\\app.exe";
  r.installRunProgram = u"bin\\setup.exe";
  r.installRunArguments = u"/quiet $(Root)";
  r.afterRunProgram = u"bin\\app.exe";
  r.afterRunArguments = u"";
  r.defaultDestination = u"C:\\Example";
  r.defaultProgramFolder = u"Example Group";
  r.primaryJreFile = u"bin\\app.exe";
  r.pathEntry = u"bin";
  r.jre.version = u"1.4.2_05";
  r.jre.value = 3735928559u;
  r.jre.names = {u"Java 2 Runtime", u""};
  r.jre.groups = {{1, {{u"bin\\java.exe", 24576}, {u"lib\\rt.jar", 25000000}, {u"bin\\old.dll", -1}}}, {0, {}}};
  r.shortcuts = {
      {kLocationProgramFolder, u"Example", u"bin\\app.exe", 1, u"bin", u"bin\\app.exe", u"-root \"$(Root)\""},
      {kLocationDesktop, u"Example", std::nullopt, -3, u"", u"bin\\app.exe", u""},
      {kLocationStartMenu, u"Tools\\Example Tool", std::nullopt, 0, u"bin", u"bin\\app.exe", u""},
      {kLocationStartup, u"Example Agent", std::nullopt, 0, u"bin", u"bin\\app.exe", u"/background"},
  };
  r.associations = {
      {u"exa", u"Example documents", u"Example.Document", u"bin\\app.exe", u"\"%1\"", true},
      {u"exb", u"Example.Backup", u"Example.Backup", u"bin\\app.exe", u"", false, u"bin\\backup.ico"},
  };
  r.services = {
      {u"bin\\svc.exe", u"Example Service", u"Keeps examples", ServiceEntry::kAutomatic, ServiceEntry::kLocalSystem, true,
       {u"Tcpip", u"EventLog"}},
      {u"bin\\svc.exe", u"Example Helper", u"Example Helper", ServiceEntry::kDisabled, ServiceEntry::kUserAccount, false, {}},
  };
  r.primaryMarkerFiles = {u"bin\\app.exe", u"base.cfg"};
  r.entryDetails = {u"bin\\app.exe", u"2.1.0", u"Example Corp.", 4096};
  return r;
}

class CorvpackTest : public ::testing::Test {
protected:
  void SetUp() override {
    SelectLanguage(kLanguageEnglish);
    // The tool's folder holds the build's files, as in an installed corvpack.
    test::WriteFileBytes(scratch.native("tool/installer.exe"), test::RandomBytes(3000, 1));
    test::WriteFileBytes(scratch.native("tool/xinstres.dll"), test::RandomBytes(500, 2));
    test::WriteFileBytes(scratch.native("tool/shfolder.dll"), test::RandomBytes(300, 3));
    env.toolFolder = scratch.native("tool");
    for (const auto& [path, text] : std::initializer_list<std::pair<const char*, const char*>>{
             {"pkg/licence.txt", "Terms\nMore terms\n"},
             {"pkg/art/wizard.bmp", "BM bitmap"},
             {"pkg/hooks/hooks.dll", "MZ hooks"},
             {"pkg/art/resources.dll", "MZ the vendor's dialogs"},
             {"pkg/xbind.txt", "ROOT Root\nCOMPONENT bin/app.exe\nROOT JRE\n"},
             {"pkg/product/bin/app.exe", "MZ app"},
             {"pkg/product/bin/setup.exe", "MZ setup"},
             {"pkg/product/bin/svc.exe", "MZ service"},
             {"pkg/product/bin/uninstall.exe", "MZ uninstall"},
             {"pkg/product/bin/app.pdb", "symbols"},
             {"pkg/product/tmp/scratch.txt", "left out"},
             {"pkg/product/read me.txt", "Read me"},
         }) {
      scratch.writeFile(path, text);
    }
    fs::create_directories(scratch.native("pkg/product/empty folder"));
  }
  void TearDown() override { ResetLanguage(); }

  std::string P(const std::string& relative) const { return scratch.native(relative).string(); }

  int Run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    return pack::RunCli(args, out, err, env);
  }

  // Writes `text` as pkg/package.toml and builds setup.exe from it.
  int Build(const std::string& text, std::vector<std::string> options = {"-q"}) {
    WriteText(scratch.native("pkg/package.toml"), text);
    std::vector<std::string> args{"build", P("pkg/package.toml"), "-o", P("setup.exe")};
    args.insert(args.end(), options.begin(), options.end());
    return Run(args);
  }

  pack::Description Parse(const std::string& text) {
    return pack::ParseDescription(text, scratch.native("pkg/package.toml"));
  }

  // The problems reported for `text`, one per line.
  std::string Problems(const std::string& text) {
    try {
      Parse(text);
    } catch (const pack::DescriptionError& e) {
      return e.what();
    }
    ADD_FAILURE() << "accepted:\n" << text;
    return std::string();
  }

  ScratchFolder scratch;
  pack::CliEnvironment env;
  std::ostringstream out, err;
};

TEST_F(CorvpackTest, EveryKeyReachesTheRecordAndReadsBackThroughTheInstaller) {
  pack::Description d = Parse(kFullDescription);
  EXPECT_EQ(d.record, FullDescriptionRecord());
  EXPECT_EQ(d.productFolder, scratch.native("pkg/product"));
  EXPECT_EQ(d.exclude, (std::vector<std::string>{"*.pdb", "tmp"}));
  EXPECT_TRUE(d.warnings.empty());

  ASSERT_EQ(Build(kFullDescription), pack::kExitOk) << err.str();
  EXPECT_EQ(out.str(), "");
  File file(scratch.path(u"setup.exe"));
  ASSERT_EQ(file.open(kFileRead), 0);
  InstallInfo info(file);
  InstallRecord expected = FullDescriptionRecord();
  pack::OpenedInstaller opened = pack::OpenInstaller(scratch.native("setup.exe"));
  expected.mainBlock = opened.record.mainBlock;
  expected.auxiliaryBlock = opened.record.auxiliaryBlock;
  test::ExpectInfoMatchesRecord(info, expected);

  // The main files: sorted, folders first of their contents, without the
  // excluded ones; the auxiliary files in their fixed order.
  EXPECT_EQ(Names(opened.record.mainBlock), (std::vector<XString>{u"bin", u"bin\\app.exe", u"bin\\setup.exe",
                                                                  u"bin\\svc.exe", u"bin\\uninstall.exe",
                                                                  u"empty folder", u"read me.txt"}));
  EXPECT_EQ(Names(opened.record.auxiliaryBlock),
            (std::vector<XString>{u"xbind.script", u"xinstres.dll", u"shfolder.dll", u"hooks.dll", u"wizard.bmp"}));

  // The bind script is stored as UTF-16LE text.
  ASSERT_EQ(Run({"extract", P("setup.exe"), "-o", P("auxiliary"), "--auxiliary"}), 0);
  const std::string utf16 = Utf16le(u"ROOT Root\nCOMPONENT bin/app.exe\nROOT JRE\n");
  EXPECT_EQ(test::ReadFileBytes(scratch.native("auxiliary/xbind.script")), Bytes(utf16.begin(), utf16.end()));
  EXPECT_EQ(test::ReadFileBytes(scratch.native("auxiliary/shfolder.dll")), test::ReadFileBytes(scratch.native("tool/shfolder.dll")));
  // The vendor's UI resource library replaces the build's, under the name
  // the installer loads.
  EXPECT_EQ(test::ReadFileBytes(scratch.native("auxiliary/xinstres.dll")),
            test::ReadFileBytes(scratch.native("pkg/art/resources.dll")));
}

TEST_F(CorvpackTest, DefaultsKeepTheCommonCaseShort) {
  const InstallRecord r = Parse("[package]\nname = \"Hello\"\n[files]\nsource = \"product\"\n").record;
  EXPECT_EQ(r.kind, kPackageInstallation);
  EXPECT_EQ(r.productKey, XString(u"Hello"));
  EXPECT_FALSE(r.productName);
  EXPECT_EQ(r.language, 1);
  EXPECT_EQ(r.overwriteMode, 4);
  EXPECT_EQ(r.destinationBase, kBaseProgramFiles);
  EXPECT_EQ(r.defaultDestination, XString(u"Hello"));
  EXPECT_EQ(r.defaultProgramFolder, XString(u"Hello"));
  EXPECT_FALSE(r.destinationFixed);
  EXPECT_EQ(r.noJre, 1);
  EXPECT_FALSE(r.bindExecutables);
  EXPECT_EQ(r.reserved5, 4);
  EXPECT_EQ(r.reserved6, 0);
  EXPECT_FALSE(r.licenseText || r.installRunProgram || r.afterRunProgram || r.uninstallerName);
  EXPECT_TRUE(r.shortcuts.empty() && r.associations.empty() && r.services.empty());
  // false leaves a defaulted string out of the record.
  const InstallRecord none = Parse(Pkg("", "[destination]\nfolder = false\nprogram-folder = false\n")).record;
  EXPECT_FALSE(none.defaultDestination);
  EXPECT_FALSE(none.defaultProgramFolder);
}

TEST_F(CorvpackTest, ProblemsNameFileLineAndKey) {
  const std::string file = P("pkg/package.toml");
  EXPECT_EQ(Problems("[package]\nname = \"x\"\n[files]\nsource = \"product\"\n[[shortcut]]\nname = \"a\"\n"
                     "target = \"a.exe\"\nlocation = \"desktp\"\n"),
            file + ":8:12: error: shortcut[0].location: unknown value \"desktp\"; expected program-folder, desktop, "
                   "start-menu or startup (did you mean \"desktop\"?)");
  EXPECT_EQ(Problems("[package]\nname = \"x\"\nlangauge = \"german\"\n[files]\nsource = \"product\"\n"),
            file + ":3:1: error: package.langauge: unknown key (did you mean \"language\"?)");
  EXPECT_EQ(Problems("[package]\nname = \"x\n"),
            file + ":2:8: error: unterminated string: end it with the quote it begins with, on the same line (a text "
                   "of several lines goes between triple quotes)");
  // Every problem is reported, in file order.
  std::string all = Problems(
      "[pakage]\n"
      "[destination]\nfixed = \"yes\"\nbase = 3\n"
      "[files]\nsource = \"no such folder\"\n"
      "[[association]]\nextension = \".txt\"\nprogram = \"a.exe\"\ndescription = \"t\"\n");
  std::vector<std::string> lines;
  std::istringstream split(all);
  for (std::string line; std::getline(split, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u) << all;
  EXPECT_THAT(lines[4], HasSubstr(":6:10: error: files.source: no such folder: "));
  lines.erase(lines.begin() + 4);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       file + ": error: package: missing; the [package] section with its name is required",
                       file + ":1:2: error: pakage: unknown section or key (did you mean \"package\"?)",
                       file + ":3:9: error: destination.fixed: expected true or false, found a string",
                       file + ":4:8: error: destination.base: expected a string, found an integer",
                       file + ":8:13: error: association[0].extension: write the extension without its dot (\"txt\")",
                   }));
}

TEST_F(CorvpackTest, RefusesWhatTheInstallerCouldNotUseOrWhatCouldTurnAgainstTheTarget) {
  test::WriteFileBytes(scratch.native("pkg/latin1.txt"), Bytes{'c', 0xE9, '\n'});
  WriteText(scratch.native("pkg/art/splash.png"), "\x89PNG picture");
  const std::string breaks = Pkg("product-key = \"A\\nfile C:\\\\boot.ini\"\n",
                                 "[destination]\nfolder = \"a\\rb\"\nprogram-folder = \"c\\u0000d\"\n"
                                 "[[shortcut]]\nname = \"a\\nb\"\ntarget = \"a.exe\"\narguments = \"a\\nb\"\n"
                                 "[[service]]\nexecutable = \"s.exe\"\ndisplay-name = \"S\\nT\"\n");
  const struct {
    std::string text;
    std::vector<std::string> problems;
  } cases[] = {
      {Pkg("", "[package.x]\n"), {"unknown key"}},
      {Pkg("uninstaller = \"../u.exe\"\n"), {"package.uninstaller: must be a relative path inside the destination"}},
      {Pkg("", "[[shortcut]]\nname = 'C:\\x'\ntarget = \"a\"\n"), {"shortcut[0].name: must be"}},
      {Pkg("kind = \"update\"\n"), {"primary.name: missing; an update package names the product it updates"}},
      {Pkg("", "[destination]\nprogram-folder = false\n[[shortcut]]\nname = \"a\"\ntarget = \"a.exe\"\n"),
       {"destination.program-folder: a shortcut goes to the program folder"}},
      {Pkg("", "[[association]]\nextension = \"a\"\nprogram = \"a\"\ndescription = \"d\"\n"
               "[[association]]\nextension = \"A\"\nprogram = \"a\"\ndescription = \"d\"\n"),
       {"association[1].extension: is associated twice"}},
      {Pkg("", "[jre]\nversion = \"1.4\"\n[[jre.layout]]\nfiles = [{ path = \"x\" }]\n"),
       {"jre.layout[0].files[0].size: missing"}},
      {Pkg("", "[jre]\nversion = \"1.4\"\n[[jre.layout]]\nflag = 256\n"), {"out of range 0 to 255"}},
      {Pkg("licence = \"missing.txt\"\n"), {"package.licence: no such file"}},
      {Pkg("licence = \"latin1.txt\"\n"), {"not UTF-8 text"}},
      {"[package]\nname = \"x\"\n", {"files.source: missing"}},
      {Pkg("wizard-bitmap = \"art/splash.png\"\n"), {"package.wizard-bitmap: not a Windows bitmap (.bmp) file"}},
      {Pkg("", "[shortcut]\nname = \"a\"\n"), {"write [[shortcut]]"}},
      {"[package]\nname = \"x\"\n[files]\nsource = \"..\"\n", {"files.source: lies outside"}},
      // Booleans are booleans only.
      {Pkg("", "[destination]\nfixed = 1\nfolder = 0\n"),
       {"destination.fixed: expected true or false, found an integer"}},
      {Pkg("", "[destination]\nfolder = 0\n"), {"destination.folder: expected a string or false"}},
      // Longer than install.log or the registry can take.
      {"[package]\nname = \"" + std::string(600, 'n') + "\"\n[files]\nsource = \"product\"\n",
       {":2:8: error: package.name: is 600 characters long; install.log has room for at most 510 characters"}},
      // install.log keeps these texts one to a line; a shortcut's name is a
      // path as well, where control characters never pass.
      {breaks,
       {"package.product-key: must not contain a line break", "destination.folder: must not contain a line break",
        "service[0].display-name: as the service's description", "shortcut[0].name: the component",
        "destination.program-folder: must not contain a NUL character"}},
  };
  for (const auto& c : cases) {
    const std::string problems = Problems(c.text);
    for (const std::string& problem : c.problems) EXPECT_THAT(problems, HasSubstr(problem)) << c.text;
  }
  EXPECT_THAT(Problems(breaks), Not(HasSubstr("arguments")));

  // Files outside the description's folder, unless allowed.
  WriteText(scratch.native("outside.txt"), "secret");
  fs::create_directory_symlink(scratch.native(""), scratch.native("pkg/up"));
  for (const std::string& licence : {std::string("../outside.txt"), P("outside.txt"), std::string("up/outside.txt")}) {
    const std::string text = Pkg("licence = '" + licence + "'\n");
    EXPECT_THAT(Problems(text), HasSubstr("package.licence: lies outside the description's folder")) << licence;
    EXPECT_EQ(*pack::ParseDescription(text, scratch.native("pkg/package.toml"), std::nullopt, true).record.licenseText,
              u"secret");
  }
}

TEST_F(CorvpackTest, EveryRecordCheckADescriptionReachesIsAnErrorAtItsKey) {
  WriteText(scratch.native("pkg/art/nul.bmp"), "BM");
  const std::string sc = "[[shortcut]]\nname = \"a\"\ntarget = \"a.exe\"\n", as = "[[association]]\nprogram = \"a\"\n";
  const std::pair<std::string, std::string> cases[] = {
      {"[package]\nname = \"x\\ny\"\n[files]\nsource = \"product\"\n", ":2:8: error: package.name: must not contain a line"},
      {Pkg("product = \"" + std::string(511, 'p') + "\"\n"), "package.product: is 511 characters long"},
      {Pkg("product-key = \"" + std::string(256, 'k') + "\"\n"), "package.product-key: holds a key name of 256"},
      {Pkg("wizard-bitmap = \"art/nul.bmp\"\n"), "package.wizard-bitmap: is a name Windows reserves for a device"},
      {Pkg("uninstaller = 'C:\\u.exe'\n"), "package.uninstaller: must be a relative path inside the destination (it names a drive)"},
      {Pkg("recorded-file = \"bin/a.exe.\"\n"), "package.recorded-file: the component \"a.exe.\" ends with a dot or a blank"},
      {Pkg("path-entry = \"/bin\"\n"), "package.path-entry: must be a relative path inside the destination (it begins"},
      {Pkg("", "[install-run]\nprogram = \"../a.exe\"\n"), "install-run.program: must be a relative path inside the destination (\"..\" leads"},
      {Pkg("", "[after-run]\nprogram = \"bin//a.exe\"\n"), "after-run.program: the component \"\" is empty"},
      {Pkg("", "[destination]\nfolder = 'C:\\Acme'\n"), ":6:10: error: destination.folder: must be a relative path inside the program-files folder"},
      {Pkg("", "[destination]\nbase = \"path\"\nfolder = 'C:\\Acme: Desk Tools'\n"), "destination.folder: the component \"Acme: Desk Tools\" holds \":\""},
      {Pkg("", "[destination]\nprogram-folder = \"Acme|Tools\"\n"), "destination.program-folder: the component \"Acme|Tools\" holds \"|\""},
      {Pkg("", "[primary]\njre-file = 'C:\\jre'\n"), "primary.jre-file: must be a relative path inside the primary installation's folder"},
      {Pkg("", "[primary]\nmarkers = [\"ok\", \"LPT1.txt\"]\n"), ":6:11: error: primary.markers[1]: \"LPT1.txt\": the component"},
      {Pkg("", "[uninstall-entry]\nicon = \"a?.ico\"\n"), "uninstall-entry.icon: the component \"a?.ico\" holds \"?\""},
      {Pkg("", "[uninstall-entry]\nversion = \"1\\n2\"\n"), "uninstall-entry.version: must not contain a line break"},
      {Pkg("", "[uninstall-entry]\npublisher = \"a\\rb\"\n"), "uninstall-entry.publisher: must not contain a line break"},
      {Pkg("", "[jre]\nversion = \"1\"\n[[jre.layout]]\nfiles = [{ path = \"../j.exe\", size = 1 }]\n"), "jre.layout[0].files[0].path: must be"},
      {Pkg("", "[[shortcut]]\nname = \"Read me.\"\ntarget = \"a.exe\"\n"), "shortcut[0].name: the component \"Read me.\" ends with a dot"},
      {Pkg("", sc + sc), ":9:8: error: shortcut[1].name: names the same file as shortcut[0].name"},
      {Pkg("", sc + "icon = \"../readme.txt\"\n"), "shortcut[0].icon: must be a relative path inside the destination"},
      {Pkg("", sc + "working-folder = 'C:\\Windows'\n"), "shortcut[0].working-folder: must be a relative path inside the destination"},
      {Pkg("", "[[shortcut]]\nname = \"a\"\ntarget = 'C:\\Windows\\notepad.exe'\n"),
       ":7:10: error: shortcut[0].target: must be a relative path inside the destination (it names a drive)"},
      {Pkg("", as + "extension = \"a/b\"\ndescription = \"d\"\n"), "association[0].extension: holds \"/\", which Windows"},
      {Pkg("", as + "extension = \"" + std::string(256, 'e') + "\"\ndescription = \"d\"\n"), "association[0].extension: holds a key name of 258"},
      {Pkg("", as + "extension = \"e\"\ndescription = \"d\"\n" + as + "extension = \"E\"\ndescription = \"d\"\n"), "association[1].extension: is associated twice"},
      {Pkg("", as + "extension = \"e\"\ndescription = \"a\\nb\"\n"), "association[0].description: must not contain a line break"},
      {Pkg("", "[[association]]\nprogram = \"|\"\nextension = \"e\"\ndescription = \"d\"\n"), "association[0].program: the component"},
      {Pkg("", as + "extension = \"e\"\ndescription = \"d\"\nicon = '..\\e.ico'\n"), "association[0].icon: must be a relative path"},
      {Pkg("", "[[service]]\nexecutable = \"\\\\s\\\\s.exe\"\ndisplay-name = \"S\"\n"), "service[0].executable: must be"},
      {Pkg("", "[[service]]\nexecutable = \"s.exe\"\ndisplay-name = \"S\"\ndescription = \"a\\nb\"\n"), "service[0].description: must not"},
  };
  for (const auto& [text, problem] : cases) EXPECT_THAT(Problems(text), HasSubstr(problem)) << text;
  // Texts the reader would copy out beyond its limit for the record's size.
  std::string many;
  for (int i = 0; i < 30; ++i) {
    many += "[[shortcut]]\nname = \"" + std::to_string(i) + "\"\ntarget = \"a\"\narguments = \"" + std::string(200000, 'a') + "\"\n";
  }
  EXPECT_EQ(Build(Pkg("", many)), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("package.toml: error: the installer would refuse the record this description makes"));

  // What the installer refuses, verify names with its value.
  pack::PackagePlan plan;
  plan.stub = scratch.native("tool/installer.exe");
  plan.record.shortcuts = {{kLocationDesktop, u"a", std::nullopt, 0, u"", u"..\\readme.txt", u""}};
  pack::WriteInstaller(plan, scratch.native("bad.exe"));
  EXPECT_EQ(Run({"verify", P("bad.exe")}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("Invalid or corrupted installation package: the install-info record is refused: "
                                   "shortcut[0].target \"..\\readme.txt\" must be a relative path inside the destination"));
}

TEST_F(CorvpackTest, ErrorTextsSayWhyAndSuggest) {
  EXPECT_THAT(Problems(Pkg("", "[uninstall]\n")), HasSubstr("uninstall: unknown section or key (did you mean \"uninstall-entry\"?)"));
  EXPECT_THAT(Problems(Pkg("language = \"Deutsch\"\n")), HasSubstr("(did you mean \"german\"?)"));
  EXPECT_EQ(Run({"build", P("pkg/none.toml"), "-o", P("y.exe")}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("none.toml: error: cannot read the file: No such file or directory"));
  // Warnings carry a column like errors.
  ASSERT_EQ(Build(Pkg("", "[[shortcut]]\nname = \"a\"\ntarget = \"b.exe\"\n"), {}), pack::kExitOk) << err.str();
  EXPECT_THAT(err.str(), HasSubstr("package.toml:7:10: warning: shortcut[0].target: \"b.exe\" is not a file"));
}

TEST_F(CorvpackTest, ProductFilesThroughLinksOutOfTheDescriptionsFolderNeedAllowOutside) {
  fs::create_directory_symlink("../art", scratch.native("pkg/product/art"));
  ASSERT_EQ(Build(Pkg("")), pack::kExitOk) << err.str();
  WriteText(scratch.native("elsewhere/secret.txt"), "secret");
  fs::create_symlink(scratch.native("elsewhere/secret.txt"), scratch.native("pkg/product/s.txt"));
  fs::create_directory_symlink(scratch.native("elsewhere"), scratch.native("pkg/product/bin/up"));
  EXPECT_EQ(Build(Pkg("")), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr(P("pkg/product/s.txt") + ": error: leads through a symbolic link to " +
                                   fs::canonical(P("elsewhere/secret.txt")).string() + ", outside the description's"));
  EXPECT_THAT(err.str(), HasSubstr(P("pkg/product/bin/up") + ": error: leads through a symbolic link"));
  ASSERT_EQ(Build(Pkg(""), {"-q", "--allow-outside"}), pack::kExitOk) << err.str();
  ASSERT_EQ(Run({"extract", P("setup.exe"), "-o", P("out")}), 0) << err.str();
  EXPECT_EQ(ReadText(scratch.native("out/bin/up/secret.txt")) + ReadText(scratch.native("out/art/wizard.bmp")),
            "secretBM bitmap");
}

TEST_F(CorvpackTest, MessagesShowControlCharactersAsCodesAndHostPathsWithSlashes) {
  WriteText(scratch.native("pkg/product/bad\x1b[2Jname"), "x");
  EXPECT_EQ(Build(Pkg("")), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr(P("pkg/product/bad<1B>[2Jname") + ": error: the name holds a control character"));
  EXPECT_THAT(err.str(), Not(HasSubstr("\x1b")));
  ASSERT_EQ(Build(Pkg("", "exclude = [\"bad*\"]\n")), pack::kExitOk) << err.str();
  fs::create_directories(scratch.native("out"));
  fs::create_directory_symlink(scratch.native("pkg"), scratch.native("out/bin"));
  EXPECT_EQ(Run({"extract", P("setup.exe"), "-o", P("out")}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("corvpack: Unable to write file " + P("out/bin") + ": a symbolic link"));
}

TEST_F(CorvpackTest, TheBuiltinUninstallerGoesAmongTheMainFiles) {
  test::WriteFileBytes(scratch.native("tool/uninstall.exe"), test::RandomBytes(700, 4));
  const std::string keys = "builtin-uninstaller = true\n";
  auto mainFiles = [&] { return Names(pack::OpenInstaller(scratch.native("setup.exe")).record.mainBlock); };
  // By default "uninstall.exe" in the installation folder, in the walk's order.
  ASSERT_EQ(Build(Pkg(keys)), pack::kExitOk) << err.str();
  EXPECT_EQ(pack::OpenInstaller(scratch.native("setup.exe")).record.uninstallerName, XString(u"uninstall.exe"));
  EXPECT_EQ(mainFiles(), (std::vector<XString>{u"bin", u"bin\\app.exe", u"bin\\app.pdb", u"bin\\setup.exe",
                                               u"bin\\svc.exe", u"bin\\uninstall.exe", u"empty folder",
                                               u"read me.txt", u"tmp", u"tmp\\scratch.txt", u"uninstall.exe"}));
  ASSERT_EQ(Run({"extract", P("setup.exe"), "-o", P("main")}), 0);
  EXPECT_EQ(test::ReadFileBytes(scratch.native("main/uninstall.exe")), test::ReadFileBytes(scratch.native("tool/uninstall.exe")));
  // Elsewhere with the folders that lead to it.
  ASSERT_EQ(Build(Pkg(keys + "uninstaller = \"tools/remove/un.exe\"\n")), pack::kExitOk) << err.str();
  std::vector<XString> names = mainFiles();
  auto at = std::find(names.begin(), names.end(), XString(u"tmp\\scratch.txt"));
  ASSERT_NE(at, names.end());
  EXPECT_EQ(std::vector<XString>(at + 1, names.end()),
            (std::vector<XString>{u"tools", u"tools\\remove", u"tools\\remove\\un.exe"}));
  // Never over a file of the product.
  EXPECT_EQ(Build(Pkg(keys + "uninstaller = \"bin/uninstall.exe\"\n")), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("package.builtin-uninstaller: the product holds \"bin\\uninstall.exe\" already"));
}

TEST_F(CorvpackTest, LicenceTextsInTheirEncodings) {
  const std::string toml = Pkg("licence = \"l.txt\"\n");
  WriteText(scratch.native("pkg/l.txt"), "\xEF\xBB\xBF\xC3\xA9t\xC3\xA9\r\nb\rc\n");
  EXPECT_EQ(Parse(toml).record.licenseText, XString(u"\u00e9t\u00e9\r\nb\r\nc\r\n"));
  test::WriteFileBytes(scratch.native("pkg/l.txt"), Bytes{0xFF, 0xFE, 'a', 0, 0xE5, 0x65, '\n', 0});
  EXPECT_EQ(Parse(toml).record.licenseText, XString(u"a\u65e5\r\n"));
}

TEST_F(CorvpackTest, ProductFilesHaveWindowsNamesAndFixedTimes) {
  fs::path product = scratch.native("walk");
  WriteText(product / "b.txt", "b");
  WriteText(product / "a/z.txt", "z");
  WriteText(product / "a/y.txt", "yy");
  test::SetModificationTime(product / "b.txt", 2000000000);
  std::vector<pack::PackageFile> files = pack::CollectProductFiles(product, {}, std::nullopt);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].entry, (RecordFileEntry{u"a", 0, -1}));
  EXPECT_EQ(files[1].entry.name, u"a\\y.txt");
  EXPECT_EQ(files[1].entry.size, 2);
  EXPECT_EQ(files[2].entry.name, u"a\\z.txt");
  EXPECT_EQ(files[3].entry.time, 2000000000);
  // SOURCE_DATE_EPOCH caps the times of newer files.
  EXPECT_EQ(pack::CollectProductFiles(product, {}, 1700000000)[3].entry.time, 1700000000);
  EXPECT_EQ(pack::CollectProductFiles(product, {"a/z*"}, std::nullopt).size(), 3u);

  // Each planted name is refused, then taken away again.
  const struct {
    const char* name;
    const char* problem;
  } refused[] = {
      {"a/Y.TXT", "only in letter case"}, {"what?.txt", "cannot"}, {"aux.h", "device"}, {"a/loop", "leads back"}};
  for (const auto& c : refused) {
    if (std::string(c.name) == "a/loop") {
      fs::create_directory_symlink("..", product / c.name);
    } else {
      WriteText(product / c.name, "x");
    }
    try {
      pack::CollectProductFiles(product, {}, std::nullopt);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const pack::DescriptionError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.problem)) << c.name;
    }
    fs::remove(product / c.name);
  }
}

TEST_F(CorvpackTest, BuildIsReproducibleVerifiesAndTakesTheToolsFilesOrGivenOnes) {
  const std::string hello = "[package]\nname = \"Hello\"\n[files]\nsource = \"product\"\n";
  ASSERT_EQ(Build(hello, {}), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("wrote"));
  fs::rename(scratch.native("setup.exe"), scratch.native("one.exe"));
  ASSERT_EQ(Run({"build", P("pkg/package.toml"), "--output=" + P("two.exe"), "--level", "6"}), 0) << err.str();
  EXPECT_EQ(test::ReadFileBytes(scratch.native("one.exe")), test::ReadFileBytes(scratch.native("two.exe")));

  EXPECT_EQ(Run({"verify", P("one.exe")}), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr(": OK, 7 main files (58 bytes) in 3 folders, 2 auxiliary files"));
  EXPECT_EQ(Run({"list", P("one.exe")}), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("package               Hello\n"));
  EXPECT_THAT(out.str(), HasSubstr("read me.txt"));
  EXPECT_THAT(out.str(), HasSubstr("xinstres.dll"));
  ASSERT_EQ(Run({"extract", P("one.exe"), "-o", P("out")}), 0) << err.str();
  EXPECT_EQ(ReadText(scratch.native("out/read me.txt")), "Read me");
  EXPECT_TRUE(fs::is_directory(scratch.native("out/empty folder")));
  EXPECT_EQ(test::ModificationTime(scratch.native("out/bin/app.exe")),
            test::ModificationTime(scratch.native("pkg/product/bin/app.exe")));

  // The build's own files can be left out or given instead.
  ASSERT_EQ(Build(hello, {"--no-ui-library", "--no-shfolder", "-q"}), 0) << err.str();
  EXPECT_TRUE(pack::OpenInstaller(P("setup.exe")).record.auxiliaryBlock.entries.empty());
  Bytes file = test::ReadFileBytes(P("setup.exe"));
  Bytes stub = test::ReadFileBytes(scratch.native("tool/installer.exe"));
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), file.begin()));
  test::WriteFileBytes(scratch.native("other stub.exe"), Bytes(64, 'S'));
  ASSERT_EQ(Build(hello, {"--stub", P("other stub.exe"), "--shfolder", P("tool/xinstres.dll"), "-q"}), 0) << err.str();
  EXPECT_EQ(test::ReadFileBytes(P("setup.exe"))[0], 'S');
  EXPECT_EQ(pack::OpenInstaller(P("setup.exe")).record.auxiliaryBlock.entries.size(), 2u);
  env.toolFolder = scratch.native("nowhere");
  EXPECT_EQ(Build(hello, {}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("cannot find the installer stub installer.exe"));
}

TEST_F(CorvpackTest, TheBindScriptIsReadAsTheInstallerReadsIt) {
  const std::string toml = Pkg("", "[bind]\nscript = \"xbind.txt\"\n");
  const std::string script = P("pkg/xbind.txt");
  WriteText(script, "ROOT Root\n  COMPONENT bin/app.exe APEND\nROOT JRE\n");
  EXPECT_EQ(Build(toml, {}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr(script + ":2:30: error: the installer cannot read this statement: "
                                            "Invalid file xbind.txt at 2:29."));
  EXPECT_FALSE(fs::exists(scratch.native("setup.exe")));

  WriteText(script, "ROOT Root\nCOMPONENT bin/app.exe\n");
  EXPECT_EQ(Build(toml, {}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr(script + ": error: the installer cannot bind without a root \"JRE\""));

  WriteText(script, "ROOT Root\nCOMPONENT bin\\App.exe\nCOMPONENT bin/gone.exe\nROOT JRE\n");
  ASSERT_EQ(Build(toml, {}), 0) << err.str();
  EXPECT_THAT(err.str(), Not(HasSubstr("App.exe")));
  EXPECT_THAT(err.str(), HasSubstr(script + ": warning: component \"bin/gone.exe\" of root \"Root\" is not a file "
                                            "of the package"));
}

TEST_F(CorvpackTest, TheExamplesOfTheFormatsDocumentationAreValid) {
  // The test data folder is tests/data of the source tree.
  fs::path root = (fs::path(CORV_TEST_DATA) / ".." / "..").lexically_normal();
  std::string doc = ReadText(root / "docs" / "package-format.md");
  fs::create_directories(scratch.native("pkg/dist"));
  size_t examples = 0;
  for (size_t at = doc.find("```toml\n"); at != std::string::npos; at = doc.find("```toml\n", at)) {
    at += 8;
    size_t end = doc.find("```", at);
    ASSERT_NE(end, std::string::npos);
    std::string text = doc.substr(at, end - at);
    try {
      Parse(text);
    } catch (const pack::DescriptionError& e) {
      ADD_FAILURE() << e.what() << "\nin\n" << text;
    }
    ++examples;
  }
  EXPECT_EQ(examples, 2u);
}

TEST_F(CorvpackTest, ExitCodesAndMessages) {
  EXPECT_EQ(Run({"--help"}), pack::kExitOk);
  EXPECT_THAT(out.str(), HasSubstr("Usage: corvpack COMMAND"));
  EXPECT_EQ(Run({"--version"}), pack::kExitOk);
  const struct {
    std::vector<std::string> args;
    const char* message;
  } usages[] = {
      {{}, "Try 'corvpack --help'"},
      {{"pack", "x"}, ""},
      {{"build", "x.toml"}, "build needs -o OUTPUT.exe"},
      {{"build", "x.toml", "-o"}, ""},
      {{"build", "x.toml", "-o", "y", "--level", "12"}, ""},
      {{"build", "x.toml", "-o", "y", "--fast"}, ""},
      {{"list"}, ""},
      {{"extract", "x.exe"}, ""},
  };
  for (const auto& c : usages) {
    EXPECT_EQ(Run(c.args), pack::kExitUsage) << ::testing::PrintToString(c.args);
    EXPECT_THAT(err.str(), HasSubstr(c.message));
  }

  EXPECT_EQ(Run({"build", P("missing.toml"), "-o", P("y.exe")}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr("missing.toml: error: cannot read the file"));
  EXPECT_FALSE(fs::exists(scratch.native("y.exe")));

  const std::string stub = P("tool/installer.exe");
  for (const char* command : {"list", "verify"}) {
    EXPECT_EQ(Run({command, stub}), pack::kExitFailed);
    EXPECT_EQ(err.str(), "corvpack: " + stub +
                             ": Invalid or corrupted installation package: no package trailer at the end of the file\n");
  }
  EXPECT_EQ(Run({"extract", stub, "-o", P("x")}), pack::kExitFailed);
  EXPECT_FALSE(fs::exists(scratch.native("x")));

  // An auxiliary file whose name Windows takes for a device.
  WriteText(scratch.native("pkg/aux.dll"), "MZ");
  EXPECT_EQ(Build(Pkg("hook-library = \"aux.dll\"\n"), {}), pack::kExitFailed);
  EXPECT_THAT(err.str(), HasSubstr(":3:16: error: package.hook-library: is a name Windows reserves for a device"));
  EXPECT_FALSE(fs::exists(scratch.native("setup.exe")));
}

TEST_F(CorvpackTest, TheBuildNeverWritesThroughAPlantedLinkNorControlCharactersToTheTerminal) {
  // An overflowing SOURCE_DATE_EPOCH is no time; the output's temporary file
  // is made new, never written through a planted link.
  const std::string toml = Pkg("product = \"A\\u001b[2Jb\"\n");
  env.sourceDateEpoch = "99999999999999999999";
  EXPECT_EQ(Build(toml, {}), pack::kExitUsage);
  EXPECT_THAT(err.str(), HasSubstr("SOURCE_DATE_EPOCH is out of range"));
  env.sourceDateEpoch.clear();
  const std::string output = P("setup.exe");
  WriteText(scratch.native("victim.txt"), "keep");
  fs::create_symlink(scratch.native("victim.txt"), output + ".part");
  ASSERT_EQ(Build(toml), pack::kExitOk) << err.str();
  EXPECT_EQ(test::ReadFileBytes(scratch.native("victim.txt")), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::exists(output + ".part"));
  EXPECT_EQ(Run({"verify", output, "-q"}), pack::kExitOk) << err.str();
  // list shows control characters as their codes, not to the terminal.
  ASSERT_EQ(Run({"list", output}), pack::kExitOk) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("product               A<1B>[2Jb\n"));
  EXPECT_THAT(out.str(), Not(HasSubstr("\x1b")));
}

}  // namespace
}  // namespace corv
