// Threads and events over the Win32 API.
#include "util/win32/corvwindows.h"

#include "util/exceptions.h"
#include "util/thread.h"
#include "util/win32/handles.h"

namespace corv {

struct Thread::Handle {
  win32::UniqueHandle thread;
};

namespace {

DWORD WINAPI ThreadProc(LPVOID parameter) {
  static_cast<Thread*>(parameter)->run();
  return 0;
}

}  // namespace

Thread::Thread() : handle_(std::make_unique<Handle>()) {}

Thread::~Thread() = default;

void Thread::start() {
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 4096, ThreadProc, this, CREATE_SUSPENDED, &id);
  if (!h) throw FatalError(msg::kThreadCreationFailed, int32_t{1}, static_cast<int32_t>(GetLastError()));
  handle_->thread.reset(h);
  ResumeThread(h);
}

uint32_t Thread::join() {
  DWORD result = WaitForSingleObject(handle_->thread.get(), INFINITE);
  CORV_ASSERT_AT(result != WAIT_FAILED, 81);
  return result;
}

struct Semaphore::Handle {
  win32::UniqueHandle semaphore;
};

Semaphore::Semaphore(int32_t initial) : handle_(std::make_unique<Handle>()) {
  handle_->semaphore.reset(CreateSemaphoreA(nullptr, initial, 0x7FFFFFFF, nullptr));
  if (!handle_->semaphore) {
    throw FatalError(msg::kThreadCreationFailed, int32_t{2}, static_cast<int32_t>(GetLastError()));
  }
}

Semaphore::~Semaphore() = default;

void Semaphore::acquire() {
  DWORD result = WaitForSingleObject(handle_->semaphore.get(), INFINITE);
  CORV_ASSERT_AT(result != WAIT_FAILED, 69);
}

void Semaphore::release() { ReleaseSemaphore(handle_->semaphore.get(), 1, nullptr); }

struct Event::Handle {
  win32::UniqueHandle event;
};

Event::Event(bool manualReset, bool initiallySignalled) : handle_(std::make_unique<Handle>()) {
  handle_->event.reset(CreateEventA(nullptr, manualReset, initiallySignalled, nullptr));
}

Event::~Event() = default;

void Event::set() { SetEvent(handle_->event.get()); }

void Event::reset() { ResetEvent(handle_->event.get()); }

uint32_t Event::wait() {
  DWORD result = WaitForSingleObject(handle_->event.get(), INFINITE);
  CORV_ASSERT_AT(result != WAIT_FAILED, 69);
  return result;
}

void Pause(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace corv
