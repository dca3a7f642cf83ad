#!/usr/bin/env python3
"""Fails when an #include under src/ points against the layer order.

Each folder of src/ may include its own headers and those of the folders
below it; the kernel may also include the interfaces that the front ends and
the system integration implement. The programs (src/app, the installer;
src/uninstaller, the uninstaller) stand above every layer, side by side. The table mirrors the README's layout table.
"""
import pathlib
import re
import sys

ALLOWED = {
    "util": {"util"},
    "unpacker": {"util", "unpacker"},
    "kernel": {"util", "unpacker", "kernel"},
    "xbind": {"util", "unpacker", "kernel", "xbind"},
    "infrastructure": {"util", "unpacker", "kernel", "xbind", "infrastructure"},
    "ui": {"util", "unpacker", "kernel", "xbind", "infrastructure", "ui"},
    "app": {"util", "unpacker", "kernel", "xbind", "infrastructure", "ui", "app"},
    "uninstaller": {"util", "unpacker", "kernel", "xbind", "infrastructure", "ui", "uninstaller"},
    "shfolder": set(),
    "xinstres": set(),
}
# Interfaces of upper layers that the kernel is written against.
KERNEL_INTERFACES = {
    "infrastructure/infrastructure.h",
    "infrastructure/ntservices.h",
    "ui/userinterface.h",
    "ui/uiprogressupdater.h",
}
# The resource library's numbers, which the wizard builds its windows from.
UI_RESOURCE_NUMBERS = "xinstres/resourceids.h"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def violations(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".c") or not path.is_file():
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in ALLOWED:
            found.append(f"{path.relative_to(src.parent)}: folder '{layer}' has no place in the layer order")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue  # a header beside the file
            target = match.group(1)
            top = target.split("/", 1)[0]
            if top in ALLOWED[layer]:
                continue
            if layer == "kernel" and target in KERNEL_INTERFACES:
                continue
            if layer == "ui" and target == UI_RESOURCE_NUMBERS:
                continue
            found.append(f"{path.relative_to(src.parent)}:{number}: {layer} may not include \"{target}\"")
    return found


def main(argv):
    src = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src")
    found = violations(src)
    for line in found:
        print(line)
    if found:
        print(f"checklayers: {len(found)} include(s) against the layer order")
        return 1
    print("checklayers: every include follows the layer order")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
