// "Confirm file replacement": the question the wizard asks, on the installation
// worker, before it replaces a file that exists already. Template
// IDD_OVERWRITE, modal, owned by the progress page.
#pragma once

#include "ui/uioverwritepolicy.h"
#include "ui/win32/dialog.h"
#include "xinstres/resourceids.h"

namespace corv {

class OverwritePrompt : public Dialog, public OverwriteQuestion {
public:
  using Dialog::Dialog;

  // Waits for the progress page, then runs the prompt for `existing` and
  // the packaged file's time and size: the button pressed (Yes, No, Yes to
  // All, or Cancel after the exit confirmation). Cancel without asking when
  // the progress page has ended meanwhile.
  OverwriteAnswer ask(File& existing, FileTime newTime, int64_t newSize) override;

  int templateId() const override { return IDD_OVERWRITE; }
  HWND parentWindow() const override { return owner_; }
  bool onInitDialog() override;
  INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  // The exit confirmation, owned by the prompt; Yes ends it with Cancel.
  void onCancel();

  HWND owner_ = nullptr;
  File* existingFile_ = nullptr;
  FileTime newTime_ = 0;
  int64_t newSize_ = 0;
};

}  // namespace corv
