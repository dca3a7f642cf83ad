// The runner of the installer program: the driver with the installer's own
// steps and the front end of the chosen mode.
#include "app/runner.h"

#include "app/frontend.h"
#include "app/packagesteps.h"
#include "kernel/driver.h"
#include "util/messages.h"

namespace corv {

int RunInstaller(int argc, char** argv) {
  try {
    Driver driver(argc, argv, CreateFrontEnd, CreatePackageSteps());
    return driver.run();
  } catch (const Exception& e) {
    ReportFatalError(e);
    return 1;
  } catch (...) {
    // Never terminate: whatever escaped is reported as a failure.
    try {
      std::rethrow_exception(CurrentFailure(__FILE__, __LINE__));
    } catch (const Exception& e) {
      ReportFatalError(e);
    } catch (...) {
    }
    return 1;
  }
}

}  // namespace corv
