// The dialog framework: a Dialog object bound to a window made from a
// template of the UI resource library, one shared window procedure that
// dispatches to the object, the modal run with the pending exception, the
// close from another thread, and modeless dialogs on threads of their own.
//
// Exceptions never unwind through the window system: the shared procedure
// parks the first one as the pending exception and ends the dialog; runPage
// throws it again once the modal loop has returned.
#pragma once

#include "util/win32/corvwindows.h"

#include <exception>

#include "kernel/userinterface.h"
#include "ui/win32/uiresources.h"
#include "util/messages.h"
#include "util/thread.h"
#include "util/xstring.h"

namespace corv {

// Private window messages.
constexpr UINT kEndAfterException = WM_USER + 1;  // ends a dialog after an exception
constexpr UINT kSetPicture = WM_USER + 2;         // gives a picture control its bitmap
constexpr UINT kCloseFromOtherThread = WM_USER + 3;
constexpr UINT kEndWithCancel = WM_USER + 4;

// Window property names.
constexpr const char* kThisProperty = "this";
constexpr const char* kFontProperty = "font";
constexpr const char* kBrushProperty = "brush";
constexpr const char* kInfoProperty = "info";

class Dialog : public UIWindow {
public:
  // `ui` and `resources` outlive the object.
  Dialog(UserInterface& ui, const UIResources& resources);
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  ~Dialog() override;

  virtual void endDialog(HWND window, INT_PTR result);
  // Called once the window exists; its result is WM_INITDIALOG's.
  virtual bool onInitDialog() = 0;
  virtual void onDestroy() {}
  // The template number; only its low 16 bits are used.
  virtual int templateId() const = 0;
  virtual HWND parentWindow() const { return nullptr; }
  // The modal run in the selected language: the dialog's result. A template
  // that cannot be shown raises FatalError 1418 with the system's error and
  // the template number.
  virtual INT_PTR run();
  virtual INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Sends the window kCloseFromOtherThread and waits until runPage has
  // returned on the window's own thread. Without a window, nothing.
  void closeFromOtherThread() override;
  void* windowHandle() const override { return hwnd_; }

  // Runs the dialog modally: clears the pending exception, runs, signals
  // closedEvent, then throws the exception parked while the dialog ran, if
  // any, or returns the result.
  INT_PTR runPage();

  // The procedure every dialog window of the program uses.
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd() const { return hwnd_; }

protected:
  UserInterface& ui() const { return ui_; }
  const UIResources& resources() const { return resources_; }
  HWND item(int control) const { return GetDlgItem(hwnd_, control); }
  // A control's text, or the window title, from message `id` formatted with
  // the arguments.
  template <typename... Args>
  void setItemMessage(int control, int id, const Args&... args) {
    setItemText(control, FormatMessageTextWide(id, args...));
  }
  template <int ArgCount, typename... Args>
  void setItemMessage(int control, Message<ArgCount> message, const Args&... args) {
    setItemText(control, FormatMessageTextWide(message, args...));
  }
  void setItemText(int control, const XString& text);
  void setTitle(const XString& text);
  // A control's text as a wide string.
  XString itemText(int control) const;
  // A yes/no question through the front end, caption and text by message
  // number: true for Yes.
  bool askYesNo(int captionId, int textId);
  // For a run that does not go through the modal run: the window is gone.
  void forgetWindow() { hwnd_ = nullptr; }

private:
  HWND hwnd_ = nullptr;
  UserInterface& ui_;
  const UIResources& resources_;
  Event closedEvent_;
};

// Places `window` with proportional margins: weights 1, 1, 1, 1 centre it;
// 10, 10, 1, 1 put it near the lower right corner. The size is kept.
void PlaceWindow(HWND window, int xWeight, int yWeight, int rightWeight, int bottomWeight);
// Puts the top left corner of `window` at `corner`, but moves it back onto
// the work area of the monitor it would stand on (the nearest one; the
// primary screen's work area where the system has no monitor functions) as
// far as it would fall off. The size is kept.
void PlaceWindowAt(HWND window, POINT corner);
// Where the top left corner of a window of `size` at `corner` goes so that
// the window stays inside `area`: moved back as far as it would fall off,
// and onto the area's top left corner when it is larger than the area.
POINT KeepInside(POINT corner, SIZE size, const RECT& area);
// Puts `window` where it covers no visible control of `owner` and no other
// visible window of the process: in the lowest blank part of the owner's
// client area that holds it, else beside the owner (below, above, right,
// left) on the screen's work area, else centred over the owner. The size
// is kept.
void PlaceClearOf(HWND window, HWND owner);

// A modeless dialog on a thread of its own, with its own message loop. The
// dialog procedure ends the loop with PostQuitMessage when its window is
// destroyed; join waits for that.
class ModelessDialogThread : public Thread {
public:
  ModelessDialogThread();
  // Starts the thread, which creates the dialog in the selected language,
  // and waits until it has tried: the window, or none when it could not be
  // created.
  HWND start(HMODULE module, int templateId, HWND parent, DLGPROC procedure, LPARAM parameter);
  HWND window() const { return window_; }
  // The system's error when the window could not be created.
  uint32_t creationError() const { return error_; }

  void run() override;

private:
  using Thread::start;

  HMODULE module_ = nullptr;
  int templateId_ = 0;
  HWND parent_ = nullptr;
  DLGPROC procedure_ = nullptr;
  LPARAM parameter_ = 0;
  HWND window_ = nullptr;
  uint32_t error_ = 0;
  Event created_;
};

}  // namespace corv
