// The installer's own InstallationSteps: the steps over the package inside
// the installer's file, its install-info record, the extraction and the
// system integration (Windows).
#pragma once

#include <memory>

#include "kernel/installationsteps.h"

namespace corv {

std::unique_ptr<InstallationSteps> CreatePackageSteps();

}  // namespace corv
