#include "util/win32/corvwindows.h"

#include "ui/textinterface.h"

#include <cstdio>

#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

namespace {

void PrintLine(const AnsiString& oemText) {
  std::printf("%s\n", oemText.c_str());
  std::fflush(stdout);
}

}  // namespace

bool HasStandardOutput() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

void PrintConsoleMessage(Severity severity, const AnsiString& text) {
  AnsiString oem = AnsiToOem(text);
  if (severity == Severity::Information) {
    PrintLine(oem);
    return;
  }
  CORV_ASSERT(severity == Severity::Question || severity == Severity::Warning ||
              severity == Severity::SevereError);
  PrintLine(AnsiToOem(FormatMessageText(SeverityCaption(severity))) + ": " + oem);
}

TextInterface::TextInterface(const Options& options, InstallationSteps& installation)
    : TextInterface(options, installation, HasStandardOutput()) {}

TextInterface::TextInterface(const Options& options, InstallationSteps& installation,
                             bool hasConsole)
    : options_(options), installation_(installation), hasConsole_(hasConsole) {}

TextInterface::~TextInterface() = default;

int TextInterface::confirmOverPreviousVersion() {
  if (options_.force() || options_.noRegistration()) return kProceed;
  if (hasConsole_) {
    showMessage(Severity::Information, FormatMessageText(1408, installation_.packageName()));
  }
  return kStop;
}

PageResult TextInterface::askInstallProfile() {
  // Without /personal or /common the common profile stands, the choice the
  // wizard preselects: leaving it unset would fail later, when the product
  // key or a shortcut needs it.
  int profile = options_.profile() != kProfileNone ? options_.profile() : kProfileCommon;
  installation_.setInstallProfile(profile);
  return PageResult::Next;
}

PageResult TextInterface::askDestination() {
  if (const OptString& dest = options_.destination()) {
    OptString fixed = installation_.fixedDestination();
    if (fixed && !EqualsIgnoreCaseAscii(*dest, *fixed)) throw Error(1411, *fixed);
    installation_.setDestination(*dest);
  }
  return PageResult::Next;
}

PageResult TextInterface::askJre() {
  OptString chosen;
  if (const OptString& folder = options_.jreFolder()) {
    chosen = installation_.acceptJre(*folder);
    if (!chosen) throw FatalError(1308, *folder, installation_.requiredJreVersion());
  } else {
    chosen = installation_.firstFoundJre();
    if (!chosen) throw FatalError(1309, installation_.requiredJreVersion());
  }
  installation_.setJreFolder(*chosen);
  return PageResult::Next;
}

PageResult TextInterface::askServiceAccounts() {
  CORV_ASSERT(installation_.hasServices());
  OptString userService = installation_.firstUserAccountService();
  if (!userService) return PageResult::Next;
  const OptString& user = options_.userName();
  if (!user) throw FatalError(1306, *userService);
  installation_.setUserAccounts(*user, options_.password().value_or(XString()));
  return PageResult::Next;
}

PageResult TextInterface::askUpdateLocation() {
  if (const OptString& primary = options_.primaryLocation()) {
    if (installation_.considerPrimary(*primary) >= 0) {
      installation_.setDestination(*primary);
      return PageResult::Next;
    }
    OptString primaryName = installation_.primaryName();
    CORV_ASSERT(primaryName.has_value());
    throw FatalError(1310, installation_.packageName(), *primaryName);
  }
  OptString found = installation_.firstInstalledPrimary();
  if (!found) throw FatalError(1311, installation_.productName());
  installation_.setDestination(*found);
  return PageResult::Next;
}

PageResult TextInterface::askProgramFolder() {
  if (const OptString& folder = options_.programFolder()) installation_.setProgramFolder(*folder);
  return PageResult::Next;
}

PageResult TextInterface::runProgress() {
  consoleUpdater_.doneEvent().wait();
  return PageResult::Next;
}

PageResult TextInterface::showResult(const OptString& errorText, bool reboot) {
  bool update = installation_.isUpdate();
  XString name = installation_.packageName();
  if (errorText) {
    showMessage(Severity::SevereError, FormatMessageText(update ? 1314 : 1313, name, *errorText));
  } else {
    showMessage(Severity::Information, FormatMessageText(update ? 1410 : 1409, name));
    if (reboot) showMessage(Severity::Information, FormatMessageText(1307));
  }
  return PageResult::Next;
}

void TextInterface::showMessage(Severity severity, const AnsiString& text) {
  if (!hasConsole_) {
    UserInterface::showMessage(severity, text);
    return;
  }
  PrintConsoleMessage(severity, text);
}

}  // namespace corv
