#include "util/safethread.h"

#include "util/exceptions.h"

namespace corv {

class SafeThread::Runner : public Thread {
public:
  explicit Runner(SafeThread& owner) : owner_(owner) {}

  void run() override {
    try {
      owner_.run();
    } catch (...) {
      owner_.pending_ = CurrentFailure(__FILE__, 42);
    }
  }

private:
  SafeThread& owner_;
};

SafeThread::SafeThread() : runner_(std::make_unique<Runner>(*this)) {}

SafeThread::~SafeThread() = default;

void SafeThread::start() { runner_->start(); }

uint32_t SafeThread::join() {
  uint32_t result = runner_->join();
  if (pending_) {
    std::exception_ptr pending = pending_;
    pending_ = nullptr;
    std::rethrow_exception(pending);
  }
  return result;
}

}  // namespace corv
