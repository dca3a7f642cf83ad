// Registration and removal of the package's services through the service
// control manager (Windows only).
#pragma once

#include <cstdint>
#include <functional>

#include "kernel/ntservices.h"
#include "util/xstring.h"

namespace corv {

class Logger;

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
