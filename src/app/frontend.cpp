#include "app/frontend.h"

#include "ui/guiinterface.h"
#include "ui/textinterface.h"

namespace corv {

std::unique_ptr<UserInterface> CreateFrontEnd(FrontEndKind kind, const Options& options) {
  if (kind == FrontEndKind::Text) return std::make_unique<TextInterface>(options);
  return std::make_unique<GuiInterface>();
}

}  // namespace corv
