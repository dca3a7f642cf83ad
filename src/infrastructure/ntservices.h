// The package's Windows NT services: the list of the record's entries
// (ServiceEntry, installrecord.h), with the account choices made during the
// run, and their registration with the service control manager.
//
// The entries and RegistrationOf are portable; the operations on the
// service control manager (InstallServices and below) exist only on
// Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "kernel/installrecord.h"
#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

// The package's services, in package order.
class NTServices {
public:
  void add(ServiceEntry entry) { entries_.push_back(std::move(entry)); }
  size_t count() const { return entries_.size(); }
  // Entry `index`; out of range is an assertion failure.
  ServiceEntry& entry(size_t index) {
    CORV_ASSERT(index < entries_.size());
    return entries_[index];
  }
  const ServiceEntry& entry(size_t index) const {
    CORV_ASSERT(index < entries_.size());
    return entries_[index];
  }

  // The description of the first entry that runs under a user account, or
  // none when every entry runs under the local system account.
  OptString firstUserAccountService() const;
  // Gives every entry that runs under a user account that account.
  void setUserAccounts(const XString& user, const XString& password);

private:
  std::vector<ServiceEntry> entries_;
};

// What the service control manager is given for an entry.
struct ServiceRegistration {
  uint32_t serviceType = 0;  // 16 own process; 272 also interactive
  uint32_t startType = 0;    // 2 automatic, 3 on demand, 4 disabled
  // Each name zero-terminated, then one more zero; none without
  // dependencies.
  std::optional<AnsiString> dependencies;
  // The user account's name and password; none for the local system
  // account.
  std::optional<AnsiString> account;
  std::optional<AnsiString> password;
};

// The registration of `entry`: the interactive type only for the local
// system account with the interactive flag; start kinds 1, 2, 3 give start
// types 2, 3, 4, any other is an assertion failure. Texts are in the ANSI
// code page (FatalError 1055 for one it cannot take).
ServiceRegistration RegistrationOf(const ServiceEntry& entry);

// The binary path the service control manager runs: the executable's path,
// in double quotes when it holds a blank or a tab (so that the system does
// not take a leading part of it for the program).
AnsiString ServiceBinaryPath(const AnsiString& executable);

class Logger;

// ---- Windows only.

// The service name bound into an installed executable (its "NTService"
// property), or none when it carries none. May throw what reading the
// executable throws.
using ServiceNameReader = std::function<OptString(const XString& executablePath)>;

// Registers every entry in order (InstallService); the first failure ends
// the loop with its FatalError. Only on Windows NT (assertion failure
// otherwise).
void InstallServices(const NTServices& services, const XString& destination, const ServiceNameReader& nameOf,
                     Logger& log);

// Registers one entry: its program made absolute against `destination`,
// named by `nameOf` of that path, with the entry's display name, type,
// start type, dependencies and account; on Windows NT 5 or later also its
// description. Logs the service's name in `log` once it is created.
// FatalError 1143 for a path the system cannot resolve within 259
// characters, 1144 when the service control manager cannot be opened, 1145
// when the service cannot be created (also for an executable without a
// service name), each with the system's text for the error.
void InstallService(const ServiceEntry& entry, const XString& destination, const ServiceNameReader& nameOf,
                    Logger& log);

// Stops the service (waiting while it is stopping, up to a minute) and
// deletes it. 0 on success; 1 when the manager or the service cannot be
// opened or the service cannot be deleted.
int UninstallService(const XString& name);

// The service control manager knows a service of this name (also true when
// the manager cannot be asked).
bool ServiceExists(const XString& name);

// The system's text for an error code, or the code in decimal when it has
// none.
XString SystemErrorText(uint32_t code);

}  // namespace corv
