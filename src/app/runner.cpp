// The runner of the installer program: the driver with the installer's own
// steps and the front end of the chosen mode.
#include "app/runner.h"

#include "app/frontend.h"
#include "app/packagesteps.h"
#include "kernel/driver.h"
#include "util/messages.h"

namespace corv {

int RunInstaller(int argc, char** argv) {
  return RunReportingFailures([&] {
    Driver driver(argc, argv, CreateFrontEnd, CreatePackageSteps());
    return driver.run();
  });
}

}  // namespace corv
