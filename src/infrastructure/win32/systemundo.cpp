#include "infrastructure/integrator.h"
#include "infrastructure/servicecontrol.h"
#include "util/environment.h"

namespace corv {

bool Win32SystemUndo::undoRegistryKey(const XString& fullKeyName) { return DeleteRegistryKey(fullKeyName); }

bool Win32SystemUndo::restoreRegistryKey(const KeySnapshot& found) { return RestoreRegistryKey(found); }

bool Win32SystemUndo::undoService(const XString& serviceName) { return UninstallService(serviceName) == 0; }

bool Win32SystemUndo::undoPathEntry(const XString& folder) { return Environment().RemoveFromPath(folder) == 0; }

}  // namespace corv
