// A small modeless window with an icon and a line of text ("Finishing setup.
// Please wait..."), on a thread of its own so that it stays responsive while
// the thread that shows it is busy. Template IDD_MESSAGE_WINDOW.
#pragma once

#include "util/win32/corvwindows.h"

#include "ui/win32/dialog.h"
#include "ui/win32/uiresources.h"
#include "util/xstring.h"

namespace corv {

class MessageWindow {
public:
  // Creates the window, hidden, as a child of `owner` (or none). With
  // `disableOwner`, the owner cannot be used while the window is shown.
  MessageWindow(const UIResources& resources, HWND owner, HICON icon, bool disableOwner);
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  // Destroys the window on its own thread and waits for that thread's end.
  ~MessageWindow();

  // Shows the window with `text` where it covers none of the owner's
  // controls (PlaceClearOf), behind a box the owner shows already, if any;
  // without a window, nothing.
  void show(const XString& text);
  // Hides the window and gives the owner back its input and the foreground;
  // a box the window owns goes over to the owner and keeps the foreground.
  void hide();

  HWND window() const { return hwnd_; }

private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND owner_;
  HICON icon_;
  bool disableOwner_;
  ModelessDialogThread thread_;
  HWND hwnd_ = nullptr;
};

}  // namespace corv
