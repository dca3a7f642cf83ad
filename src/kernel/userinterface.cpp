#include "kernel/userinterface.h"

#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

Message<0> SeverityCaption(Severity severity) {
  static constexpr Message<0> kCaptions[] = {msg::kInformation, msg::kQuestion, msg::kWarning, msg::kSevereError};
  int value = static_cast<int>(severity);
  CORV_ASSERT(value >= 1 && value <= 4);
  return kCaptions[value - 1];
}

UserInterface::UserInterface() : windowEvent_(true, true) {}

UserInterface::~UserInterface() = default;

void UserInterface::setCurrentWindow(UIWindow* window) {
  if (window) {
    CORV_ASSERT(currentWindow_.load() == nullptr);
    currentWindow_.store(window);
    windowEvent_.set();
  } else {
    CORV_ASSERT(currentWindow_.load() != nullptr);
    currentWindow_.store(nullptr);
    windowEvent_.reset();
  }
}

UIWindow* UserInterface::waitCurrentWindow() {
  windowEvent_.wait();
  return currentWindow_.load();
}

void UserInterface::abortProgress() {
  if (UIWindow* window = currentWindow_.load()) window->closeFromOtherThread();
}

void* UserInterface::messageOwner() const {
  UIWindow* owner = currentWindow_.load();
  return owner ? owner->windowHandle() : nullptr;
}

void UserInterface::showMessage(Severity severity, const AnsiString& text) {
  static const uint32_t kIcons[] = {kIconInformation, kIconQuestion, kIconWarning, kIconError};
  Message<0> caption = SeverityCaption(severity);
  messageBox(messageOwner(), text, FormatMessageText(caption),
             kBoxOk | kIcons[static_cast<int>(severity) - 1]);
}

YesNoAnswer UserInterface::askYesNo(const AnsiString& caption, const AnsiString& text) {
  int pressed = messageBox(messageOwner(), text, caption, kBoxYesNo | kIconQuestion);
  return pressed == kBoxIdYes ? YesNoAnswer::Yes : YesNoAnswer::No;
}

}  // namespace corv
