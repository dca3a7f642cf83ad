#include "ui/win32/messagewindow.h"

#include "xinstres/resourceids.h"

namespace corv {

namespace {

// Asks the window to destroy itself on its own thread.
constexpr UINT kDestroyWindow = WM_USER + 256;

}  // namespace

MessageWindow::MessageWindow(const UIResources& resources, HWND owner, HICON icon, bool disableOwner)
    : owner_(owner), icon_(icon), disableOwner_(disableOwner) {
  hwnd_ = thread_.start(resources.library(), IDD_MESSAGE_WINDOW, owner, Procedure, reinterpret_cast<LPARAM>(this));
}

MessageWindow::~MessageWindow() {
  if (hwnd_) SendMessageA(hwnd_, kDestroyWindow, 0, 0);
  thread_.join();
}

void MessageWindow::show(const XString& text) {
  if (!hwnd_) return;
  SetDlgItemTextA(hwnd_, IDC_TEXT, ToAnsi(text).c_str());
  if (disableOwner_ && owner_) EnableWindow(owner_, FALSE);
  PlaceClearOf(hwnd_, owner_);
  // A box the owner shows already stays in front of the window.
  HWND box = owner_ ? GetLastActivePopup(owner_) : nullptr;
  if (box && box != owner_ && box != hwnd_ && IsWindowVisible(box)) {
    ShowWindow(hwnd_, SW_SHOWNA);
    SetWindowPos(hwnd_, box, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  } else {
    ShowWindow(hwnd_, SW_SHOW);
  }
}

void MessageWindow::hide() {
  if (!hwnd_) return;
  // A box that the window owns outlives it: it goes over to the owner and
  // keeps the foreground.
  HWND box = GetLastActivePopup(hwnd_);
  bool boxShown = box && box != hwnd_ && IsWindowVisible(box);
  if (boxShown && owner_) SetWindowLongPtrA(box, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner_));
  ShowWindow(hwnd_, SW_HIDE);
  if (disableOwner_ && owner_) {
    EnableWindow(owner_, TRUE);
    SetForegroundWindow(boxShown ? box : owner_);
  }
}

INT_PTR CALLBACK MessageWindow::Procedure(HWND window, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* self = reinterpret_cast<MessageWindow*>(lParam);
      self->hwnd_ = window;
      SendDlgItemMessageA(window, IDC_MESSAGE_ICON, STM_SETICON, reinterpret_cast<WPARAM>(self->icon_), 0);
      return TRUE;
    }
    case kDestroyWindow:
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace corv
