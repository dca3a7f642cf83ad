#include "kernel/driver.h"

#include "util/exceptions.h"

namespace corv {

Driver::Driver(int argc, char** argv) : argc_(argc), argv_(argv) {}

Driver::~Driver() = default;

int Driver::run() { throw FatalError(1181); }

}  // namespace corv
