#include "kernel/overwritepolicy.h"

#include "util/exceptions.h"

namespace corv {

bool OverwritePolicy::decide(File& existing, FileTime packagedTime, int64_t /*packagedSize*/) {
  switch (mode_) {
    case kAlways:
      return true;
    case kNever:
      return false;
    case kIfOlder:
      // Signed times; one that cannot be read counts as 0.
      return existing.isOlderThan(packagedTime);
    default:
      CORV_ASSERT_AT(false, 38);
      return false;
  }
}

}  // namespace corv
