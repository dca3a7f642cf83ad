#include "ui/win32/dialog.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "util/exceptions.h"
#include "util/win32/system.h"

namespace corv {

namespace {

// The exception parked while a dialog runs: the first one wins. One slot for
// the process; runPage clears and reads it.
std::exception_ptr g_pending;

void Park(std::exception_ptr failure) {
  if (!g_pending) g_pending = std::move(failure);
}

// The part of the screen that windows may take, without the task bar.
RECT WorkArea() {
  RECT area;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
    area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return area;
}

// The work area of the monitor that holds most of `bounds`, or the nearest
// one; the primary screen's where the system has no monitor functions
// (Windows 95 and NT 4 lack them: looked up, not imported).
RECT WorkAreaAround(const RECT& bounds) {
  using MonitorFromRectFn = HMONITOR(WINAPI*)(LPCRECT, DWORD);
  using GetMonitorInfoFn = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
  HMODULE user = GetModuleHandleA("user32.dll");
  auto monitorFromRect = win32::GetProcedure<MonitorFromRectFn>(user, "MonitorFromRect");
  auto getMonitorInfo = win32::GetProcedure<GetMonitorInfoFn>(user, "GetMonitorInfoA");
  if (monitorFromRect && getMonitorInfo) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    HMONITOR monitor = monitorFromRect(&bounds, MONITOR_DEFAULTTONEAREST);
    if (monitor && getMonitorInfo(monitor, &info)) return info.rcWork;
  }
  return WorkArea();
}

// What a placed window keeps clear of: the visible controls of its owner
// and the process's other visible top-level windows.
struct Obstacles {
  HWND window;
  HWND owner;
  std::vector<RECT> rects;

  void add(HWND other) {
    RECT bounds;
    if (IsWindowVisible(other) && GetWindowRect(other, &bounds)) rects.push_back(bounds);
  }
  bool clear(const RECT& place) const {
    RECT common;
    return std::none_of(rects.begin(), rects.end(),
                        [&](const RECT& rect) { return IntersectRect(&common, &rect, &place) != FALSE; });
  }
};

BOOL CALLBACK AddControl(HWND control, LPARAM data) {
  auto* obstacles = reinterpret_cast<Obstacles*>(data);
  if (GetParent(control) == obstacles->owner) obstacles->add(control);
  return TRUE;
}

BOOL CALLBACK AddProcessWindow(HWND other, LPARAM data) {
  auto* obstacles = reinterpret_cast<Obstacles*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(other, &process);
  if (process == GetCurrentProcessId() && other != obstacles->window && other != obstacles->owner) {
    obstacles->add(other);
  }
  return TRUE;
}

bool Inside(const RECT& place, const RECT& area) {
  return place.left >= area.left && place.top >= area.top && place.right <= area.right &&
         place.bottom <= area.bottom;
}

}  // namespace

Dialog::Dialog(UserInterface& ui, const UIResources& resources)
    : ui_(ui), resources_(resources), closedEvent_(true, true) {}

Dialog::~Dialog() = default;

void Dialog::endDialog(HWND window, INT_PTR result) { EndDialog(window, result); }

INT_PTR Dialog::run() {
  SetThreadLanguage();
  int id = templateId() & 0xFFFF;
  INT_PTR result = DialogBoxParamA(resources_.library(), MAKEINTRESOURCEA(id), parentWindow(), DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  if (result == -1) {
    uint32_t error = GetLastError();
    throw FatalError(msg::kDialogFailed, error, id);
  }
  hwnd_ = nullptr;
  return result;
}

INT_PTR Dialog::runPage() {
  g_pending = nullptr;
  INT_PTR result = run();
  closedEvent_.set();
  if (g_pending) std::rethrow_exception(std::exchange(g_pending, nullptr));
  return result;
}

void Dialog::closeFromOtherThread() {
  // Reset before looking at the window: a run that ends meanwhile clears
  // the window first and signals afterwards, so the wait cannot miss it.
  closedEvent_.reset();
  HWND window = hwnd_;
  if (!window) {
    closedEvent_.set();
    return;
  }
  SendMessageA(window, kCloseFromOtherThread, 0, 0);
  closedEvent_.wait();
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<Dialog*>(GetPropA(window, kThisProperty));
  try {
    switch (message) {
      case WM_INITDIALOG: {
        self = reinterpret_cast<Dialog*>(lParam);
        SetPropA(window, kThisProperty, self);
        self->hwnd_ = window;
        bool result = self->onInitDialog();
        ShowWindow(window, SW_SHOW);
        return result;
      }
      case WM_SETFONT:
        SetPropA(window, kFontProperty, reinterpret_cast<HANDLE>(wParam));
        return 0;
      case WM_DESTROY:
        CORV_ASSERT(self != nullptr);
        self->onDestroy();
        RemovePropA(window, kFontProperty);
        RemovePropA(window, kThisProperty);
        return self->handleMessage(message, wParam, lParam);
      case kEndAfterException:
        CORV_ASSERT(self != nullptr);
        self->endDialog(window, 0);
        return 0;
      default:
        return self ? self->handleMessage(message, wParam, lParam) : 0;
    }
  } catch (const Exception&) {
    Park(std::current_exception());
  } catch (...) {
    // Anything else is a broken expectation of the program.
    Park(std::make_exception_ptr(AssertionFailedError(__FILE__, __LINE__)));
  }
  if (message != kEndAfterException) SendMessageA(window, kEndAfterException, 0, 0);
  return 0;
}

void Dialog::setItemText(int control, const XString& text) {
  SetDlgItemTextA(hwnd_, control, ToAnsi(text).c_str());
}

void Dialog::setTitle(const XString& text) { SetWindowTextA(hwnd_, ToAnsi(text).c_str()); }

XString Dialog::itemText(int control) const {
  HWND child = item(control);
  LRESULT length = SendMessageA(child, WM_GETTEXTLENGTH, 0, 0);
  AnsiString text(static_cast<size_t>(length) + 1, '\0');
  LRESULT copied = SendMessageA(child, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(copied));
  return ToWide(text);
}

bool Dialog::askYesNo(int captionId, int textId) {
  return ui_.askYesNo(FormatMessageText(captionId), FormatMessageText(textId)) == YesNoAnswer::Yes;
}

void PlaceWindow(HWND window, int xWeight, int yWeight, int rightWeight, int bottomWeight) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  int width = bounds.right - bounds.left;
  int height = bounds.bottom - bounds.top;
  int left = xWeight * (GetSystemMetrics(SM_CXSCREEN) - width) / (xWeight + rightWeight);
  int top = yWeight * (GetSystemMetrics(SM_CYSCREEN) - height) / (yWeight + bottomWeight);
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

POINT KeepInside(POINT corner, SIZE size, const RECT& area) {
  LONG left = std::max(area.left, std::min(corner.x, area.right - size.cx));
  LONG top = std::max(area.top, std::min(corner.y, area.bottom - size.cy));
  return {left, top};
}

void PlaceWindowAt(HWND window, POINT corner) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  SIZE size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
  RECT there = {corner.x, corner.y, corner.x + size.cx, corner.y + size.cy};
  POINT place = KeepInside(corner, size, WorkAreaAround(there));
  SetWindowPos(window, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void PlaceClearOf(HWND window, HWND owner) {
  RECT own;
  RECT ownerBounds;
  RECT client;
  if (!owner || !GetWindowRect(window, &own) || !GetWindowRect(owner, &ownerBounds) ||
      !GetClientRect(owner, &client)) {
    return;
  }
  MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&client), 2);
  int width = own.right - own.left;
  int height = own.bottom - own.top;
  Obstacles obstacles{window, owner, {}};
  EnumChildWindows(owner, AddControl, reinterpret_cast<LPARAM>(&obstacles));
  EnumWindows(AddProcessWindow, reinterpret_cast<LPARAM>(&obstacles));
  auto at = [&](int left, int top) { return RECT{left, top, left + width, top + height}; };
  auto place = [&](const RECT& where) {
    SetWindowPos(window, nullptr, where.left, where.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  int left = ownerBounds.left + (ownerBounds.right - ownerBounds.left - width) / 2;

  // The blank parts of the client area start at its top and below each
  // control; the lowest that holds the window takes it, in its middle.
  std::vector<int> tops{client.top};
  for (const RECT& rect : obstacles.rects) tops.push_back(rect.bottom);
  std::sort(tops.begin(), tops.end(), std::greater<int>());
  for (int top : tops) {
    int bottom = client.bottom;
    for (const RECT& rect : obstacles.rects) {
      if (rect.top >= top && rect.left < left + width && left < rect.right) bottom = std::min<int>(bottom, rect.top);
    }
    RECT where = at(left, top + std::max(0, (bottom - top - height) / 2));
    if (bottom - top >= height && Inside(where, client) && obstacles.clear(where)) return place(where);
  }
  int top = ownerBounds.top + (ownerBounds.bottom - ownerBounds.top - height) / 2;
  RECT area = WorkAreaAround(ownerBounds);
  for (const RECT& where : {at(left, ownerBounds.bottom), at(left, ownerBounds.top - height),
                            at(ownerBounds.right, top), at(ownerBounds.left - width, top)}) {
    if (Inside(where, area) && obstacles.clear(where)) return place(where);
  }
  place(at(left, top));
}

ModelessDialogThread::ModelessDialogThread() : created_(true, false) {}

HWND ModelessDialogThread::start(HMODULE module, int templateId, HWND parent, DLGPROC procedure,
                                 LPARAM parameter) {
  module_ = module;
  templateId_ = templateId;
  parent_ = parent;
  procedure_ = procedure;
  parameter_ = parameter;
  created_.reset();
  Thread::start();
  created_.wait();
  return window_;
}

void ModelessDialogThread::run() {
  SetThreadLanguage();
  window_ = CreateDialogParamA(module_, MAKEINTRESOURCEA(templateId_ & 0xFFFF), parent_, procedure_, parameter_);
  error_ = window_ ? 0 : GetLastError();
  created_.set();
  if (!window_) return;
  MSG message;
  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (IsDialogMessageA(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  window_ = nullptr;
}

}  // namespace corv
