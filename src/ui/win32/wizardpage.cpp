#include "ui/win32/wizardpage.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "kernel/installinfo.h"
#include "util/exceptions.h"

namespace corv {

namespace {

// The window procedure of the static controls, kept by the first
// replacement: every subclassed control is a static.
WNDPROC g_staticProc = nullptr;

HBRUSH WhiteBrushOf(HWND control) { return static_cast<HBRUSH>(GetPropA(control, kBrushProperty)); }

// The white header band: its painted area filled with the white brush.
LRESULT CALLBACK WhiteAreaProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control, &paint);
    if (HBRUSH brush = WhiteBrushOf(control)) FillRect(dc, &paint.rcPaint, brush);
    EndPaint(control, &paint);
    return 0;
  }
  if (message == WM_DESTROY) RemovePropA(control, kBrushProperty);
  return CallWindowProcA(g_staticProc, control, message, wParam, lParam);
}

// What the picture control draws: the part of the bitmap it shows and the
// rectangle of the control it covers.
struct PictureRecord {
  HBITMAP bitmap;
  RECT from;
  RECT to;
};

// Where a bitmap of `width` by `height` pixels goes in a control of `area`:
// the control's lower right corner shows the bitmap's, and what sticks out
// at the left or top is cut off. With `fill`, a bitmap that does not reach
// the control's edges is enlarged, keeping its proportions, until it covers
// the control; without, it stands as it is on the control's white.
PictureRecord FitPicture(HBITMAP bitmap, int width, int height, const RECT& area, bool fill) {
  PictureRecord record{bitmap, {0, 0, width, height}, area};
  int areaWidth = area.right - area.left;
  int areaHeight = area.bottom - area.top;
  if (width <= 0 || height <= 0 || areaWidth <= 0 || areaHeight <= 0) return record;
  if (!fill) areaWidth = std::min(areaWidth, width), areaHeight = std::min(areaHeight, height);
  // Scaled by num / den, with num / den at least 1: the larger ratio of
  // the two sides when the bitmap is too small, else none.
  int64_t num = 1;
  int64_t den = 1;
  if (int64_t{areaWidth} * height >= int64_t{areaHeight} * width) {
    if (areaWidth > width) num = areaWidth, den = width;
  } else if (areaHeight > height) {
    num = areaHeight, den = height;
  }
  // The part of the bitmap that fills the control once scaled, rounded up so
  // that no row or column of the control stays empty.
  int shownWidth = static_cast<int>(std::min<int64_t>(width, (int64_t{areaWidth} * den + num - 1) / num));
  int shownHeight = static_cast<int>(std::min<int64_t>(height, (int64_t{areaHeight} * den + num - 1) / num));
  record.from = {width - shownWidth, height - shownHeight, width, height};
  int drawnWidth = static_cast<int>(int64_t{shownWidth} * num / den);
  int drawnHeight = static_cast<int>(int64_t{shownHeight} * num / den);
  record.to = {area.right - drawnWidth, area.bottom - drawnHeight, area.right, area.bottom};
  return record;
}

// The picture control: the bitmap fitted to it (FitPicture) on white;
// kSetPicture's wParam asks for the fill.
LRESULT CALLBACK PictureProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* record = static_cast<PictureRecord*>(GetPropA(control, kInfoProperty));
  switch (message) {
    case kSetPicture: {
      auto bitmap = reinterpret_cast<HBITMAP>(lParam);
      RECT client;
      GetClientRect(control, &client);
      BITMAP info = {};
      if (bitmap) GetObjectA(bitmap, sizeof info, &info);
      auto fitted = std::make_unique<PictureRecord>(FitPicture(bitmap, info.bmWidth, info.bmHeight, client, wParam != 0));
      delete record;
      SetPropA(control, kInfoProperty, fitted.release());
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(control, &paint);
      if (HBRUSH brush = WhiteBrushOf(control)) FillRect(dc, &paint.rcPaint, brush);
      if (record && record->bitmap) {
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, record->bitmap);
        const RECT& to = record->to;
        const RECT& from = record->from;
        int oldMode = SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, to.left, to.top, to.right - to.left, to.bottom - to.top, source, from.left, from.top,
                   from.right - from.left, from.bottom - from.top, SRCCOPY);
        SetStretchBltMode(dc, oldMode);
        SelectObject(source, old);
        DeleteDC(source);
      }
      EndPaint(control, &paint);
      return 0;
    }
    case WM_DESTROY:
      delete record;
      RemovePropA(control, kInfoProperty);
      RemovePropA(control, kBrushProperty);
      return 0;
    default:
      return DefWindowProcA(control, message, wParam, lParam);
  }
}

void Subclass(HWND control, WNDPROC procedure) {
  auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
  if (!g_staticProc) g_staticProc = previous;
}

HFONT DeriveFont(HFONT font, LONG weight, bool underline) {
  LOGFONTA look = {};
  if (!GetObjectA(font, sizeof look, &look)) return nullptr;
  look.lfWeight = weight;
  look.lfUnderline = underline ? TRUE : FALSE;
  return CreateFontIndirectA(&look);
}

}  // namespace

WizardPage::~WizardPage() { deleteFonts(); }

void WizardPage::deleteFonts() {
  boldFont_.reset();
  underlineFont_.reset();
}

int WizardPage::titleMessage() const { return msg::kWindowTitle; }

void WizardPage::onCancel() {
  if (askYesNo(msg::kExitConfirmation, msg::kConfirmExit)) endPage(PageResult::Cancel);
}

void WizardPage::onNext() { endPage(PageResult::Next); }

void WizardPage::onBack() { endPage(PageResult::Back); }

INT_PTR WizardPage::defaultHandler(UINT, WPARAM, LPARAM) { return 0; }

HBRUSH WizardPage::onCtlColorStatic(HDC dc, HWND control) {
  auto brush = static_cast<HBRUSH>(GetPropA(control, kBrushProperty));
  // Text drawn on a painted background keeps that background.
  if (brush) SetBkMode(dc, TRANSPARENT);
  return brush;
}

void WizardPage::paintWhite(int control) {
  if (HWND child = item(control)) SetPropA(child, kBrushProperty, resources().whiteBrush());
}

bool WizardPage::onInitDialog() {
  // Where the previous page was; the first page in the middle.
  if (std::optional<POINT> corner = resources().pagePosition()) {
    PlaceWindowAt(hwnd(), *corner);
  } else {
    PlaceWindow(hwnd(), 1, 1, 1, 1);
  }
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(resources().windowIcon()));
  if (HWND area = item(IDC_WHITE_AREA)) {
    SetPropA(area, kBrushProperty, resources().whiteBrush());
    Subclass(area, WhiteAreaProc);
  }
  if (HWND pictureControl = item(IDC_PICTURE)) {
    SetPropA(pictureControl, kBrushProperty, resources().whiteBrush());
    Subclass(pictureControl, PictureProc);
    SendMessageA(pictureControl, kSetPicture, pictureFills(), reinterpret_cast<LPARAM>(picture()));
  }
  paintWhite(IDC_HEADER);
  paintWhite(IDC_SUBHEADER);
  deleteFonts();
  dialogFont_ = static_cast<HFONT>(GetPropA(hwnd(), kFontProperty));
  if (dialogFont_) {
    boldFont_.reset(DeriveFont(dialogFont_, FW_BOLD, false));
    underlineFont_.reset(DeriveFont(dialogFont_, FW_NORMAL, true));
    SendMessageA(item(IDC_HEADER), WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.get()), TRUE);
  }
  const InstallInfo* info = InstallInfo::Current();
  if (int title = titleMessage()) {
    setTitle(FormatMessageTextWide(title, info ? info->record().packageName.value_or(XString()) : XString()));
  } else {
    setTitle(XString());
  }
  setItemMessage(IDC_BACK_BUTTON, backLabel());
  setItemMessage(IDC_NEXT_BUTTON, nextLabel());
  setItemMessage(IDC_CANCEL_BUTTON, cancelLabel());
  bool result = onInitPage();
  ui().setCurrentWindow(this);
  SetForegroundWindow(hwnd());
  return result;
}

void WizardPage::onDestroy() {
  RECT bounds;
  if (placesNextPage() && GetWindowRect(hwnd(), &bounds)) resources().setPagePosition({bounds.left, bounds.top});
  onDestroyPage();
  deleteFonts();
  ui().setCurrentWindow(nullptr);
}

INT_PTR WizardPage::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_NEXT_BUTTON:
          onNext();
          break;
        case IDC_BACK_BUTTON:
          onBack();
          break;
        case IDC_CANCEL_BUTTON:
          onCancel();
          break;
        default:
          break;
      }
      return defaultHandler(message, wParam, lParam);
    case WM_CLOSE:
      onCancel();
      return defaultHandler(message, wParam, lParam);
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(
          onCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case kCloseFromOtherThread:
    case kEndWithCancel:
      endPage(PageResult::Cancel);
      return 0;
    default:
      return defaultHandler(message, wParam, lParam);
  }
}

PageResult WizardPage::runWizardPage() {
  INT_PTR result = runPage();
  CORV_ASSERT(result >= 1 && result <= 3);
  return static_cast<PageResult>(result);
}

}  // namespace corv
