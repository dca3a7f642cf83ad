// The base of every wizard page: the common look (the first page centred,
// every later one where the page before it was; the program's icon, white
// header band, picture, bold header, title, button labels) and the buttons
// Next, Back and Cancel.
#pragma once

#include "ui/win32/dialog.h"
#include "util/win32/handles.h"
#include "xinstres/resourceids.h"

namespace corv {

class WizardPage : public Dialog {
public:
  using Dialog::Dialog;
  ~WizardPage() override;

  // The page's own initialisation, after the common one.
  virtual bool onInitPage() = 0;
  virtual void onDestroyPage() {}
  // Asks the exit confirmation (caption 1406, text 1405); Yes ends the page
  // with Cancel, No keeps it as it is.
  virtual void onCancel();
  // Ends the page with Next.
  virtual void onNext();
  // Ends the page with Back.
  virtual void onBack();
  // The bitmap of the picture control: the header picture.
  virtual HBITMAP picture() const { return resources().headerPicture(); }
  // Whether the picture covers its control to the edges, enlarged when it
  // is smaller (the large picture of the welcome and finish pages); else it
  // stands in the control's lower right corner at its own size.
  virtual bool pictureFills() const { return false; }
  // The window title's message, formatted with the package name; 0 for an
  // empty title.
  virtual int titleMessage() const;
  virtual Message<0> nextLabel() const { return msg::kNext; }
  virtual Message<0> backLabel() const { return msg::kBack; }
  virtual Message<0> cancelLabel() const { return msg::kCancel; }
  // Whether the next page opens where this one was when it closed.
  virtual bool placesNextPage() const { return true; }
  // Messages the page handles itself; 0 when not handled.
  virtual INT_PTR defaultHandler(UINT message, WPARAM wParam, LPARAM lParam);
  // The "brush" property of the control, none when it has none.
  virtual HBRUSH onCtlColorStatic(HDC dc, HWND control);

  bool onInitDialog() override;
  void onDestroy() override;
  INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Runs the page and returns how the user left it.
  PageResult runWizardPage();

protected:
  void endPage(PageResult result) { endDialog(hwnd(), static_cast<INT_PTR>(result)); }
  // Paints the control's background with the white brush.
  void paintWhite(int control);
  void enableItem(int control, bool enabled) { EnableWindow(item(control), enabled); }
  void showItem(int control, bool shown) { ShowWindow(item(control), shown ? SW_SHOW : SW_HIDE); }
  HFONT boldFont() const { return boldFont_.get(); }
  HFONT underlineFont() const { return underlineFont_.get(); }

private:
  void deleteFonts();

  HFONT dialogFont_ = nullptr;
  win32::UniqueGdiObject<HFONT> boldFont_;
  win32::UniqueGdiObject<HFONT> underlineFont_;
};

}  // namespace corv
