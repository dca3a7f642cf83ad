#include "kernel/driver.h"

#include <cstdio>
#include <exception>

#include "kernel/installinfo.h"
#include "util/messages.h"
#include "util/safethread.h"

namespace corv {

namespace {

// The installation proper, on its own thread: extraction, binding, system
// integration, hooks and the install-run program. The main thread waits in
// the front end's runProgress meanwhile.
class InstallThread : public SafeThread {
public:
  InstallThread(InstallationSteps& steps, InstallInfo& info, UserInterface& ui, const Options& options)
      : steps_(steps), info_(info), ui_(ui), options_(options) {}

  void run() override {
    try {
      work();
    } catch (...) {
      // Wake the waiting runProgress first; the failure itself reaches the
      // driver through the join.
      ui_.abortProgress();
      throw;
    }
  }

private:
  void work() {
    if (!steps_.extractMainFiles(ui_)) return;  // aborted: the user cancelled
    if (info_.record().bindExecutables) steps_.bindExecutables();
    if (!options_.noRegistration()) {
      steps_.installSystemIntegration();
      if (info_.services().count() > 0 && steps_.isWindowsNT() && steps_.isAdministrator()) {
        steps_.installServices();
      }
      if (OptString folder = info_.absolutePathEntry()) {
        // A PATH that cannot be changed is a warning; the installation goes on.
        if (!steps_.addToPath(*folder)) {
          ui_.showMessage(Severity::Warning, FormatMessageText(msg::kUnableToAddToPath, *folder));
        }
      }
    }
    steps_.callPostInstall();
    steps_.runInstallRunProgram();
    ui_.finishProgress();
  }

  InstallationSteps& steps_;
  InstallInfo& info_;
  UserInterface& ui_;
  const Options& options_;
};

bool HasShortcutAt(const InstallInfo& info, ShortcutLocation location) {
  return info.infrastructure().shortcutCountAt(location) > 0;
}

// Joins the worker on every way out of the installation step, so that a
// rollback never runs while the worker still writes. On the failure path the
// failure already passing on wins over the worker's own.
class WorkerJoin {
public:
  explicit WorkerJoin(InstallThread& worker) : worker_(worker) {}
  WorkerJoin(const WorkerJoin&) = delete;
  WorkerJoin& operator=(const WorkerJoin&) = delete;
  ~WorkerJoin() {
    if (joined_) return;
    try {
      worker_.join();
    } catch (...) {
    }
  }
  // Joins and raises the worker's failure, if any.
  void join() {
    joined_ = true;
    worker_.join();
  }

private:
  InstallThread& worker_;
  bool joined_ = false;
};

}  // namespace

Driver::Driver(int argc, const char* const* argv, const FrontEndFactory& createFrontEnd,
               std::unique_ptr<InstallationSteps> steps)
    : steps_(std::move(steps)) {
  CORV_ASSERT(steps_ != nullptr);
  options_ = std::make_unique<Options>(argc, argv);
  options_->PreScan();
  FrontEndKind kind = options_->mode() == Options::kModeBatch ? FrontEndKind::Text : FrontEndKind::Gui;
  ui_ = createFrontEnd(kind, *options_);
  CORV_ASSERT(ui_ != nullptr);
}

Driver::~Driver() {
  ui_.reset();
  steps_.reset();
  options_.reset();
}

int Driver::run() {
  try {
    if (!startUp()) return 1;
    if (!walk()) {
      rollBack();
      return 1;
    }
    complete();
    return 0;
  } catch (const Exception& failure) {
    handleFailure(failure);
    return 1;
  } catch (...) {
    // Out of memory or a failure of the C++ library: ended like any other.
    const std::exception_ptr failure = CurrentFailure(__FILE__, __LINE__);
    try {
      std::rethrow_exception(failure);
    } catch (const Exception& e) {
      handleFailure(e);
    }
    return 1;
  }
}

bool Driver::startUp() {
  options_->Parse();
  steps_->createProcessObjects();
  if (options_->help()) {
    options_->PrintUsage(*ui_);
    return false;
  }
  info_ = &steps_->readPackage();
  InstallInfo::SetCurrent(info_);
  selectLanguage(info_->record().language);
  if (!info_->representableInCodePage()) throw FatalError(msg::kLanguageNotSupported);
  info_->setFrontEnd(ui_.get());
  // What an interrupted run of an installer changed goes first, before
  // anything looks at the system.
  if (steps_->undoInterruptedInstallations()) {
    ui_->showMessage(Severity::Information, FormatMessageText(msg::kInterruptedInstallationUndone));
  }
  if (info_->record().isInstallation() && info_->record().warnPreviousVersion) {
    PrimaryLookup& copies = info_->primaryLookup();
    copies.search();
    if (copies.candidateCount() > 0 && ui_->confirmOverPreviousVersion() == PreviousVersionAnswer::Stop) {
      return false;  // nothing was written yet
    }
  }
  steps_->createTempFolder();
  steps_->extractAuxiliaryFiles();
  ui_->begin();
  return true;
}

void Driver::selectLanguage(int setting) {
  CORV_ASSERT(setting >= kLanguageAuto && setting <= kLanguageJapanese);
  // A language whose locale the system lacks is replaced by English, so the
  // refusal is shown in English.
  if (!SelectLanguage(setting)) throw FatalError(msg::kLanguageNotSupported);
}

bool Driver::walk() {
  WizardStep step = WizardStep::Welcome;
  PageResult result = PageResult::Next;
  for (;;) {
    CORV_ASSERT(step >= WizardStep::Welcome && step <= WizardStep::Finish);
    // A skipped step keeps the result of the one before, so the walk goes on
    // in the direction it was going.
    if (std::optional<PageResult> pageResult = runStep(step)) result = *pageResult;
    switch (result) {
      case PageResult::Next:
        if (step == WizardStep::Finish) return true;
        step = static_cast<WizardStep>(static_cast<int>(step) + 1);
        break;
      case PageResult::Back:
        step = static_cast<WizardStep>(static_cast<int>(step) - 1);
        break;
      case PageResult::Cancel:
        return false;
      default:
        CORV_ASSERT(false);
    }
  }
}

std::optional<PageResult> Driver::runStep(WizardStep step) {
  switch (step) {
    case WizardStep::Welcome:
      return ui_->showWelcome();
    case WizardStep::License:
      if (!info_->record().licenseText) return std::nullopt;
      return ui_->askLicenseAgreement();
    case WizardStep::InstallProfile:
      return installProfileStep();
    case WizardStep::Destination:
      return info_->record().isInstallation() ? ui_->askDestination() : updateLocationStep();
    case WizardStep::Jre:
      return jreStep();
    case WizardStep::ProgramFolder:
      if (!HasShortcutAt(*info_, kLocationProgramFolder)) return std::nullopt;
      CORV_ASSERT(info_->record().defaultProgramFolder.has_value());
      return ui_->askProgramFolder();
    case WizardStep::FileAssociations:
      if (info_->infrastructure().associationCount() == 0) return std::nullopt;
      return ui_->askFileAssociations();
    case WizardStep::Shortcuts:
      if (!HasShortcutAt(*info_, kLocationDesktop) && !HasShortcutAt(*info_, kLocationStartMenu)) {
        return std::nullopt;
      }
      return ui_->askShortcuts();
    case WizardStep::Services:
      return servicesStep();
    case WizardStep::Summary:
      return ui_->showSummary();
    case WizardStep::Install:
      return installProper();
    case WizardStep::Finish: {
      PageResult result = ui_->showResult(std::nullopt, info_->choices().rebootRequired);
      CORV_ASSERT(result != PageResult::Back);  // the finish page has no Back
      return result;
    }
    default:
      CORV_ASSERT(false);
      return std::nullopt;
  }
}

std::optional<PageResult> Driver::installProfileStep() {
  if (!info_->record().isInstallation()) return std::nullopt;  // an update sets nothing
  if (!steps_->isAdministrator()) {
    info_->choices().setInstallProfile(kProfilePersonal);
    return std::nullopt;
  }
  if (info_->infrastructure().shortcutCount() > 0) return ui_->askInstallProfile();
  info_->choices().setInstallProfile(kProfileCommon);
  return std::nullopt;
}

PageResult Driver::updateLocationStep() {
  PageResult result = ui_->askUpdateLocation();
  // The profile step was skipped: the update follows the installation it
  // updates, so its shortcuts and PATH entry go where the product's are.
  if (result == PageResult::Next) steps_->takePrimaryProfile();
  return result;
}

std::optional<PageResult> Driver::jreStep() {
  if (info_->record().jreRequirement() == nullptr) return std::nullopt;
  if (info_->record().isUpdate() && steps_->takePrimaryJre()) return std::nullopt;
  return ui_->askJre();
}

std::optional<PageResult> Driver::servicesStep() {
  if (info_->services().count() == 0) return std::nullopt;
  if (!steps_->isWindowsNT()) {
    ui_->showMessage(Severity::Warning, FormatMessageText(msg::kServiceNeedsWindowsNt));
    return std::nullopt;
  }
  if (!steps_->isAdministrator()) {
    ui_->showMessage(Severity::Warning, FormatMessageText(msg::kServiceNeedsAdministrator));
    return std::nullopt;
  }
  return ui_->askServiceAccounts();
}

PageResult Driver::installProper() {
  steps_->callPreInstall();
  InstallThread worker(*steps_, *info_, *ui_, *options_);
  worker.start();
  WorkerJoin joiner(worker);
  PageResult result = PageResult::Next;
  try {
    result = ui_->runProgress();
    CORV_ASSERT(result == PageResult::Next || result == PageResult::Cancel);
  } catch (const Exception&) {
    steps_->abortExtraction();
    throw;
  }
  if (result == PageResult::Cancel) steps_->abortExtraction();
  joiner.join();
  // The log is the installation's last write: it is on disk before the
  // finish page or the console says that the installation succeeded, and
  // a failure to write it shows the failure form and rolls back.
  if (result == PageResult::Next) steps_->writeInstallLog();
  return result;
}

void Driver::complete() {
  ui_->end();
  steps_->undoTemporaryFiles();
  // The finish page may have set the flag from its restart choice.
  bool reboot = info_->choices().rebootRequired;
  if (info_->afterRunProgram() && !reboot && !options_->noAfterRun()) steps_->startAfterRunProgram();
  steps_->destroyProcessObjects();  // the record with them
  info_ = nullptr;
  if (reboot) steps_->restartComputer();
}

void Driver::rollBack() {
  if (info_ == nullptr) return;
  steps_->undoInstallation();
  ui_->end();
  steps_->undoTemporaryFiles();
}

void Driver::report(const Exception& failure) {
  if (ui_->isActive()) {
    ui_->showResult(failure.message(), false);
  } else {
    ui_->showMessage(Severity::SevereError, ToAnsi(failure.message()));
  }
}

void Driver::handleFailure(const Exception& failure) {
  bool rollBackTried = false;
  auto rollBackOnce = [&] {
    rollBackTried = true;
    rollBack();
  };
  try {
    report(failure);
    rollBackOnce();
  } catch (const Exception& second) {
    try {
      ui_->showMessage(Severity::SevereError, ToAnsi(second.message()));
      rollBackOnce();
    } catch (const Exception& third) {
      reportUnrecoverable(third);
      // When only the reports failed, the installation is still undone.
      if (!rollBackTried) {
        try {
          rollBack();
        } catch (const Exception& fourth) {
          reportUnrecoverable(fourth);
        }
      }
    }
  }
}

void Driver::reportUnrecoverable(const Exception& failure) {
  AnsiString text;
  try {
    text = ToAnsi(failure.message());
  } catch (const Exception&) {
    text = ToUtf8(failure.message());  // the code page cannot hold it: keep the text readable
  }
  // Plain writes: the programs link no printf and its number formatting.
  std::fputs(("Unrecoverable error occured: " + text + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace corv
