// The front end: the one interface through which the driver talks to the
// user. Every question, every wizard page, the progress display, the final
// result and every message box goes through it. Two implementations exist:
// GuiInterface (the wizard) and TextInterface (batch mode, /batch).
//
// This header is portable; the base's message boxes are the platform's
// (userinterfacewin32.cpp; the host has none and reports failure).
#pragma once

#include <atomic>
#include <cstdint>

#include "util/messageid.h"
#include "util/thread.h"
#include "util/xstring.h"

namespace corv {

class AbstractOverwritePolicy;
class UIProgressUpdater;

// How the user left a wizard page. Any other value reaching the driver is an
// assertion failure.
enum class PageResult : int { Next = 1, Cancel = 2, Back = 3 };

enum class YesNoAnswer : int { Yes = 5, No = 6 };

// Captions "Information", "Question", "Warning", "Severe error".
enum class Severity : int { Information = 1, Question = 2, Warning = 3, SevereError = 4 };

// The message of a severity's caption; a severity outside 1..4 is an
// assertion failure.
Message<0> SeverityCaption(Severity severity);

// Results of confirmOverPreviousVersion.
enum class PreviousVersionAnswer : int { Proceed = 1, Stop = 2 };

// A window of the front end that is on screen: a wizard page or a dialog of
// the dialog framework. It owns the message boxes raised while it is current
// and can be closed from another thread.
class UIWindow {
public:
  virtual ~UIWindow() = default;
  // The system's window handle (HWND), or none.
  virtual void* windowHandle() const = 0;
  // Asks the window to close from the calling thread and waits until its
  // modal loop has ended on the window's own thread.
  virtual void closeFromOtherThread() = 0;
};

class UserInterface {
public:
  UserInterface();
  UserInterface(const UserInterface&) = delete;
  UserInterface& operator=(const UserInterface&) = delete;
  virtual ~UserInterface();

  // True between begin and end.
  virtual bool isActive() const { return active_; }
  virtual void begin() = 0;
  virtual void end() = 0;

  // Asked when an installed previous version of the product was found:
  virtual PreviousVersionAnswer confirmOverPreviousVersion() = 0;

  // The wizard's page operations, in wizard order.
  virtual PageResult showWelcome() = 0;
  virtual PageResult askLicenseAgreement() = 0;
  virtual PageResult askInstallProfile() = 0;
  virtual PageResult askDestination() = 0;
  virtual PageResult askJre() = 0;
  virtual PageResult askProgramFolder() = 0;
  virtual PageResult askShortcuts() = 0;
  virtual PageResult askFileAssociations() = 0;
  virtual PageResult askServiceAccounts() = 0;
  virtual PageResult askUpdateLocation() = 0;
  virtual PageResult showSummary() = 0;
  // Shows the progress until the installation worker has ended: Next, or
  // Cancel when the user cancelled.
  virtual PageResult runProgress() = 0;
  // The worker's last step: tells the progress channel that the work is
  // done (its finish), which ends the progress display.
  virtual void finishProgress() = 0;
  // The progress channel of the installation worker (called on the worker).
  virtual UIProgressUpdater& progressUpdater() = 0;
  // The policy that asks the user whether to replace an existing file, for
  // packages of overwrite mode 4 (called on the worker).
  virtual AbstractOverwritePolicy& overwritePolicy() = 0;
  // The finish page: success without an error text, failure with one.
  virtual PageResult showResult(const OptString& errorText, bool reboot) = 0;

  // Called by the worker when it fails, so that a waiting runProgress
  // returns. Base: closes the current window, if any, and waits until it has
  // closed.
  virtual void abortProgress();
  // A message box with the severity's caption and icon and an OK button,
  // owned by the window in front (messageOwner). The text is in the ANSI code page. A
  // severity outside 1..4 is an assertion failure.
  virtual void showMessage(Severity severity, const AnsiString& text);
  // A yes/no message box with the question icon, owned like showMessage's.
  // A box that cannot be shown counts as No.
  virtual YesNoAnswer askYesNo(const AnsiString& caption, const AnsiString& text);

  // The window now on screen, or none. Set by a page when its window is
  // initialised and cleared when it is destroyed; setting one while one is
  // set, or clearing while none is set, is an assertion failure.
  void setCurrentWindow(UIWindow* window);
  UIWindow* currentWindow() const { return currentWindow_.load(); }
  // Waits until a window is current or the wizard is not running (see
  // windowEvent), then returns the current window, possibly none.
  UIWindow* waitCurrentWindow();

protected:
  // The window that owns the message boxes: the one in front of the front
  // end's windows, or none. Base: the current window.
  virtual void* messageOwner() const;
  void setActive(bool active) { active_ = active; }
  // Manual reset, signalled at construction; signalled while a window is
  // current and reset while the wizard is between two pages.
  Event& windowEvent() { return windowEvent_; }

  // Box styles and results, with the values of the system's message box.
  enum BoxStyle : uint32_t {
    kBoxOk = 0x0,
    kBoxYesNo = 0x4,
    kIconError = 0x10,
    kIconQuestion = 0x20,
    kIconWarning = 0x30,
    kIconInformation = 0x40,
  };
  enum BoxResult : int { kBoxFailed = 0, kBoxIdOk = 1, kBoxIdYes = 6, kBoxIdNo = 7 };
  // Shows a message box; returns the button pressed, or kBoxFailed.
  virtual int messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                         uint32_t style);

private:
  bool active_ = false;
  std::atomic<UIWindow*> currentWindow_{nullptr};
  Event windowEvent_;
};

}  // namespace corv
