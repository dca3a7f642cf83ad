#include "kernel/options.h"

#include "kernel/userinterface.h"
#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

namespace {

struct OptionName {
  const XChar* name;
  bool takesValue;
};

// In table order: the index is the option's identity.
const OptionName kOptionTable[] = {
    {u"gui", false},       {u"batch", false},    {u"personal", false}, {u"common", false},
    {u"dest", true},       {u"jre", true},       {u"folder", true},    {u"primary", true},
    {u"user", true},       {u"password", true},  {u"help", false},     {u"h", false},
    {u"?", false},         {u"no-aftrun", false}, {u"force", false},   {u"no-reg", false},
};

bool TakesValue(OptionIndex option) {
  return option != kOptionUnknown && kOptionTable[option].takesValue;
}

}  // namespace

OptionIndex LookupOption(const XString& argument) {
  if (argument.empty() || (argument[0] != u'-' && argument[0] != u'/')) return kOptionUnknown;
  XString name = argument.substr(1);
  for (int i = 0; i < static_cast<int>(sizeof kOptionTable / sizeof kOptionTable[0]); ++i) {
    if (EqualsIgnoreCaseAscii(name, kOptionTable[i].name)) return static_cast<OptionIndex>(i);
  }
  return kOptionUnknown;
}

Options::Options(int argc, const char* const* argv) {
  CORV_ASSERT(argc >= 0);
  arguments_.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    CORV_ASSERT(argv[i] != nullptr);
    arguments_.push_back(ToWide(argv[i]));
  }
}

void Options::PreScan() {
  for (size_t i = 1; i < arguments_.size(); ++i) {
    OptionIndex option = LookupOption(arguments_[i]);
    switch (option) {
      case kOptionGui:
      case kOptionBatch:
        // A second mode option ends the installer before any front end
        // exists; the report names this check.
        CORV_ASSERT_AT(mode_ == kModeNone, 141);
        mode_ = option == kOptionGui ? kModeGui : kModeBatch;
        break;
      case kOptionHelp:
      case kOptionH:
      case kOptionQuestionMark:
        help_ = true;
        break;
      default:
        if (TakesValue(option)) ++i;  // its value is never an option here
        break;
    }
  }
}

OptString* Options::valueField(OptionIndex option) {
  switch (option) {
    case kOptionDest: return &destination_;
    case kOptionJre: return &jreFolder_;
    case kOptionFolder: return &programFolder_;
    case kOptionPrimary: return &primaryLocation_;
    case kOptionUser: return &userName_;
    case kOptionPassword: return &password_;
    default: return nullptr;
  }
}

void Options::Parse() {
  CORV_ASSERT(!programName_);
  programName_ = arguments_.empty() ? XString() : arguments_[0];
  for (size_t i = 1; i < arguments_.size(); ++i) {
    const XString& argument = arguments_[i];
    OptionIndex option = LookupOption(argument);
    switch (option) {
      case kOptionUnknown:
        throw FatalError(msg::kUnknownOption, argument);
      case kOptionPersonal:
        profile_ = kProfilePersonal;
        break;
      case kOptionCommon:
        profile_ = kProfileCommon;
        break;
      case kOptionNoAftrun:
        noAfterRun_ = true;
        break;
      case kOptionForce:
        force_ = true;
        break;
      case kOptionNoReg:
        noRegistration_ = true;
        break;
      case kOptionGui:
      case kOptionBatch:
      case kOptionHelp:
      case kOptionH:
      case kOptionQuestionMark:
        break;  // the pre-scan took them
      default: {
        OptString* field = valueField(option);
        CORV_ASSERT(field != nullptr);
        if (i + 1 >= arguments_.size()) throw FatalError(msg::kOptionValueMissing, argument);
        *field = arguments_[++i];
        break;
      }
    }
  }
}

void Options::PrintUsage(UserInterface& ui) const {
  CORV_ASSERT(programName_.has_value());
  ui.showMessage(Severity::Information, FormatMessageText(msg::kUsage, *programName_));
}

}  // namespace corv
