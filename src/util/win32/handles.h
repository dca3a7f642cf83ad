// Move-only owners of Win32 handles, closed in the destructor.
#pragma once

#include "util/win32/corvwindows.h"

#include <utility>

namespace corv::win32 {

// A kernel object handle (CloseHandle). Null and INVALID_HANDLE_VALUE are
// both "nothing".
class UniqueHandle {
public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE h = nullptr) {
    if (*this) CloseHandle(h_);
    h_ = h;
  }
  HANDLE release() { return std::exchange(h_, nullptr); }

private:
  HANDLE h_ = nullptr;
};

// A registry key (RegCloseKey). Predefined roots are never closed.
class UniqueKey {
public:
  UniqueKey() = default;
  explicit UniqueKey(HKEY k) : k_(k) {}
  UniqueKey(UniqueKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
  UniqueKey& operator=(UniqueKey&& o) noexcept {
    if (this != &o) reset(std::exchange(o.k_, nullptr));
    return *this;
  }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  ~UniqueKey() { reset(); }

  HKEY get() const { return k_; }
  HKEY* out() {
    reset();
    return &k_;
  }
  explicit operator bool() const { return k_ != nullptr; }
  HKEY release() { return std::exchange(k_, nullptr); }
  void reset(HKEY k = nullptr) {
    if (k_ && reinterpret_cast<ULONG_PTR>(k_) < 0x80000000UL) RegCloseKey(k_);
    k_ = k;
  }

private:
  HKEY k_ = nullptr;
};

// A loaded library (FreeLibrary).
class UniqueModule {
public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE m) : m_(m) {}
  UniqueModule(UniqueModule&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
  UniqueModule& operator=(UniqueModule&& o) noexcept {
    if (this != &o) reset(std::exchange(o.m_, nullptr));
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  ~UniqueModule() { reset(); }

  HMODULE get() const { return m_; }
  explicit operator bool() const { return m_ != nullptr; }
  void reset(HMODULE m = nullptr) {
    if (m_) FreeLibrary(m_);
    m_ = m;
  }

private:
  HMODULE m_ = nullptr;
};

// A service control manager or service handle (CloseServiceHandle).
class UniqueServiceHandle {
public:
  UniqueServiceHandle() = default;
  explicit UniqueServiceHandle(SC_HANDLE h) : h_(h) {}
  UniqueServiceHandle(UniqueServiceHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueServiceHandle& operator=(UniqueServiceHandle&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  UniqueServiceHandle(const UniqueServiceHandle&) = delete;
  UniqueServiceHandle& operator=(const UniqueServiceHandle&) = delete;
  ~UniqueServiceHandle() { reset(); }

  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset(SC_HANDLE h = nullptr) {
    if (h_) CloseServiceHandle(h_);
    h_ = h;
  }

private:
  SC_HANDLE h_ = nullptr;
};

// A FindFirstFileA search (FindClose).
class UniqueFind {
public:
  UniqueFind() = default;
  explicit UniqueFind(HANDLE h) : h_(h) {}
  UniqueFind(UniqueFind&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  UniqueFind& operator=(UniqueFind&&) = delete;
  ~UniqueFind() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }

private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A pointer to a COM interface (Release).
template <typename T>
class ComPtr {
public:
  ComPtr() = default;
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr& operator=(ComPtr&&) = delete;
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void** out() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

private:
  T* p_ = nullptr;
};

}  // namespace corv::win32
