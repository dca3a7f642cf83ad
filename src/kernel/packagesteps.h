// The installer's own InstallationSteps: the steps over the package inside
// the installer's file.
//
// The package reader and everything that needs a record (extraction, system
// integration, binding, the lookups, the install log) are not built yet, so
// readPackage fails as for a file that carries no package (FatalError 1181)
// and no record ever exists. The operations that need a record are then
// unreachable; calling one is an assertion failure. Each is wired to its
// module as that module is built.
#pragma once

#include <memory>

#include "kernel/installationsteps.h"

namespace corv {

std::unique_ptr<InstallationSteps> CreatePackageSteps();

}  // namespace corv
