// The installer's own steps: the package inside the installer's file, its
// install-info record, the extraction, and the system integration.
#include "app/packagesteps.h"

#include "util/win32/corvwindows.h"

#include <algorithm>

#include "infrastructure/integrator.h"
#include "infrastructure/servicecontrol.h"
#include "kernel/installinfo.h"
#include "kernel/changejournal.h"
#include "kernel/uiprogressupdater.h"
#include "kernel/userinterface.h"
#include "unpacker/decompressor.h"
#include "util/environment.h"
#include "util/exceptions.h"
#include "util/hooklibrary.h"
#include "util/filesys.h"
#include "util/messages.h"
#include "util/sha256.h"
#include "util/win32/system.h"
#include "xbind/bindscript.h"
#include "xbind/bintoolkit.h"

namespace corv {

namespace {

// Warnings of the integration step, shown by the front end.
class FrontEndWarnings : public IntegrationWarnings {
public:
  explicit FrontEndWarnings(UserInterface& ui) : ui_(ui) {}
  void warn(const XString& text) override { ui_.showMessage(Severity::Warning, ToAnsi(text)); }

private:
  UserInterface& ui_;
};

OptString ReadProductInstallPath(const XString& productKey, bool currentUser) {
  return ReadInstallPath(productKey, currentUser ? kRootCurrentUser : kRootLocalMachine);
}

OptString ReadJavaHome(const XString& key, bool currentUser) {
  return ReadRegistryString(currentUser ? kRootCurrentUser : kRootLocalMachine, key, XString(u"JavaHome"));
}

class PackageSteps : public InstallationSteps {
public:
  void createProcessObjects() override {
    DecompressorFactory::setCurrent(&factory_);
  }

  InstallInfo& readPackage() override {
    packageFile_ = FileSys::InstallerModuleFile();
    if (packageFile_->open(kFileRead) < 0) throw FatalError(kUnableToReadFile, packageFile_->widePath());
    info_ = std::make_unique<InstallInfo>(*packageFile_);
    info_->createLookups(ReadProductInstallPath, ReadJavaHome);
    return *info_;
  }
  bool undoInterruptedInstallations() override {
    std::optional<Directory> temp = FileSys::TempFolder();
    return ChangeJournal::UndoInterrupted(temp ? *temp : FileSys::CurrentFolder(), systemUndo_) > 0;
  }
  void createTempFolder() override {
    info_->createTempFolder();
    // What the installation replaces is kept beside the run's temporary
    // files until it is complete or rolled back.
    journal_ = std::make_unique<ChangeJournal>(Directory(*info_->tempFolder(), XString(u"restore")));
    journal_->Start();
    info_->installLog().setJournal(journal_.get());
    info_->tempLog().setJournal(journal_.get(), true);
  }
  void extractAuxiliaryFiles() override { info_->extractAuxiliaryFiles(*packageFile_); }

  bool isWindowsNT() const override { return win32::IsWindowsNT(); }
  bool isAdministrator() const override { return win32::IsAdministrator(); }
  bool takePrimaryJre() override {
    const OptString& primaryFile = info_->record().primaryJreFile;
    if (!primaryFile || !info_->choices().destination) return false;
    File file(FileSys::MakeAbsolutePath(*primaryFile, destination()));
    if (!file.exists()) return false;
    OptString home;
    try {
      home = BinToolkit::BoundRuntimeHome(file.widePath());
    } catch (const FatalError&) {
      // A file whose runtime home cannot be read leaves the choice to the
      // JRE page.
      return false;
    }
    if (!home) return false;
    info_->choices().setJreFolder(home, true);
    return true;
  }
  void takePrimaryProfile() override {
    const XString key = info_->record().productKey.value_or(XString());
    auto recordsDestination = [&](int root) {
      OptString path = ReadInstallPath(key, root);
      return path && FileSys::SameText(Directory(*path).widePath(), destination());
    };
    int profile = win32::IsAdministrator() ? kProfileCommon : kProfilePersonal;
    if (recordsDestination(kRootCurrentUser)) {
      profile = kProfilePersonal;
    } else if (recordsDestination(kRootLocalMachine)) {
      profile = kProfileCommon;
    }
    info_->choices().setInstallProfile(profile);
  }

  void callPreInstall() override {
    if (info_->record().hookLibrary) hookLibrary().CallPreInstall(destination());
  }
  bool extractMainFiles(UserInterface& ui) override {
    CORV_ASSERT(info_->choices().destination.has_value());
    AbstractOverwritePolicy& policy = info_->overwritePolicy(ui.overwritePolicy());
    return info_->mainFiles().extract(*packageFile_, *info_->choices().destination, &ui.progressUpdater(), policy,
                                      info_->installLog());
  }
  void abortExtraction() override { info_->mainFiles().abort(); }
  void bindExecutables() override {
    Bind(File(*info_->tempFolder(), XString(u"xbind.script")).widePath(), destination(), info_->choices().jreFolder);
  }
  void installSystemIntegration() override {
    IntegrationTarget target;
    target.destination = info_->choices().destination->widePath();
    target.commonProfile = info_->choices().installProfile() == kProfileCommon;
    target.programFolder = info_->choices().programFolder.value_or(XString());
    target.packageName = info_->record().packageName.value_or(XString());
    target.productKey = info_->record().productKey.value_or(XString());
    target.uninstaller = info_->record().uninstallerName;
    target.isInstallation = info_->record().isInstallation();
    target.shfolderLibrary = File(*info_->tempFolder(), XString(u"shfolder.dll")).widePath();
    target.entryDetails = info_->record().entryDetails;
    FrontEndWarnings warnings(*info_->frontEnd());
    InstallSystemIntegration(info_->infrastructure(), target, info_->installLog(), warnings);
  }
  void installServices() override {
    InstallServices(info_->services(), destination(), BinToolkit::BoundServiceName, info_->installLog());
  }
  bool addToPath(const XString& folder) override {
    bool restart = false;
    bool added = false;
    bool personal = info_->choices().installProfile() == kProfilePersonal;
    if (journal_ && !keepPath(folder, personal)) return false;
    // Undoing an entry whose PATH did not change puts back the same value.
    info_->installLog().Announce(kLogPathEntry, folder);
    if (Environment().AddToPath(folder, personal, &restart, &added) != 0) return false;
    // A folder that was on PATH already is not the installation's to remove.
    if (added) info_->installLog().LogPathEntry(folder);
    if (restart) info_->choices().rebootRequired = true;
    return true;
  }
  void callPostInstall() override {
    if (info_->record().hookLibrary) hookLibrary().CallPostInstall(destination());
  }
  void runInstallRunProgram() override {
    if (const auto& program = info_->installRunProgram()) program->RunAndWait(destination());
  }

  void writeInstallLog() override {
    const OptString& uninstaller = info_->record().uninstallerName;
    if (!uninstaller) return;
    const XString destination = info_->choices().destination->widePath();
    File uninstallerFile(FileSys::MakeAbsolutePath(*uninstaller, destination));
    std::optional<Directory> folder = uninstallerFile.parentDirectory();
    CORV_ASSERT(folder.has_value());
    const XString where = folder->widePath();
    File logFile(*folder, XString(u"install.log"));
    File stateFile(*folder, XString(kFoundStateName));
    Logger& log = info_->installLog();
    // An update, or the same product installed again into its folder,
    // extends the installation's log; anything else starts a new one.
    Logger earlier;
    const bool sameProduct = ReadsAsLogOf(log.productName(), logFile, where, earlier);
    const bool merge = info_->record().isUpdate() || sameProduct;
    std::vector<KeySnapshot> found;
    if (merge) found = ReadFoundState(stateFile, SealsOf(where, SealedFile::kFoundState));
    AddFoundKeys(merge ? &earlier : nullptr, found);
    // The earlier files are kept for a rollback; they stay in place
    // meanwhile, since the new ones replace them in one step each.
    for (File* file : {&logFile, &stateFile}) {
      if (log.KeepFile(*file, true) != 0) throw FatalError(kUnableToWriteFile, file->widePath());
      log.LogFile(*file);
    }
    if (const OptString& recorded = info_->record().recordedFile) {
      log.setRecordedFilePath(FileSys::MakeAbsolutePath(*recorded, destination));
    }
    // Each is written whole into a new file beside it, flushed, and then put
    // in the place of the old one: a failure or a crash on the way leaves
    // the old one as it was. Their seals go into the uninstall entries,
    // where only those who may change the installation can write, before
    // they take their places.
    File freshLog = FreshFile(*folder, u"install.log.%d");
    File freshState = FreshFile(*folder, u"install.restore.%d");
    try {
      std::string logSeal;
      if (sameProduct) {
        log.WriteMergedWith(earlier, freshLog, &logSeal);
      } else if (merge) {
        log.MergeAndWrite(logFile, freshLog, SealsOf(where, SealedFile::kInstallLog), &logSeal);
      } else {
        log.Write(freshLog, &logSeal);
      }
      const std::string text = FoundStateText(found);
      if (WriteWholeFile(freshState, text.data(), text.size()) != 0) throw FatalError(kUnableToWriteFile, freshState.widePath());
      const std::string stateSeal = Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      if (!WriteSeal(where, SealedFile::kFoundState, stateSeal, &log) ||
          !WriteSeal(where, SealedFile::kInstallLog, logSeal, &log) || freshState.moveTo(stateFile) != 0 ||
          freshLog.moveTo(logFile) != 0) {
        throw FatalError(kUnableToWriteFile, logFile.widePath());
      }
    } catch (const Exception&) {
      freshLog.remove();
      freshState.remove();
      throw;
    }
  }
  void undoTemporaryFiles() override {
    // While the installation keeps what it replaced, the temporary folder
    // holds it: the temporary files then go with it, once the installation
    // is complete (destroyProcessObjects) or rolled back.
    if (journal_ && !rolledBack_) return;
    info_->tempLog().Undo();
  }
  void undoInstallation() override {
    rolledBack_ = true;
    // Nothing is installed before the run has the folder where it keeps
    // what it replaces.
    if (journal_) {
      info_->installLog().Undo(systemUndo_);
      journal_->Close();
    }
  }
  void startAfterRunProgram() override { info_->afterRunProgram()->Start(destination()); }
  void destroyProcessObjects() override {
    // The installation is complete: what it kept for a rollback goes, and
    // with it the rest of the temporary folder.
    if (journal_) {
      journal_->Discard();
      info_->installLog().ForgetFound();
      info_->installLog().setJournal(nullptr);
      info_->tempLog().setJournal(nullptr);
      journal_.reset();
      info_->tempLog().Undo();
    }
    DecompressorFactory::setCurrent(nullptr);
    info_.reset();  // with the lookups
    packageFile_.reset();
  }
  void restartComputer() override { ExitWindowsEx(EWX_REBOOT, 0); }

private:
  XString destination() const { return info_->choices().destination->widePath(); }
  // Keeps what the PATH change of `folder` will change: the PATH value of
  // the profile's key on Windows NT, "autoexec.bat" elsewhere. False when
  // that cannot be kept (then PATH must not change).
  bool keepPath(const XString& folder, bool personal) {
    if (win32::IsWindowsNT()) {
      XString key = personal ? XString(u"HKEY_CURRENT_USER\\Environment")
                             : XString(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
      std::optional<KeySnapshot> value = SnapshotRegistryKey(key, AnsiString("PATH"));
      if (!value) return false;
      info_->installLog().KeepPathEntry(folder, std::move(value));
      return true;
    }
    Logger& log = info_->installLog();
    File autoexec(DefaultAutoexecPath());
    if (autoexec.exists()) {
      if (log.KeepFile(autoexec, true) != 0) return false;
    } else {
      log.KeepMadeFile(autoexec.widePath());
    }
    log.KeepPathEntry(folder, std::nullopt);
    return true;
  }
  // A new file of the name pattern in `folder`, noted for a rollback.
  File FreshFile(const Directory& folder, const XChar* pattern) {
    std::optional<File> fresh;
    for (int n = 0; !fresh || fresh->exists(); ++n) fresh.emplace(folder, Format(pattern, n));
    if (journal_) info_->installLog().KeepMadeFile(fresh->widePath());
    return File(fresh->widePath());
  }
  // The log in `logFile` is one of `product` that a seal vouches for: the
  // product was installed into this folder before, and this run maintains
  // that installation. `earlier` receives it.
  static bool ReadsAsLogOf(const XString& product, File& logFile, const XString& folder, Logger& earlier) {
    // Without a seal anyone who may write into the folder could have put the
    // log there, and its records would become the installation's.
    const std::vector<std::string> seals = SealsOf(folder, SealedFile::kInstallLog);
    if (seals.empty() || !logFile.exists()) return false;
    try {
      earlier.Read(logFile, seals);
    } catch (const FatalError&) {
      return false;  // not one to take in: replaced as before, and kept for a rollback
    }
    return earlier.hasProductName() && earlier.productName() == product;
  }
  // Adds to `found` the keys that this run found and wrote into, with the
  // values it changed as they were; a key that an earlier run of the
  // installation named already (made or found then) keeps what that run
  // knew. Uninstall entries go with the uninstaller and are left out.
  void AddFoundKeys(const Logger* earlier, std::vector<KeySnapshot>& found) {
    for (const KeySnapshot& kept : info_->installLog().FoundKeys()) {
      if (IsUninstallEntryName(kept.fullName) || (earlier && earlier->contains(kLogRegistryKey, kept.fullName))) {
        continue;
      }
      const bool known = std::any_of(found.begin(), found.end(),
                                     [&](const KeySnapshot& k) { return k.fullName == kept.fullName; });
      if (known) continue;
      // A key that cannot be read now gets back all it held.
      found.push_back(ChangedValues(kept).value_or(kept));
    }
  }
  // The hook library among the auxiliary files in the temporary folder.
  HookLibrary hookLibrary() const {
    return HookLibrary(File(*info_->tempFolder(), *info_->record().hookLibrary).widePath());
  }

  Win32SystemUndo systemUndo_;
  std::unique_ptr<ChangeJournal> journal_;
  bool rolledBack_ = false;  // undoInstallation has run
  DecompressorFactory factory_;
  std::unique_ptr<File> packageFile_;
  std::unique_ptr<InstallInfo> info_;
};

}  // namespace

std::unique_ptr<InstallationSteps> CreatePackageSteps() { return std::make_unique<PackageSteps>(); }

}  // namespace corv
