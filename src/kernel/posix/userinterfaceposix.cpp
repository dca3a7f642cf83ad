// The host has no message boxes: a box is never shown, which its callers
// treat as a box that failed (askYesNo answers No).
#include "kernel/userinterface.h"

namespace corv {

int UserInterface::messageBox(void*, const AnsiString&, const AnsiString&, uint32_t) {
  return kBoxFailed;
}

}  // namespace corv
