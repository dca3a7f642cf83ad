// The base front end's message box over the Win32 API.
#include "util/win32/corvwindows.h"

#include "kernel/userinterface.h"

namespace corv {

static_assert(MB_OK == 0x0 && MB_YESNO == 0x4 && MB_ICONERROR == 0x10 && MB_ICONQUESTION == 0x20 &&
                  MB_ICONWARNING == 0x30 && MB_ICONINFORMATION == 0x40,
              "box styles are the system's");
static_assert(IDOK == 1 && IDYES == 6 && IDNO == 7, "box results are the system's");

int UserInterface::messageBox(void* owner, const AnsiString& text, const AnsiString& caption,
                              uint32_t style) {
  // The box comes to the front even when another thread of the program has
  // the foreground (the worker's windows).
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style | MB_SETFOREGROUND);
}

}  // namespace corv
