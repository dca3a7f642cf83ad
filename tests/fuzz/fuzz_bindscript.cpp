// Fuzz target of the bind-script reader: arbitrary bytes as
// "xbind.script". A script it refuses fails with 1054 at a position inside
// the text; one it accepts has at least one root, unique root names, and
// every item text either resolves or fails with a FatalError of its own.
#include <cstdint>
#include <set>
#include <vector>

#include "fuzzsupport.h"
#include "util/exceptions.h"
#include "xbind/bindscript.h"

using namespace corv;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::UseEnglish();

  fuzz::MemoryFile file(u"C:\\Temp\\xbind.script", std::vector<uint8_t>(data, data + size));
  const XString text = BindScript::TextOf(data, size);
  std::optional<BindScript> script;
  try {
    script = BindScript::Read(file);
  } catch (const BindScriptError& e) {
    Check(e.line() >= 1 && e.column() >= 0);
    Check(static_cast<size_t>(e.line()) <= text.size() + 1 && static_cast<size_t>(e.column()) <= text.size());
    return 0;
  }
  Check(!file.isOpen());
  Check(!script->roots().empty());
  std::set<XString> names;
  for (const auto& root : script->roots()) Check(names.insert(root->name()).second);

  if (BindRoot* root = script->findRoot(u"Root")) root->locate(XString(u"C:\\App"), false);
  if (BindRoot* runtime = script->findRoot(u"JRE")) runtime->locate(XString(u"C:\\Java"), true);
  for (const auto& root : script->roots()) {
    for (const BindComponent& component : root->components()) {
      Check(&component.root() == root.get());
      for (const BindItem& item : component.items()) {
        try {
          AnsiString resolved = ItemText(*script, component, item);
          (void)resolved;
        } catch (const FatalError&) {
        }
      }
    }
  }
  return 0;
}
