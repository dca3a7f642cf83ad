// The bind script, "xbind.script": which properties every executable and
// library of the product gets, with paths relative to named roots. The
// installation binds after the files are extracted: the root "Root" is the
// destination folder, the root "JRE" the chosen Java runtime folder.
//
// The script is UTF-16LE text without a byte-order mark, one statement a
// line (lines end with CR LF, LF or CR); a line whose first character is
// "#" is a comment. Tokens are separated by blanks, tabs and "="; a token
// is bare, "double-quoted" (no escapes) or 'single-quoted' (\" \' \\ stand
// for the character, \n for a line feed, any other backslash stays).
//
//   ROOT name                  a new root; its components follow
//   COMPONENT path [APPEND]    a file below the current root
//   KORVMPROP text             a VM property of the current component
//   DLL name path              a library redirection
//   JRE path                   the runtime home
//
// Item texts may refer to roots as "$(name)". A reference to the
// component's own root becomes "*{comp.dir}" and the ".." chain back to the
// root's folder, which the executable's runtime expands; a reference to
// another root becomes that root's folder.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

class AbstractFile;
class BindRoot;
class BindScript;

struct BindItem {
  enum Kind { kVMProperty, kDLLRedirection, kRuntimeHome };
  Kind kind;
  XString text;  // the VM property, the library's path or the runtime home
  XString library;  // the library name of a redirection, as written
};

class BindComponent {
public:
  BindComponent(const BindRoot& root, XString path) : root_(&root), path_(std::move(path)) {}

  const BindRoot& root() const { return *root_; }
  // The file, relative to the root's location.
  const XString& path() const { return path_; }
  // "APPEND": the old entries of the block stay.
  bool append() const { return append_; }
  void setAppend() { append_ = true; }
  const std::vector<BindItem>& items() const { return items_; }
  void addItem(BindItem item) { items_.push_back(std::move(item)); }

private:
  const BindRoot* root_;
  XString path_;
  bool append_ = false;
  std::vector<BindItem> items_;
};

class BindRoot {
public:
  explicit BindRoot(XString name) : name_(std::move(name)) {}
  BindRoot(const BindRoot&) = delete;
  BindRoot& operator=(const BindRoot&) = delete;

  const XString& name() const { return name_; }
  // Where the root is; none until the binding gives it one.
  const OptString& location() const { return location_; }
  // References from components of other roots may use the location only
  // when the root is defined.
  bool defined() const { return defined_; }
  void locate(OptString location, bool defined) {
    location_ = std::move(location);
    defined_ = defined;
  }
  const std::vector<BindComponent>& components() const { return components_; }
  BindComponent& addComponent(XString path) {
    components_.emplace_back(*this, std::move(path));
    return components_.back();
  }

private:
  XString name_;
  OptString location_;
  bool defined_ = false;
  std::vector<BindComponent> components_;
};

// A statement the reader refuses: FatalError 1054 with the script's path,
// the line (from 1) and the column (from 0) where the reading stopped.
class BindScriptError : public FatalError {
public:
  BindScriptError(const XString& path, int line, int column);
  int line() const { return line_; }
  int column() const { return column_; }

private:
  int line_;
  int column_;
};

class BindScript {
public:
  // Reads the whole file and parses it. FatalError 1102 with the path when
  // the size cannot be had, the file cannot be opened or the read falls
  // short; BindScriptError for a statement it refuses and for a script
  // without a root.
  static BindScript Read(AbstractFile& file);

  // Parses the text of the script `path` (which only names it in errors).
  // The text ends at its first zero character, if it has one.
  static BindScript Parse(const XString& path, const XString& text);

  // The text of a script file's bytes: UTF-16LE, an odd last byte ignored.
  static XString TextOf(const uint8_t* bytes, size_t size);

  const std::vector<std::unique_ptr<BindRoot>>& roots() const { return roots_; }
  BindRoot* findRoot(const XString& name) const;

private:
  class Reader;
  std::vector<std::unique_ptr<BindRoot>> roots_;
};

// `text` with every root reference "$(name)" replaced: a reference to the
// component's own root by "*{comp.dir}" followed by "\" and the back path
// from the component's folder to the root when that is not empty
// (FatalError 1246 with the component's path when the component's path
// climbs out of its root); a reference to another root by its location when
// it is defined and located (FatalError 1245 with the component's path and
// the name otherwise); an unknown name is FatalError 1244 with the
// component's path and the name. A "$" that does not start "$(" with a ")"
// after it stays as it is.
XString ResolveRoots(const BindScript& script, const BindComponent& component, const XString& text);

// The text an item writes: the resolved text, for a redirection "name=path"
// with the name as written; in the ANSI code page (FatalError 1055 for a
// text it cannot take).
AnsiString ItemText(const BindScript& script, const BindComponent& component, const BindItem& item);

}  // namespace corv
