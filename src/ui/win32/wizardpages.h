// The wizard's pages of the flow: welcome, summary and finish.
#pragma once

#include "ui/win32/wizardpage.h"

namespace corv {

class InstallInfo;

// Template IDD_WELCOME, the large picture: the welcome (1431, 1432) or, for an
// update, 1433 and 1434, with the package name. Back is disabled.
class WelcomePage : public WizardPage {
public:
  WelcomePage(UserInterface& ui, const UIResources& resources, const InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}
  int templateId() const override { return IDD_WELCOME; }
  HBITMAP picture() const override { return resources().welcomePicture(); }
  bool pictureFills() const override { return true; }
  bool onInitPage() override;

private:
  const InstallInfo& info_;
};

// Template IDD_SUMMARY: the settings the installation will use (1511-1515 and
// the settings text), shown with nothing selected and the caret at the start,
// however the focus reaches them. Stores nothing.
class SummaryPage : public WizardPage {
public:
  SummaryPage(UserInterface& ui, const UIResources& resources, const InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}
  int templateId() const override { return IDD_SUMMARY; }
  bool onInitPage() override;

private:
  const InstallInfo& info_;
};

// The finish page: template IDD_FINISH (success, large picture) without an
// error text, IDD_FAILURE (failure) with one. Finish stores the restart
// choice in the record: true only when "restart now" (IDC_RESTART_NOW) is
// checked.
class FinishPage : public WizardPage {
public:
  FinishPage(UserInterface& ui, const UIResources& resources, InstallInfo& info)
      : WizardPage(ui, resources), info_(info) {}
  // The form of the next run.
  void setResult(const OptString& errorText, bool reboot) {
    errorText_ = errorText;
    reboot_ = reboot;
  }
  int templateId() const override { return errorText_ ? IDD_FAILURE : IDD_FINISH; }
  HBITMAP picture() const override {
    return errorText_ ? resources().headerPicture() : resources().finishPicture();
  }
  bool pictureFills() const override { return !errorText_; }
  Message<0> nextLabel() const override { return msg::kFinish; }
  bool onInitPage() override;
  // Back and Cancel are disabled: closing the window asks nothing.
  void onCancel() override {}
  void onNext() override;

private:
  bool initSuccess();
  bool initFailure();

  InstallInfo& info_;
  OptString errorText_;
  bool reboot_ = false;
};

}  // namespace corv
