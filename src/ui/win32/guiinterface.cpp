#include "ui/guiinterface.h"

#include "kernel/installinfo.h"
#include "ui/win32/inputpages.h"
#include "ui/win32/overwriteprompt.h"
#include "ui/win32/pathpage.h"
#include "ui/win32/progresspage.h"
#include "ui/win32/uiresources.h"
#include "ui/win32/wizardpages.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

GuiInterface::GuiInterface() = default;

GuiInterface::~GuiInterface() {
  overwriteAsker_.reset();
  finish_.reset();
  progress_.reset();
  summary_.reset();
  services_.reset();
  associations_.reset();
  shortcuts_.reset();
  programFolder_.reset();
  updateDestination_.reset();
  jre_.reset();
  destination_.reset();
  installType_.reset();
  license_.reset();
  welcome_.reset();
  resources_.reset();
}

InstallInfo& GuiInterface::info() const {
  InstallInfo* info = InstallInfo::Current();
  CORV_ASSERT(info != nullptr);
  return *info;
}

void GuiInterface::begin() {
  CORV_ASSERT(info().tempFolder().has_value());
  resources_ = std::make_unique<UIResources>(*info().tempFolder(), info().record().wizardBitmap);
  welcome_ = std::make_unique<WelcomePage>(*this, *resources_, info());
  license_ = std::make_unique<LicensePage>(*this, *resources_, info());
  installType_ = std::make_unique<InstallTypePage>(*this, *resources_, info());
  destination_ = std::make_unique<DestinationPage>(*this, *resources_, info());
  programFolder_ = std::make_unique<ProgramFolderPage>(*this, *resources_, info());
  shortcuts_ = std::make_unique<ShortcutsPage>(*this, *resources_, info());
  associations_ = std::make_unique<AssociationsPage>(*this, *resources_, info());
  services_ = std::make_unique<ServicePage>(*this, *resources_, info());
  summary_ = std::make_unique<SummaryPage>(*this, *resources_, info());
  progress_ = std::make_unique<ProgressPage>(*this, *resources_, info());
  finish_ = std::make_unique<FinishPage>(*this, *resources_, info());
  overwriteAsker_ =
      std::make_unique<UIOverwritePolicy>(std::make_unique<OverwritePrompt>(*this, *resources_), *progress_);
  windowEvent().reset();
  setActive(true);
}

void GuiInterface::end() {
  // The pages keep what they showed; their windows are gone.
  resources_.reset();
  windowEvent().set();
  setActive(false);
}

PreviousVersionAnswer GuiInterface::confirmOverPreviousVersion() {
  YesNoAnswer answer = askYesNo(FormatMessageText(msg::kWarning),
                                FormatMessageText(msg::kPreviousVersionQuestion,
                                                  info().record().packageName.value_or(XString())));
  return answer == YesNoAnswer::Yes ? PreviousVersionAnswer::Proceed : PreviousVersionAnswer::Stop;
}

PageResult GuiInterface::showWelcome() { return welcome_->runWizardPage(); }
PageResult GuiInterface::askLicenseAgreement() { return license_->runWizardPage(); }
PageResult GuiInterface::askInstallProfile() { return installType_->runWizardPage(); }
PageResult GuiInterface::askDestination() { return destination_->runWizardPage(); }

PageResult GuiInterface::askJre() {
  // Made when first needed: the lookups exist once the package is read.
  if (!jre_) jre_ = std::make_unique<JrePage>(*this, *resources_, info(), info().jreLookup());
  return jre_->runWizardPage();
}

PageResult GuiInterface::askProgramFolder() { return programFolder_->runWizardPage(); }
PageResult GuiInterface::askShortcuts() { return shortcuts_->runWizardPage(); }

PageResult GuiInterface::askFileAssociations() {
  for (;;) {
    PageResult result = associations_->runWizardPage();
    if (result == PageResult::Next && associations_->nextGroup()) continue;
    if (result == PageResult::Back && associations_->previousGroup()) continue;
    return result;
  }
}

PageResult GuiInterface::askServiceAccounts() { return services_->runWizardPage(); }

PageResult GuiInterface::askUpdateLocation() {
  if (!updateDestination_) {
    updateDestination_ = std::make_unique<UpdateDestinationPage>(*this, *resources_, info(), info().primaryLookup());
  }
  return updateDestination_->runWizardPage();
}
PageResult GuiInterface::showSummary() { return summary_->runWizardPage(); }

PageResult GuiInterface::runProgress() {
  // However the page ends, no page follows for the worker: a prompt or a bar
  // still waiting for the progress page must not wait for the next page,
  // which comes only after the worker has been joined.
  struct Release {
    Event& windowEvent;
    ~Release() { windowEvent.set(); }
  } release{windowEvent()};
  return progress_->runWizardPage();
}

void GuiInterface::finishProgress() { progress_->updater().finish(); }

UIProgressUpdater& GuiInterface::progressUpdater() { return progress_->updater(); }

AbstractOverwritePolicy& GuiInterface::overwritePolicy() { return *overwriteAsker_; }

PageResult GuiInterface::showResult(const OptString& errorText, bool reboot) {
  finish_->setResult(errorText, reboot);
  return finish_->runWizardPage();
}

void* GuiInterface::messageOwner() const {
  if (progress_) {
    if (HWND note = progress_->noteWindow()) return note;
  }
  return UserInterface::messageOwner();
}

void GuiInterface::abortProgress() {
  progress_->abandon();
  UserInterface::abortProgress();
}

}  // namespace corv
