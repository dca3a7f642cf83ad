// Threads, semaphores and events.
//
// Thread: a system thread running the overridable run(); started once and
// joined once. Event: a manual- or auto-reset event object. A failed wait is
// an assertion failure.
#pragma once

#include <cstdint>
#include <memory>

namespace corv {

class Thread {
public:
  Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Closes the thread handle; the thread itself must have been joined.
  virtual ~Thread();

  virtual void run() = 0;
  // Creates the thread suspended, then resumes it. A creation failure throws
  // FatalError 1053 with 1 and the system's error code.
  virtual void start();
  // Waits for the thread's end; returns the wait result (0).
  virtual uint32_t join();

  struct Handle;

private:
  std::unique_ptr<Handle> handle_;
};

// A counting semaphore: acquire waits until the count is above zero and
// takes one; release adds one.
class Semaphore {
public:
  explicit Semaphore(int32_t initial);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;
  ~Semaphore();

  void acquire();
  void release();

  struct Handle;

private:
  std::unique_ptr<Handle> handle_;
};

class Event {
public:
  Event(bool manualReset, bool initiallySignalled);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event();

  void set();
  void reset();
  // Waits until signalled; returns the wait result (0).
  uint32_t wait();

  struct Handle;

private:
  std::unique_ptr<Handle> handle_;
};

// Lets the calling thread wait `milliseconds`.
void Pause(uint32_t milliseconds);

}  // namespace corv
