// The C++ runtime's throw helpers, which the standard containers and strings
// call on a misuse (an index out of range, a size beyond the maximum),
// defined for the two programs. The runtime's own build of them throws its
// text-carrying exception classes, which link in a second, copy-on-write
// string implementation (some 50 KiB of every installer). Here a misuse
// throws a plain RuntimeFault, which the worker and the entry points report
// as an assertion failure exactly as they did the runtime's classes (they
// catch it as anything that is not ours); memory faults stay std::bad_alloc.
// Linked into the programs only, ahead of the runtime library, so that its
// definitions are the ones used.
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class RuntimeFault : public std::exception {
public:
  explicit RuntimeFault(const char* text) : text_(text) {}
  const char* what() const noexcept override { return text_; }

private:
  const char* text_;
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* text) { throw RuntimeFault(text); }
void __throw_domain_error(const char* text) { throw RuntimeFault(text); }
void __throw_invalid_argument(const char* text) { throw RuntimeFault(text); }
void __throw_length_error(const char* text) { throw RuntimeFault(text); }
void __throw_out_of_range(const char* text) { throw RuntimeFault(text); }
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeFault(format); }
void __throw_runtime_error(const char* text) { throw RuntimeFault(text); }
void __throw_range_error(const char* text) { throw RuntimeFault(text); }
void __throw_overflow_error(const char* text) { throw RuntimeFault(text); }
void __throw_underflow_error(const char* text) { throw RuntimeFault(text); }

}  // namespace std
