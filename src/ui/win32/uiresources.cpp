#include "ui/win32/uiresources.h"

#include <commctrl.h>

#include "util/exceptions.h"
#include "util/messages.h"
#include "xinstres/resourceids.h"

namespace corv {

namespace {

bool g_loaded = false;

// The library's pictures and icons.
constexpr int kLargePicture = IDB_EXTERIOR;
constexpr int kHeaderPicture = IDB_HEADER;
constexpr int kWindowIcon = IDI_PRODUCT;
constexpr int kMessageIcon = IDI_MESSAGE;

// The library's messages: numbers 412 to 699.
constexpr int kFirstLibraryMessage = 412;
constexpr int kEndLibraryMessages = 700;

HBITMAP LoadPicture(HMODULE library, int id) {
  return library ? LoadBitmapA(library, MAKEINTRESOURCEA(id)) : nullptr;
}

HICON LoadIconFrom(HMODULE library, int id) {
  return library ? LoadIconA(library, MAKEINTRESOURCEA(id)) : nullptr;
}

}  // namespace

UIResources::UIResources(const Directory& auxiliaryFolder, const OptString& splashFile) {
  CORV_ASSERT(!g_loaded);
  g_loaded = true;
  library_.reset(LoadLibraryA(ToAnsi(File(auxiliaryFolder, XString(u"xinstres.dll")).widePath()).c_str()));
  whiteBrush_.reset(CreateSolidBrush(RGB(255, 255, 255)));
  windowIcon_ = LoadIconFrom(library(), kWindowIcon);
  messageIcon_ = LoadIconFrom(library(), kMessageIcon);
  headerPicture_.reset(LoadPicture(library(), kHeaderPicture));
  welcomePicture_.reset(LoadPicture(library(), kLargePicture));
  finishPicture_.reset(LoadPicture(library(), kLargePicture));
  if (splashFile) {
    AnsiString path = ToAnsi(File(auxiliaryFolder, *splashFile).widePath());
    splashPicture_.reset(
        static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
  }
  RegisterMessageRange(kFirstLibraryMessage, kEndLibraryMessages, library());
  InitCommonControls();
}

UIResources::~UIResources() {
  UnregisterMessageRanges(library());
  whiteBrush_.reset();
  headerPicture_.reset();
  welcomePicture_.reset();
  finishPicture_.reset();
  splashPicture_.reset();
  library_.reset();
  g_loaded = false;
}

}  // namespace corv
