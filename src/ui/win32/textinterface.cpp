#include "util/win32/corvwindows.h"

#include "ui/textinterface.h"

#include <cstdio>

#include "kernel/installinfo.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

namespace {

void PrintLine(const AnsiString& oemText) {
  std::fputs((oemText + "\n").c_str(), stdout);
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

namespace {

InstallInfo& Record() {
  InstallInfo* info = InstallInfo::Current();
  CORV_ASSERT(info != nullptr);
  return *info;
}

XString PackageName() { return Record().record().packageName.value_or(XString()); }

}  // namespace

TextInterface::TextInterface(const Options& options) : TextInterface(options, HasStandardOutput()) {}

TextInterface::TextInterface(const Options& options, bool hasConsole)
    : options_(options), hasConsole_(hasConsole) {}

TextInterface::~TextInterface() = default;

PreviousVersionAnswer TextInterface::confirmOverPreviousVersion() {
  if (options_.force() || options_.noRegistration()) return PreviousVersionAnswer::Proceed;
  if (hasConsole_) {
    showMessage(Severity::Information, FormatMessageText(msg::kPreviousVersionFound, PackageName()));
  }
  return PreviousVersionAnswer::Stop;
}

PageResult TextInterface::askInstallProfile() {
  // Without /personal or /common the common profile stands, the choice the
  // wizard preselects: leaving it unset would fail later, when the product
  // key or a shortcut needs it.
  int profile = options_.profile() != kProfileNone ? options_.profile() : kProfileCommon;
  Record().choices().setInstallProfile(profile);
  return PageResult::Next;
}

PageResult TextInterface::askDestination() {
  if (const OptString& dest = options_.destination()) {
    OptString fixed = Record().fixedDestination();
    if (fixed && !EqualsIgnoreCaseAscii(*dest, *fixed)) throw Error(msg::kDestinationFixed, *fixed);
    Record().choices().setDestination(*dest);
  }
  return PageResult::Next;
}

PageResult TextInterface::askJre() {
  JRELookup& jres = Record().jreLookup();
  int index = 0;
  if (const OptString& folder = options_.jreFolder()) {
    index = jres.consider(*folder);
    if (index < 0) throw FatalError(msg::kJreWrongVersion, *folder, jres.requiredVersion());
  } else {
    jres.searchRegistry();
    if (jres.candidateCount() == 0) throw FatalError(msg::kJreNotFound, jres.requiredVersion());
  }
  Record().choices().setJreFolder(jres.candidate(index), false);
  return PageResult::Next;
}

PageResult TextInterface::askServiceAccounts() {
  NTServices& services = Record().services();
  CORV_ASSERT(services.count() > 0);
  OptString userService = services.firstUserAccountService();
  if (!userService) return PageResult::Next;
  const OptString& user = options_.userName();
  if (!user) throw FatalError(msg::kServiceUserMissing, *userService);
  services.setUserAccounts(*user, options_.password().value_or(XString()));
  return PageResult::Next;
}

PageResult TextInterface::askUpdateLocation() {
  InstallInfo& info = Record();
  PrimaryLookup& primaries = info.primaryLookup();
  if (const OptString& primary = options_.primaryLocation()) {
    if (primaries.consider(*primary) >= 0) {
      info.choices().setDestination(*primary);
      return PageResult::Next;
    }
    const OptString& primaryName = info.record().primaryName;
    CORV_ASSERT(primaryName.has_value());
    throw FatalError(msg::kPrimaryNotInFolder, PackageName(), *primaryName);
  }
  primaries.search();
  if (primaries.candidateCount() == 0) {
    throw FatalError(msg::kPrimaryNotFound, info.record().productOrPackageName().value_or(XString()));
  }
  info.choices().setDestination(primaries.candidate(0));
  return PageResult::Next;
}

PageResult TextInterface::askProgramFolder() {
  if (const OptString& folder = options_.programFolder()) Record().choices().programFolder = *folder;
  return PageResult::Next;
}

PageResult TextInterface::runProgress() {
  consoleUpdater_.doneEvent().wait();
  return PageResult::Next;
}

PageResult TextInterface::showResult(const OptString& errorText, bool reboot) {
  bool update = Record().record().isUpdate();
  XString name = PackageName();
  if (errorText) {
    showMessage(Severity::SevereError,
                FormatMessageText(Either(update, msg::kUpdateFailed, msg::kInstallationFailed), name, *errorText));
  } else {
    showMessage(Severity::Information, FormatMessageText(Either(update, msg::kUpdated, msg::kInstalled), name));
    if (reboot) showMessage(Severity::Information, FormatMessageText(msg::kRebootRequired));
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
