// Exceptions and assertions.
//
// Every failure in the installer is an Exception thrown by value. FatalError
// ends the installation (files, the package, system calls), Error is a refusal
// the user can correct, AssertionFailedError a broken internal expectation.
// A worker thread carries a failure to the joining thread as a
// std::exception_ptr, so the type survives the trip.
#pragma once

#include <exception>
#include <string>

#include "util/messageid.h"
#include "util/messagenames.h"
#include "util/xstring.h"

namespace corv {

class Exception : public std::exception {
public:
  enum Kind { kError = 1, kFatalError = 2, kAssertionFailed = 3 };

  explicit Exception(XString message);
  ~Exception() override = default;

  virtual Kind kind() const = 0;

  const XString& message() const { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

private:
  XString message_;
  std::string utf8_;
};

class Error : public Exception {
public:
  explicit Error(XString text) : Exception(std::move(text)) {}
  // The text of message `number` in the selected language, formatted.
  template <typename... Args>
  explicit Error(int number, const Args&... args);
  template <int ArgCount, typename... Args>
  explicit Error(Message<ArgCount> message, const Args&... args)
      : Error(CheckedMessage(message, args...), args...) {}

  Kind kind() const override { return kError; }
};

// The failures of a file operation, each with the file's path; a package
// that is not one, and one whose bytes are damaged.
using msg::kUnableToOpenFile;
using msg::kUnableToReadFile;
using msg::kUnableToWriteFile;
using msg::kCorruptedPackage;
using msg::kDecompressFailed;

class FatalError : public Exception {
public:
  explicit FatalError(XString text) : Exception(std::move(text)) {}
  template <typename... Args>
  explicit FatalError(int number, const Args&... args);
  template <int ArgCount, typename... Args>
  explicit FatalError(Message<ArgCount> message, const Args&... args)
      : FatalError(CheckedMessage(message, args...), args...) {}

  Kind kind() const override { return kFatalError; }
};

class AssertionFailedError : public Exception {
public:
  // `sourceFile` is the compiler's __FILE__; the text names it the way the
  // installer's sources are laid out, e.g. "..\src\kernel\driver.cpp".
  AssertionFailedError(const char* sourceFile, int line);

  Kind kind() const override { return kAssertionFailed; }
};

// Raised inside the extraction when it was asked to abort, and caught there.
class AbortUnpackException : public Error {
public:
  AbortUnpackException() : Error(XString()) {}
};

// Inside a handler: the current exception as a failure of this program. An
// Exception stays itself; running out of memory (std::bad_alloc) is
// FatalError 1051 "Out of memory error"; anything else is the assertion
// failure of `sourceFile` and `line`. So every failure, on any thread, ends
// the installation the one way: report, rollback, exit code 1.
std::exception_ptr CurrentFailure(const char* sourceFile, int line);

// "..\src\kernel\driver.cpp" for ".../src/kernel/driver.cpp"; a path outside
// a src folder keeps only its file name.
std::string SourcePathOf(const char* file);

// Loads and formats message `number`; defined with the messages.
XString FormatMessageTextWideArgs(int number, const std::vector<FormatArg>& args);

template <typename... Args>
Error::Error(int number, const Args&... args)
    : Exception(FormatMessageTextWideArgs(number, std::vector<FormatArg>{FormatArg(args)...})) {}

template <typename... Args>
FatalError::FatalError(int number, const Args&... args)
    : Exception(FormatMessageTextWideArgs(number, std::vector<FormatArg>{FormatArg(args)...})) {}

}  // namespace corv

// Fails with AssertionFailedError naming this source file and line.
#define CORV_ASSERT(cond)                                                  \
  do {                                                                     \
    if (!(cond)) throw ::corv::AssertionFailedError(__FILE__, __LINE__);   \
  } while (0)

// The same, reporting a fixed line: for checks whose reported position is
// part of the installer's observable behaviour.
#define CORV_ASSERT_AT(cond, line)                                         \
  do {                                                                     \
    if (!(cond)) throw ::corv::AssertionFailedError(__FILE__, (line));     \
  } while (0)
