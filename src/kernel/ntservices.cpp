#include "kernel/ntservices.h"

namespace corv {

namespace {

constexpr uint32_t kOwnProcess = 16;   // SERVICE_WIN32_OWN_PROCESS
constexpr uint32_t kInteractive = 256; // SERVICE_INTERACTIVE_PROCESS

}  // namespace

OptString NTServices::firstUserAccountService() const {
  for (const ServiceEntry& entry : entries_) {
    if (entry.accountKind == ServiceEntry::kUserAccount) return entry.description;
  }
  return std::nullopt;
}

void NTServices::setUserAccounts(const XString& user, const XString& password) {
  for (ServiceEntry& entry : entries_) {
    if (entry.accountKind == ServiceEntry::kUserAccount) entry.SetAccount(ServiceEntry::kUserAccount, user, password);
  }
}

ServiceRegistration RegistrationOf(const ServiceEntry& entry) {
  ServiceRegistration r;
  bool localSystem = entry.accountKind == ServiceEntry::kLocalSystem;
  r.serviceType = kOwnProcess | (localSystem && entry.interactive ? kInteractive : 0);
  switch (entry.startKind) {
    case ServiceEntry::kAutomatic: r.startType = 2; break;
    case ServiceEntry::kOnDemand: r.startType = 3; break;
    case ServiceEntry::kDisabled: r.startType = 4; break;
    default: CORV_ASSERT(false);
  }
  if (!entry.dependencies.empty()) {
    AnsiString list;
    for (const XString& name : entry.dependencies) {
      list += ToAnsi(name);
      list += '\0';
    }
    list += '\0';
    r.dependencies = std::move(list);
  }
  if (!localSystem) {
    r.account = ToAnsi(entry.userName);
    r.password = ToAnsi(entry.password);
  }
  return r;
}

AnsiString ServiceBinaryPath(const AnsiString& executable) {
  if (executable.find_first_of(" \t") == AnsiString::npos) return executable;
  return "\"" + executable + "\"";
}

}  // namespace corv
