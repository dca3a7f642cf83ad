// Move-only owners of Win32 handles, closed in the destructor.
#pragma once

#include "util/win32/corvwindows.h"

#include <utility>

namespace corv::win32 {

// Owns one handle of the kind `Traits` describes:
//   Handle            the handle's type
//   Invalid()         the value that holds nothing
//   IsValid(h)        whether `h` is a handle to be closed
//   Close(h)          closes a valid handle
template <typename Traits>
class UniqueResource {
public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle h) : h_(h) {}
  UniqueResource(UniqueResource&& o) noexcept : h_(o.release()) {}
  UniqueResource& operator=(UniqueResource&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  Handle get() const { return h_; }
  explicit operator bool() const { return Traits::IsValid(h_); }
  // Closes what is held and lends the place to a call that fills it.
  Handle* out() {
    reset();
    return &h_;
  }
  Handle release() { return std::exchange(h_, Traits::Invalid()); }
  void reset(Handle h = Traits::Invalid()) {
    if (Traits::IsValid(h_)) Traits::Close(h_);
    h_ = h;
  }

private:
  Handle h_ = Traits::Invalid();
};

// A handle type whose "nothing" is null; the traits below add Close.
template <typename H>
struct NullableTraits {
  using Handle = H;
  static H Invalid() { return nullptr; }
  static bool IsValid(H h) { return h != nullptr; }
};

// A kernel object handle (CloseHandle). Null and INVALID_HANDLE_VALUE are
// both "nothing".
struct KernelHandleTraits : NullableTraits<HANDLE> {
  static bool IsValid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// A FindFirstFileA search (FindClose); it fails with INVALID_HANDLE_VALUE.
struct FindHandleTraits : NullableTraits<HANDLE> {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
using UniqueFind = UniqueResource<FindHandleTraits>;

// A registry key (RegCloseKey). Predefined roots are held but never closed.
struct RegistryKeyTraits : NullableTraits<HKEY> {
  static void Close(HKEY k) {
    if (reinterpret_cast<ULONG_PTR>(k) < 0x80000000UL) RegCloseKey(k);
  }
};
using UniqueKey = UniqueResource<RegistryKeyTraits>;

// A loaded library (FreeLibrary).
struct ModuleTraits : NullableTraits<HMODULE> {
  static void Close(HMODULE m) { FreeLibrary(m); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

// A service control manager or service handle (CloseServiceHandle).
struct ServiceHandleTraits : NullableTraits<SC_HANDLE> {
  static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;

// A GDI object of type `T`: font, bitmap, brush (DeleteObject).
template <typename T>
struct GdiObjectTraits : NullableTraits<T> {
  static void Close(T h) { DeleteObject(h); }
};
template <typename T>
using UniqueGdiObject = UniqueResource<GdiObjectTraits<T>>;

// Memory the system allocated for the caller with LocalAlloc (LocalFree),
// seen as `T*`.
template <typename T>
struct LocalMemoryTraits : NullableTraits<T*> {
  static void Close(T* p) { LocalFree(p); }
};
template <typename T>
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<T>>;

// A pointer to a COM interface (Release).
template <typename T>
struct ComInterfaceTraits : NullableTraits<T*> {
  static void Close(T* p) { p->Release(); }
};

template <typename T>
class ComPtr : public UniqueResource<ComInterfaceTraits<T>> {
public:
  using UniqueResource<ComInterfaceTraits<T>>::UniqueResource;

  T* operator->() const { return this->get(); }
  // The place for calls that return the interface as void** (creation and
  // QueryInterface).
  void** outVoid() { return reinterpret_cast<void**>(this->out()); }
};

}  // namespace corv::win32
