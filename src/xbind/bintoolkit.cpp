#include "xbind/bintoolkit.h"

#include <memory>

#include "kernel/recordchecks.h"
#include "util/exceptions.h"
#include "util/file.h"
#include "xbind/bindscript.h"
#include "xbind/petoolkit.h"
#include "xbind/propertyblock.h"

namespace corv {

namespace {

// An executable opened for binding; closed when it goes out of scope.
class BindingTarget {
public:
  // FatalError 1101 when the file cannot be opened for reading and
  // writing, 1242 when it is not a PE image, 1243 without ".config".
  explicit BindingTarget(const XString& path) : file_(path) {
    if (file_.open(kFileReadWrite) != 0) throw FatalError(kUnableToOpenFile, file_.widePath());
    pe_ = PEToolkit::open(file_);
    if (!pe_) throw FatalError(msg::kBindUnknownFormat, file_.widePath());
    if (!pe_->hasConfigSection()) throw FatalError(kInvalidComponent, file_.widePath());
  }
  ~BindingTarget() {
    if (file_.isOpen()) file_.close();
  }
  BindingTarget(const BindingTarget&) = delete;
  BindingTarget& operator=(const BindingTarget&) = delete;

  // The block of ".config"; FatalError 1243 when it cannot be read.
  PropertyBlock readBlock() {
    std::optional<PropertyBlock> block = pe_->readBlock();
    if (!block) throw FatalError(kInvalidComponent, file_.widePath());
    return std::move(*block);
  }
  PEToolkit& pe() { return *pe_; }
  File& file() { return file_; }

private:
  File file_;
  std::unique_ptr<PEToolkit> pe_;
};

OptString BoundString(const XString& path, uint32_t id) {
  BindingTarget target(path);
  std::optional<AnsiString> text = target.readBlock().findString(id);
  if (!text) return std::nullopt;
  return ToWide(*text);
}

}  // namespace

namespace BinToolkit {

void Rewrite(const BindScript& script, const BindComponent& component, const XString& path) {
  const FileTime time = File(path).modificationTime();
  {
    BindingTarget target(path);
    PropertyBlock block = target.readBlock();
    if (!component.append()) block = block.rebuild();
    for (const BindItem& item : component.items()) {
      const uint32_t id = item.kind == BindItem::kVMProperty       ? kPropertyVMProperty
                          : item.kind == BindItem::kDLLRedirection ? kPropertyDLLRedirection
                                                                   : kPropertyJREHome;
      block.addString(id, ItemText(script, component, item));
    }
    target.pe().writeBlock(block);
  }
  if (time != 0) File(path).setModificationTime(time);
}

OptString BoundRuntimeHome(const XString& path) { return BoundString(path, kPropertyJREHome); }

OptString BoundServiceName(const XString& path) { return BoundString(path, kPropertyNTService); }

}  // namespace BinToolkit


void Bind(const XString& scriptPath, const XString& destination, const OptString& runtimeFolder) {
  File file(scriptPath);
  BindScript script = BindScript::Read(file);
  BindRoot* root = script.findRoot(u"Root");
  if (!root) throw FatalError(msg::kBindRootUndefined, XString(), u"Root");
  root->locate(destination, false);
  BindRoot* runtime = script.findRoot(u"JRE");
  if (!runtime) throw FatalError(msg::kBindRootUndefined, XString(), u"JRE");
  runtime->locate(runtimeFolder, true);
  // A component names a file inside its root's folder: one that climbs out
  // of it (an absolute path, a drive, "..") would rewrite a file that the
  // package does not own. Every one is checked before the first rewrite.
  for (const auto& r : script.roots()) {
    for (const BindComponent& component : r->components()) {
      if (!IsContainedRelativePath(component.path())) throw FatalError(msg::kInvalidRelativePath, component.path());
    }
  }
  for (const auto& r : script.roots()) {
    if (!r->location()) continue;
    const Directory folder(*r->location());
    for (const BindComponent& component : r->components()) {
      BinToolkit::Rewrite(script, component, File(folder, component.path()).widePath());
    }
  }
}

}  // namespace corv
