#include "kernel/runner.h"

#include "kernel/driver.h"
#include "util/messages.h"

namespace corv {

int RunInstaller(int argc, char** argv) {
  try {
    Driver driver(argc, argv);
    return driver.run();
  } catch (const Exception& e) {
    ReportFatalError(e);
    return 1;
  }
}

}  // namespace corv
