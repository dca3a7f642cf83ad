#include "xbind/bindscript.h"

#include "util/file.h"
#include "util/filesys.h"
#include "kernel/recordchecks.h"
#include "util/messages.h"

namespace corv {

namespace {

const XChar kComponentFolder[] = u"*{comp.dir}";

bool IsSeparator(XChar c) { return c == u' ' || c == u'\t' || c == u'='; }
bool IsLineEnd(XChar c) { return c == u'\r' || c == u'\n'; }

}  // namespace

BindScriptError::BindScriptError(const XString& path, int line, int column)
    : FatalError(msg::kInvalidFileAt, path, line, column), line_(line), column_(column) {}

// Reads the script line by line; a statement it refuses ends the reading
// with the position where it stopped.
class BindScript::Reader {
public:
  Reader(const XString& path, const XString& text)
      : path_(path), text_(text.substr(0, text.find(u'\0'))) {}

  BindScript parse() {
    BindScript script;
    BindRoot* root = nullptr;
    // Points into the current root's components, which grow only when a
    // new component replaces this one.
    BindComponent* component = nullptr;
    while (nextLine()) {
      if (lineEnd_ > lineStart_ && text_[lineStart_] == u'#') continue;
      std::optional<XString> keyword = token();
      if (!keyword) continue;
      if (*keyword == u"ROOT") {
        XString name = required();
        if (script.findRoot(name)) fail();
        script.roots_.push_back(std::make_unique<BindRoot>(std::move(name)));
        root = script.roots_.back().get();
        component = nullptr;
      } else if (*keyword == u"COMPONENT") {
        if (!root) fail();
        component = &root->addComponent(required());
        if (std::optional<XString> flag = token()) {
          if (*flag != u"APPEND") fail();
          component->setAppend();
        }
      } else if (*keyword == u"KORVMPROP") {
        if (!component) fail();
        component->addItem(BindItem{BindItem::kVMProperty, required(), XString()});
      } else if (*keyword == u"DLL") {
        if (!component) fail();
        XString library = required();
        component->addItem(BindItem{BindItem::kDLLRedirection, required(), std::move(library)});
      } else if (*keyword == u"JRE") {
        if (!component) fail();
        component->addItem(BindItem{BindItem::kRuntimeHome, required(), XString()});
      } else {
        fail();
      }
    }
    if (script.roots_.empty()) fail();
    return script;
  }

private:
  // Moves to the next line; false at the end of the text. After the last
  // line the position is the end of the text.
  bool nextLine() {
    if (started_) {
      if (lineEnd_ == text_.size()) {
        pos_ = lineEnd_;
        return false;
      }
      size_t next = lineEnd_ + 1;
      if (text_[lineEnd_] == u'\r' && next < text_.size() && text_[next] == u'\n') ++next;
      ++line_;
      lineStart_ = next;
    }
    started_ = true;
    lineEnd_ = lineStart_;
    while (lineEnd_ < text_.size() && !IsLineEnd(text_[lineEnd_])) ++lineEnd_;
    pos_ = lineStart_;
    return true;
  }

  // The next token of the line, or none when only separators are left. An
  // unterminated quoted token is an error.
  std::optional<XString> token() {
    while (pos_ < lineEnd_ && IsSeparator(text_[pos_])) ++pos_;
    if (pos_ == lineEnd_) return std::nullopt;
    const XChar first = text_[pos_];
    if (first == u'"') {
      size_t close = pos_ + 1;
      while (close < lineEnd_ && text_[close] != u'"') ++close;
      if (close == lineEnd_) unterminated();
      XString result = text_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
      return result;
    }
    if (first == u'\'') return singleQuoted();
    size_t end = pos_;
    while (end < lineEnd_ && !IsSeparator(text_[end])) ++end;
    XString result = text_.substr(pos_, end - pos_);
    pos_ = end;
    return result;
  }

  XString singleQuoted() {
    XString result;
    size_t i = pos_ + 1;
    while (i < lineEnd_) {
      const XChar c = text_[i];
      if (c == u'\'') {
        pos_ = i + 1;
        return result;
      }
      if (c == u'\\' && i + 1 < lineEnd_) {
        const XChar n = text_[i + 1];
        if (n == u'"' || n == u'\'' || n == u'\\') {
          result += n;
          i += 2;
          continue;
        }
        if (n == u'n') {
          result += u'\n';
          i += 2;
          continue;
        }
      }
      result += c;
      ++i;
    }
    unterminated();
  }

  XString required() {
    std::optional<XString> t = token();
    if (!t) fail();
    return std::move(*t);
  }

  [[noreturn]] void unterminated() {
    pos_ = lineEnd_;
    fail();
  }

  [[noreturn]] void fail() const {
    throw BindScriptError(path_, line_, static_cast<int>(pos_ - lineStart_));
  }

  const XString& path_;
  const XString text_;
  bool started_ = false;
  int line_ = 1;
  size_t lineStart_ = 0;
  size_t lineEnd_ = 0;
  size_t pos_ = 0;
};

XString BindScript::TextOf(const uint8_t* bytes, size_t size) { return FromUtf16Le(bytes, size); }

BindScript BindScript::Parse(const XString& path, const XString& text) { return Reader(path, text).parse(); }

BindScript BindScript::Read(AbstractFile& file) {
  const int64_t size = file.size();
  if (size < 0 || file.open(kFileRead) != 0) throw FatalError(kUnableToReadFile, file.widePath());
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  const int32_t got = bytes.empty() ? 0 : file.read(bytes.data(), static_cast<uint32_t>(bytes.size()));
  file.close();
  if (got < 0 || static_cast<uint64_t>(got) != bytes.size()) throw FatalError(kUnableToReadFile, file.widePath());
  return Parse(file.widePath(), TextOf(bytes.data(), bytes.size()));
}

BindRoot* BindScript::findRoot(const XString& name) const {
  for (const auto& root : roots_) {
    if (root->name() == name) return root.get();
  }
  return nullptr;
}

XString ResolveRoots(const BindScript& script, const BindComponent& component, const XString& text) {
  XString result;
  size_t i = 0;
  for (;;) {
    const size_t dollar = text.find(u'$', i);
    if (dollar == XString::npos) {
      result.append(text, i, XString::npos);
      return result;
    }
    result.append(text, i, dollar - i);
    const size_t close = dollar + 1 < text.size() && text[dollar + 1] == u'(' ? text.find(u')', dollar + 2)
                                                                             : XString::npos;
    if (close == XString::npos) {
      result += u'$';
      i = dollar + 1;
      continue;
    }
    const XString name = text.substr(dollar + 2, close - dollar - 2);
    const BindRoot* root = script.findRoot(name);
    if (!root) throw FatalError(msg::kBindRootUndefined, component.path(), name);
    if (root == &component.root()) {
      OptString back = FileSys::BackPath(component.path());
      if (!back) throw FatalError(msg::kInvalidRelativePath, component.path());
      result += kComponentFolder;
      if (!back->empty()) result += u'\\' + *back;
    } else if (root->defined() && root->location()) {
      result += *root->location();
    } else {
      throw FatalError(msg::kBindRootLocationUndefined, component.path(), name);
    }
    i = close + 1;
  }
}

AnsiString ItemText(const BindScript& script, const BindComponent& component, const BindItem& item) {
  XString resolved = ResolveRoots(script, component, item.text);
  if (item.kind == BindItem::kDLLRedirection) resolved = Format(XString(u"%s=%s"), item.library, resolved);
  return ToAnsi(resolved);
}

}  // namespace corv
