#include "util/exceptions.h"

#include <cstring>
#include <new>

#include "util/messages.h"

namespace corv {

Exception::Exception(XString message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

std::string SourcePathOf(const char* file) {
  std::string path(file ? file : "");
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  size_t at = path.rfind("/src/");
  std::string rel;
  if (path.compare(0, 4, "src/") == 0) {
    rel = path;
  } else if (at != std::string::npos) {
    rel = path.substr(at + 1);
  } else {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }
  std::string out = "..\\";
  for (char c : rel) out += c == '/' ? '\\' : c;
  return out;
}

namespace {

// The text of an assertion: message 1052 where it can be loaded; when the
// message lookup itself is what failed, the English text keeps the report
// alive.
XString AssertionText(const char* sourceFile, int line) {
  static thread_local bool building = false;
  XString path = FromUtf8(SourcePathOf(sourceFile));
  XString english = u"ASSERT: file " + path + u", line " + Int64ToDecimal(line);
  if (building) return english;  // an assertion inside the message lookup
  building = true;
  XString text;
  try {
    text = FormatMessageTextWide(msg::kAssertionFailed, path, static_cast<int32_t>(line));
  } catch (const Exception&) {
    text = english;
  }
  building = false;
  return text;
}

}  // namespace

AssertionFailedError::AssertionFailedError(const char* sourceFile, int line)
    : Exception(AssertionText(sourceFile, line)) {}

std::exception_ptr CurrentFailure(const char* sourceFile, int line) {
  try {
    throw;
  } catch (const Exception&) {
    return std::current_exception();
  } catch (const std::bad_alloc&) {
    try {
      return std::make_exception_ptr(FatalError(msg::kOutOfMemory));
    } catch (...) {
      return std::current_exception();  // not even the message fits
    }
  } catch (...) {
    return std::make_exception_ptr(AssertionFailedError(sourceFile, line));
  }
}

}  // namespace corv
