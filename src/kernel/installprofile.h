// For whom the product is installed: every user of the machine (common) or
// the user who runs the installer (personal). The values are those of the
// command line's /common and /personal and of the install-info record.
#pragma once

namespace corv {

enum InstallProfile : int { kProfileNone = 0, kProfileCommon = 1, kProfilePersonal = 2 };

}  // namespace corv
