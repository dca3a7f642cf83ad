#include "kernel/installinfo.h"

#include <gtest/gtest.h>

#include "packagewriter.h"
#include "record_samples.h"
#include "scratch.h"
#include "streams_support.h"
#include "util/exceptions.h"
#include "util/filesys.h"
#include "util/messages.h"

namespace corv {
namespace {

using test::FullRecord;
using test::MinimalRecord;

// A fixed policy stands in for the front end's asking one.
class AskingPolicy : public AbstractOverwritePolicy {
public:
  bool decide(File&, FileTime, int64_t) override { return false; }
};

pack::PackageFile Content(const XString& name, FileTime time, const std::string& bytes) {
  pack::PackageFile f;
  f.entry = {name, time, static_cast<int64_t>(bytes.size())};
  f.content.assign(bytes.begin(), bytes.end());
  return f;
}

pack::PackageFile Folder(const XString& name) {
  pack::PackageFile f;
  f.entry = {name, 0, -1};
  return f;
}

class InstallInfoTest : public ::testing::Test {
protected:
  void SetUp() override { SelectLanguage(kLanguageEnglish); }
  void TearDown() override { ResetLanguage(); }

  // Writes an installer of `record` with the given blocks behind a small
  // stub; returns the record as written (with its block descriptors).
  InstallRecord Build(const InstallRecord& record, std::vector<pack::PackageFile> main,
                      std::vector<pack::PackageFile> aux = {}) {
    test::WriteFileBytes(scratch.native("stub.exe"), std::vector<uint8_t>(777, 0x4D));
    pack::PackagePlan plan;
    plan.stub = scratch.native("stub.exe");
    plan.record = record;
    plan.mainFiles = std::move(main);
    plan.auxiliaryFiles = std::move(aux);
    plan.level = 0;
    return pack::WriteInstaller(plan, scratch.native("setup.exe"));
  }

  // Reads the installer written by Build the way the installer does.
  std::unique_ptr<InstallInfo> Read() {
    File file(scratch.path(u"setup.exe"));
    EXPECT_EQ(file.open(kFileRead), 0);
    return std::make_unique<InstallInfo>(file);
  }

  ScratchFolder scratch;
};

TEST_F(InstallInfoTest, ReadsEveryFieldOfAnInstallerBackAndRefusesBadOnes) {
  std::vector<pack::PackageFile> main = {Folder(u"bin"), Content(u"bin\\app.exe", 1600000000, "MZ app"),
                                         Content(u"bin\\empty.txt", 1600000001, ""),
                                         Content(u"docs\\\u00e9t\u00e9.txt", -5, "summer")};
  std::vector<pack::PackageFile> aux = {Content(u"xbind.script", 7, "ROOT Root"),
                                        Content(u"hooks.dll", 8, "MZ hooks"), Content(u"wizard.bmp", 9, "BM")};
  for (uint8_t kind : {kPackageUpdate, kPackageInstallation}) {
    InstallRecord r = FullRecord();
    r.kind = static_cast<PackageKind>(kind);
    InstallRecord written = Build(r, main, aux);
    std::unique_ptr<InstallInfo> info = Read();
    test::ExpectInfoMatchesRecord(*info, written);
    EXPECT_EQ(info->record().isUpdate(), kind == kPackageUpdate);
    EXPECT_EQ(info->record().isInstallation(), kind == kPackageInstallation);
    EXPECT_EQ(info->record().productOrPackageName(), r.productName);
  }

  InstallRecord none;  // nothing at all: every string absent, every table empty
  none.noJre = 1;
  InstallRecord written = Build(none, {});
  std::unique_ptr<InstallInfo> info = Read();
  test::ExpectInfoMatchesRecord(*info, written);
  EXPECT_EQ(info->mainFiles().count(), 0u);
  EXPECT_EQ(info->auxiliaryFiles().count(), 0u);
  EXPECT_FALSE(info->record().productOrPackageName());
  EXPECT_FALSE(info->choices().destination);
  EXPECT_FALSE(info->choices().programFolder);
  EXPECT_FALSE(info->defaultDestination());

  // Refused: a file name that climbs out of the destination, a file without
  // a package.
  Build(MinimalRecord(), {Content(u"..\\..\\evil.exe", 0, "MZ")});
  try {
    Read();
    ADD_FAILURE() << "accepted";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), LoadMessage(1181));
  }
  test::WriteFileBytes(scratch.native("setup.exe"), std::vector<uint8_t>(100, 0));
  EXPECT_THROW(Read(), FatalError);
}

TEST_F(InstallInfoTest, NamesLogsKindsAndPrograms) {
  // The product name falls back to the package name.
  InstallRecord r = MinimalRecord();
  r.language = kLanguageFrench;
  InstallInfo info(r);
  EXPECT_EQ(info.record().productOrPackageName(), XString(u"Hello"));
  EXPECT_FALSE(info.record().productName);
  EXPECT_EQ(info.installLog().productName(), u"Hello");
  // The logs carry the language; the temporary-files log is nameless.
  EXPECT_EQ(info.installLog().logInteger(), 4);
  EXPECT_EQ(info.installLog().recordCount(), 0u);
  EXPECT_FALSE(info.tempLog().hasProductName());
  r.productName = u"Hello Product";
  InstallInfo named(r);
  EXPECT_EQ(named.record().productOrPackageName(), XString(u"Hello Product"));
  EXPECT_EQ(named.installLog().productName(), u"Hello Product");

  // Kind 3 is an assertion, other kinds are neither.
  r.kind = static_cast<PackageKind>(3);
  InstallInfo three(r);
  EXPECT_THROW(three.record().isInstallation(), AssertionFailedError);
  EXPECT_THROW(three.record().isUpdate(), AssertionFailedError);
  r.kind = static_cast<PackageKind>(9);
  InstallInfo nine(r);
  EXPECT_FALSE(nine.record().isInstallation());
  EXPECT_FALSE(nine.record().isUpdate());

  // A program without arguments is an assertion.
  r = MinimalRecord();
  r.afterRunProgram = u"hello.exe";
  EXPECT_THROW(InstallInfo{r}, AssertionFailedError);
  r.afterRunArguments = u"";
  EXPECT_NO_THROW(InstallInfo{r});
}

TEST_F(InstallInfoTest, DefaultDestinationByBase) {
  InstallRecord r = MinimalRecord();
  r.defaultDestination = u"Hello App";
  r.destinationBase = kBaseSystemDrive;
  XString driveRoot = FileSys::SystemDriveRoot().widePath();
  EXPECT_EQ(InstallInfo(r).defaultDestination(), FileSys::MakeAbsolutePath(u"Hello App", driveRoot));

  r.destinationBase = kBaseProgramFiles;
  std::optional<Directory> programFiles = FileSys::ProgramFilesFolder();
  XString expected = programFiles ? FileSys::MakeAbsolutePath(u"Hello App", programFiles->widePath())
                                  : FileSys::MakeAbsolutePath(u"Hello App", FileSys::CurrentFolder().widePath());
  InstallInfo below(r);
  EXPECT_EQ(below.defaultDestination(), expected);
  // The destination starts as the default destination.
  ASSERT_TRUE(below.choices().destination);
  EXPECT_EQ(below.choices().destination->widePath(), expected);

  r.destinationBase = kBasePath;
  r.defaultDestination = u"C:\\Apps\\Hello";
  EXPECT_EQ(InstallInfo(r).defaultDestination(), FileSys::MakeAbsolutePath(u"C:\\Apps\\Hello"));

  r.destinationBase = static_cast<DestinationBase>(7);
  EXPECT_THROW(InstallInfo{r}, AssertionFailedError);
  r.defaultDestination = std::nullopt;
  EXPECT_FALSE(InstallInfo(r).defaultDestination());
}

TEST_F(InstallInfoTest, OverwritePolicyByMode) {
  AskingPolicy asking;
  InstallRecord r = MinimalRecord();
  r.overwriteMode = OverwritePolicy::kAsk;
  InstallInfo ask(r);
  EXPECT_EQ(&ask.overwritePolicy(asking), &asking);
  for (uint8_t mode : {1, 2, 3}) {
    r.overwriteMode = static_cast<OverwritePolicy::Mode>(mode);
    InstallInfo info(r);
    auto* fixed = dynamic_cast<OverwritePolicy*>(&info.overwritePolicy(asking));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->mode(), mode);
    EXPECT_EQ(dynamic_cast<OverwritePolicy*>(&info.overwritePolicy(asking))->mode(), mode);
  }
}

TEST_F(InstallInfoTest, SummaryTextPieces) {
  InstallRecord r = MinimalRecord();
  r.noJre = 0;
  r.jre.version = u"1.4.2";
  r.defaultProgramFolder = u"Hello Group";
  InstallInfo info(r);
  info.choices().setDestination(XString(u"C:\\P"));
  AnsiString destination = FormatMessageText(1161, info.choices().destination->widePath());
  EXPECT_EQ(info.summaryText(), destination);
  // A program folder without a shortcut going there is not shown.
  EXPECT_TRUE(info.choices().programFolder);

  info.choices().setJreFolder(XString(u"C:\\Java"), false);
  EXPECT_EQ(info.summaryText(), destination + FormatMessageText(1162, XString(u"1.4.2"), XString(u"C:\\Java")));
  info.choices().setJreFolder(XString(u"C:\\Java"), true);
  EXPECT_EQ(info.summaryText(), destination);

  r.shortcuts = {{kLocationProgramFolder, u"A", std::nullopt, 0, u"", u"a.exe", u""},
                 {kLocationDesktop, u"B", std::nullopt, 0, u"", u"a.exe", u""},
                 {kLocationStartMenu, u"C", std::nullopt, 0, u"", u"a.exe", u""}};
  InstallInfo all(r);
  all.choices().setDestination(XString(u"C:\\P"));
  all.choices().programFolder = XString(u"Chosen");
  AnsiString pieces = FormatMessageText(1163, XString(u"Chosen")) + FormatMessageText(1164) + FormatMessageText(1165);
  EXPECT_EQ(all.summaryText(), destination + pieces);
  all.infrastructure().setLocationEnabled(kLocationDesktop, false);
  all.infrastructure().setLocationEnabled(kLocationStartMenu, false);
  EXPECT_EQ(all.summaryText(), destination + FormatMessageText(1163, XString(u"Chosen")));

  InstallInfo noJre(MinimalRecord());
  noJre.choices().setDestination(XString(u"C:\\P"));
  noJre.choices().setJreFolder(XString(u"C:\\Java"), false);
  EXPECT_THROW(noJre.summaryText(), AssertionFailedError);
}

TEST_F(InstallInfoTest, RepresentableInCodePageChecksEveryText) {
  const XString bad(1, static_cast<XChar>(0xD800));  // a lone surrogate
  if (IsAnsiConvertible(bad)) GTEST_SKIP() << "this system converts every text";
  InstallRecord good = FullRecord();
  EXPECT_TRUE(InstallInfo(good).representableInCodePage());
  std::vector<std::function<void(InstallRecord&)>> edits = {
      [&](InstallRecord& r) { r.packageName = bad; },
      [&](InstallRecord& r) { r.productKey = bad; },
      [&](InstallRecord& r) { r.recordedFile = bad; },
      [&](InstallRecord& r) { r.licenseText = u"x" + bad; },
      [&](InstallRecord& r) { r.pathEntry = bad; },
      [&](InstallRecord& r) { r.primaryJreFile = bad; },
      [&](InstallRecord& r) { r.installRunArguments = bad; },
      [&](InstallRecord& r) { r.afterRunProgram = bad; },
      [&](InstallRecord& r) { r.shortcuts[1].workingFolder = bad; },
      [&](InstallRecord& r) { r.shortcuts[2].arguments = bad; },
      [&](InstallRecord& r) { r.mainBlock.entries[2].name = bad; },
      [&](InstallRecord& r) { r.services[1].description = bad; },
      // Every name that becomes a path.
      [&](InstallRecord& r) { r.auxiliaryBlock.entries[1].name = bad; },
      [&](InstallRecord& r) { r.shortcuts[0].iconFile = bad; },
      [&](InstallRecord& r) { r.associations[1].program = bad; },
      [&](InstallRecord& r) { r.primaryMarkerFiles[1] = bad; },
  };
  for (size_t i = 0; i < edits.size(); ++i) {
    InstallRecord r = good;
    edits[i](r);
    EXPECT_FALSE(InstallInfo(r).representableInCodePage()) << "edit " << i;
  }
  // Texts the check leaves out: association texts and the JRE version.
  InstallRecord r = good;
  r.associations[0].label = bad;
  r.jre.version = bad;
  EXPECT_TRUE(InstallInfo(r).representableInCodePage());
}

TEST_F(InstallInfoTest, RunChoicesAndTheRootMarker) {
  InstallInfo info(MinimalRecord());
  EXPECT_THROW(info.choices().installProfile(), AssertionFailedError);
  info.choices().setInstallProfile(kProfilePersonal);
  EXPECT_EQ(info.choices().installProfile(), 2);
  EXPECT_THROW(info.choices().setInstallProfile(3), AssertionFailedError);
  EXPECT_THROW(info.choices().setInstallProfile(0), AssertionFailedError);
  EXPECT_EQ(info.choices().installProfile(), 2);
  EXPECT_FALSE(info.choices().rebootRequired);

  ServiceEntry service;
  service.interactive = true;
  service.SetAccount(ServiceEntry::kLocalSystem, u"", u"");
  EXPECT_TRUE(service.interactive);
  service.SetAccount(ServiceEntry::kUserAccount, u"me", u"secret");
  EXPECT_FALSE(service.interactive);
  EXPECT_EQ(service.userName, u"me");
  EXPECT_THROW(service.SetAccount(3, u"", u""), AssertionFailedError);

  info.choices().setDestination(XString(u"C:\\P"));
  info.choices().setDestination(std::nullopt);
  EXPECT_FALSE(info.choices().destination);

  EXPECT_EQ(InstallInfo::Current(), nullptr);
  {
    InstallInfo current(MinimalRecord());
    InstallInfo::SetCurrent(&current);
    EXPECT_EQ(InstallInfo::Current(), &current);
  }
  EXPECT_EQ(InstallInfo::Current(), nullptr);
}

TEST_F(InstallInfoTest, StartUpUnpacksTheAuxiliaryFilesIntoATemporaryFolder) {
  InstallRecord r = MinimalRecord();
  Build(r, {Content(u"hello.exe", 1600000000, "MZ hello")},
        {Content(u"xbind.script", 1500000000, "ROOT Root"), Folder(u"res"),
         Content(u"res\\xinstres.dll", 1500000001, "MZ resources")});
  std::unique_ptr<InstallInfo> info = Read();
  File package(scratch.path(u"setup.exe"));
  ASSERT_EQ(package.open(kFileRead), 0);
  info->createTempFolder();
  ASSERT_TRUE(info->tempFolder());
  info->extractAuxiliaryFiles(package);
  File script(*info->tempFolder(), XString(u"xbind.script"));
  File library(*info->tempFolder(), XString(u"res\\xinstres.dll"));
  EXPECT_EQ(script.size(), 9);
  EXPECT_EQ(script.modificationTime(), 1500000000);
  EXPECT_EQ(library.size(), 12);
  // Nothing of the main files comes out here.
  EXPECT_FALSE(File(*info->tempFolder(), XString(u"hello.exe")).exists());
  // The temporary-files log takes it all away again.
  Directory temp = *info->tempFolder();
  EXPECT_FALSE(info->tempLog().Undo());
  EXPECT_FALSE(temp.exists());
}

}  // namespace
}  // namespace corv
