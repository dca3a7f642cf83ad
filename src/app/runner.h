// The runner: builds the driver, runs it and turns an escaped failure into
// the fatal-error report.
#pragma once

namespace corv {

// Returns the process exit code: the run's result, or 1 after a failure that
// escaped the driver (reported by ReportFatalError).
int RunInstaller(int argc, char** argv);

}  // namespace corv
