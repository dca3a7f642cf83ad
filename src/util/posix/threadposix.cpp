// Threads and events on the host, over the standard library.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "util/exceptions.h"
#include "util/thread.h"

namespace corv {

struct Thread::Handle {
  std::thread thread;
};

Thread::Thread() : handle_(std::make_unique<Handle>()) {}

Thread::~Thread() {
  if (handle_->thread.joinable()) handle_->thread.detach();
}

void Thread::start() {
  try {
    handle_->thread = std::thread([this] { run(); });
  } catch (const std::system_error& e) {
    throw FatalError(msg::kThreadCreationFailed, int32_t{1}, static_cast<int32_t>(e.code().value()));
  }
}

uint32_t Thread::join() {
  CORV_ASSERT_AT(handle_->thread.joinable(), 81);
  handle_->thread.join();
  return 0;
}

struct Semaphore::Handle {
  std::mutex mutex;
  std::condition_variable changed;
  int32_t count = 0;
};

Semaphore::Semaphore(int32_t initial) : handle_(std::make_unique<Handle>()) { handle_->count = initial; }

Semaphore::~Semaphore() = default;

void Semaphore::acquire() {
  std::unique_lock<std::mutex> lock(handle_->mutex);
  handle_->changed.wait(lock, [this] { return handle_->count > 0; });
  --handle_->count;
}

void Semaphore::release() {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  ++handle_->count;
  handle_->changed.notify_one();
}

struct Event::Handle {
  std::mutex mutex;
  std::condition_variable changed;
  bool manualReset = false;
  bool signalled = false;
};

Event::Event(bool manualReset, bool initiallySignalled) : handle_(std::make_unique<Handle>()) {
  handle_->manualReset = manualReset;
  handle_->signalled = initiallySignalled;
}

Event::~Event() = default;

void Event::set() {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  handle_->signalled = true;
  if (handle_->manualReset) {
    handle_->changed.notify_all();
  } else {
    handle_->changed.notify_one();
  }
}

void Event::reset() {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  handle_->signalled = false;
}

uint32_t Event::wait() {
  std::unique_lock<std::mutex> lock(handle_->mutex);
  handle_->changed.wait(lock, [this] { return handle_->signalled; });
  if (!handle_->manualReset) handle_->signalled = false;
  return 0;
}

void Pause(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace corv
