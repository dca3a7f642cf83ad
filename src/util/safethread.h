// A thread whose failure is not lost on the worker: join() raises it again in
// the joining thread, with its own type.
#pragma once

#include <exception>
#include <memory>

#include "util/thread.h"

namespace corv {

class SafeThread : public Thread {
public:
  SafeThread();
  ~SafeThread() override;

  void start() override;
  // Joins the worker; then rethrows what escaped its run() as
  // CurrentFailure makes it: an Exception as itself, std::bad_alloc as
  // FatalError 1051, anything else as an AssertionFailedError of this module.
  uint32_t join() override;

private:
  class Runner;
  friend class Runner;
  std::unique_ptr<Runner> runner_;
  std::exception_ptr pending_;
};

}  // namespace corv
