// The package's Windows NT services: the list of the record's entries
// (ServiceEntry, installrecord.h), with the account choices made during the
// run, and what the service control manager is given for each. The
// operations on the manager are infrastructure/servicecontrol.h.
#pragma once

#include <cstddef>
#include <cstdint>
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

}  // namespace corv
