// The front ends of the installer program: TextInterface for batch mode,
// GuiInterface otherwise.
#pragma once

#include <memory>

#include "kernel/driver.h"

namespace corv {

std::unique_ptr<UserInterface> CreateFrontEnd(FrontEndKind kind, const Options& options);

}  // namespace corv
