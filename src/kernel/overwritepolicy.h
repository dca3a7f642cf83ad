// Whether extraction replaces a file that exists already at its place.
//
// The package's overwrite mode picks the policy: modes 1 to 3 are decided
// here without asking anybody; mode 4 is the front end's asking policy,
// another implementation of the same interface.
#pragma once

#include <cstdint>

#include "util/file.h"

namespace corv {

class AbstractOverwritePolicy {
public:
  virtual ~AbstractOverwritePolicy() = default;
  // `existing` is the file found at the place of a packaged file of the
  // given modification time and size. True: replace it; false: keep it.
  virtual bool decide(File& existing, FileTime packagedTime, int64_t packagedSize) = 0;
};

class OverwritePolicy : public AbstractOverwritePolicy {
public:
  enum Mode : int {
    kAlways = 1,   // always overwrite
    kNever = 2,    // keep every existing file
    kIfOlder = 3,  // overwrite a file older than the packaged one; equal times keep it
    kAsk = 4,      // the front end's asking policy; never stored here
  };

  // Any mode is accepted here; a mode other than 1 to 3 fails as an
  // assertion when the first existing file is met, not before.
  explicit OverwritePolicy(int mode) : mode_(mode) {}

  bool decide(File& existing, FileTime packagedTime, int64_t packagedSize) override;

  int mode() const { return mode_; }

private:
  int mode_;
};

}  // namespace corv
