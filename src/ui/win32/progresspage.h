// The wizard's progress page, shown while the installation worker runs: two
// bars (the current file and the whole installation), the name of the file
// being written, a "Finishing setup" note once the files are written, and
// the end of the page with Next when the worker is done.
//
// With a splash picture in the package the page is a compact window (template
// IDD_COMPACT_PROGRESS, one bar) near the lower right corner beside a splash
// window (template IDD_SPLASH) showing the picture, each on a thread of its
// own; otherwise it is an ordinary page (template IDD_PROGRESS).
//
// The updater's hooks run on the worker and reach the page's windows only
// by sending them messages.
#pragma once

#include <atomic>
#include <memory>

#include "kernel/uiprogressupdater.h"
#include "ui/win32/messagewindow.h"
#include "ui/win32/wizardpage.h"

namespace corv {

class InstallInfo;

class ProgressPage : public WizardPage {
public:
  ProgressPage(UserInterface& ui, const UIResources& resources, const InstallInfo& info);
  ~ProgressPage() override;

  // The channel the extraction and the worker report to.
  UIProgressUpdater& updater() { return updater_; }
  bool compact() const { return compact_; }
  // The finishing note's window while it is shown, else none.
  HWND noteWindow() const { return updater_.noteWindow(); }
  // The compact window keeps to its corner: it places no page.
  bool placesNextPage() const override { return !compact_; }

  // The worker gave up: hides and destroys the finishing note, and makes the
  // page end at once with Cancel if it is not on screen yet (a page already
  // on screen is closed by the front end). Called on the worker.
  void abandon();

  int templateId() const override { return compact_ ? IDD_COMPACT_PROGRESS : IDD_PROGRESS; }
  bool onInitDialog() override;
  bool onInitPage() override;
  // The compact presentation runs the splash window and the progress window
  // on two window threads and waits for both.
  INT_PTR run() override;
  void endDialog(HWND window, INT_PTR result) override;
  INT_PTR defaultHandler(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  class Updater : public UIProgressUpdater {
  public:
    explicit Updater(ProgressPage& page) : page_(page) {}
    void dropNote();
    HWND noteWindow() const { return noteWindow_.load(); }

  protected:
    uint32_t overallRange() override { return kRange; }
    uint32_t itemRange() override { return kRange; }
    void initOverallBar() override;
    void setOverallBar(uint32_t value) override;
    void initItemBar() override;
    void setItemBar(uint32_t value) override;
    void setItemName(const XString& name) override;
    void done(bool complete) override;

  private:
    static constexpr uint32_t kRange = 32768;
    void setRange(int bar);
    void setBar(int bar, uint32_t value);

    ProgressPage& page_;
    // The page's window once it is on screen (none if the wizard went on
    // without it).
    std::atomic<HWND> window_{nullptr};
    std::unique_ptr<MessageWindow> finishingNote_;
    // The note's window while it is shown, for the other threads.
    std::atomic<HWND> noteWindow_{nullptr};
  };

  static INT_PTR CALLBACK SplashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR runCompact();

  const InstallInfo& info_;
  const bool compact_;
  Updater updater_;
  std::atomic<bool> abandoned_{false};
  HWND splashWindow_ = nullptr;
  INT_PTR modelessResult_ = 0;
};

}  // namespace corv
