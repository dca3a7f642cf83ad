// The package's Windows NT services: the entries the install-info record
// reads, with the account choices made during the run. Registering them
// with the service control manager is the integration step's.
//
// This header is portable: it holds data only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

struct ServiceEntry {
  enum StartKind : uint8_t { kAutomatic = 1, kOnDemand = 2, kDisabled = 3 };
  enum AccountKind : uint8_t { kLocalSystem = 1, kUserAccount = 2 };

  XString program;      // the service executable, relative to the destination
  XString displayName;
  XString description;  // also how the wizard and batch errors name it
  uint8_t startKind = kAutomatic;
  uint8_t accountKind = kLocalSystem;
  bool interactive = false;  // only with the local system account
  XString userName;
  XString password;
  std::vector<XString> dependencies;  // services that must run first

  // Chooses the account; the user account also clears the interactive
  // flag. A kind other than 1 or 2 is an assertion failure.
  void SetAccount(int kind, const XString& user, const XString& pass) {
    CORV_ASSERT(kind == kLocalSystem || kind == kUserAccount);
    accountKind = static_cast<uint8_t>(kind);
    userName = user;
    password = pass;
    if (kind == kUserAccount) interactive = false;
  }
};

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

private:
  std::vector<ServiceEntry> entries_;
};

}  // namespace corv
