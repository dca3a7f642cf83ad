#include "util/xstring.h"

#include "util/exceptions.h"
#include "util/messages.h"

namespace corv {

void TrimBlanks(XString& s) {
  auto blank = [](XChar c) { return c == u' ' || c == u'\t'; };
  size_t end = s.size();
  while (end > 0 && blank(s[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && blank(s[begin])) ++begin;
  s = s.substr(begin, end - begin);
}

XString Concat(const XString& a, const XString& b) {
  XString r;
  r.reserve(a.size() + b.size());
  r += a;
  r += b;
  return r;
}

XString Int64ToDecimal(int64_t value) {
  // Work on the magnitude as unsigned so that the smallest value has one.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  XChar digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<XChar>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  XString r;
  if (value < 0) r += u'-';
  while (n > 0) r += digits[--n];
  return r;
}

namespace {

// The diagnostic line for a bad placeholder, written before the assertion.
void ReportBadPlaceholder(XChar c, const XString& format) {
  std::string text = "Invalid format placeholder %";
  text += std::string(1, static_cast<char>(c < 0x80 ? c : '?'));
  text += " in string ";
  try {
    text += ToAnsi(format);
  } catch (const Exception&) {
    text += ToUtf8(format);
  }
  text += "\n";
  WriteStdout(text);
}

void AppendUnsigned(XString& out, uint32_t v, unsigned radix, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  XChar buf[16];
  size_t n = 0;
  do {
    buf[n++] = static_cast<XChar>(digits[v % radix]);
    v /= radix;
  } while (v != 0);
  while (n > 0) out += buf[--n];
}

}  // namespace

XString FormatArgs(const XString& format, const std::vector<FormatArg>& args) {
  // First pass: validate the placeholders and add up the budget.
  size_t budget = 0;
  size_t wanted = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%') {
      ++budget;
      continue;
    }
    XChar next = i + 1 < format.size() ? format[i + 1] : XChar(0);
    switch (next) {
      case u'%': budget += 1; break;
      case u's':
        CORV_ASSERT(wanted < args.size() && args[wanted].isString());
        budget += args[wanted++].str().size();
        break;
      case u'd': case u'u': case u'x': case u'X':
        CORV_ASSERT(wanted < args.size() && !args[wanted].isString());
        ++wanted;
        budget += 12;
        break;
      default:
        ReportBadPlaceholder(next, format);
        CORV_ASSERT(false);
    }
    ++i;
  }
  CORV_ASSERT(wanted == args.size());

  XString out;
  out.reserve(budget);
  size_t arg = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    XChar c = format[i];
    if (c != u'%') {
      out += c;
      continue;
    }
    XChar spec = format[++i];
    switch (spec) {
      case u'%': out += u'%'; break;
      case u's': out += args[arg++].str(); break;
      case u'd': {
        int32_t v = static_cast<int32_t>(args[arg++].num());
        out += Int64ToDecimal(v);
        break;
      }
      case u'u': AppendUnsigned(out, args[arg++].num(), 10, false); break;
      case u'x': AppendUnsigned(out, args[arg++].num(), 16, false); break;
      case u'X': AppendUnsigned(out, args[arg++].num(), 16, true); break;
    }
  }
  CORV_ASSERT(out.size() <= budget);
  return out;
}

XString FromUtf16Le(const uint8_t* bytes, size_t size) {
  XString text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<XChar>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return text;
}

XString FromUtf8(const std::string& s) {
  XString out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
    else { out += u'\uFFFD'; ++i; continue; }
    if (i + len > s.size()) { out += u'\uFFFD'; break; }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (cc & 0x3F);
    }
    bool overlong = (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (!ok || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<XChar>(0xD800 + (cp >> 10));
      out += static_cast<XChar>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<XChar>(cp);
    }
    i += len;
  }
  return out;
}

std::string ToUtf8(const XString& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += '?';
      continue;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool EqualsIgnoreCaseAscii(const XString& a, const XString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    XChar x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<XChar>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<XChar>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace corv
