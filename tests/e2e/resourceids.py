"""The numbers of the UI resource library's dialog templates, controls,
pictures and icons, as src/xinstres/resourceids.h gives them (the one place
they are given): `resourceids.IDC_HEADER` and so on."""
import pathlib
import re

HEADER = pathlib.Path(__file__).resolve().parents[2] / "src" / "xinstres" / "resourceids.h"


def load(path=HEADER):
    found = re.findall(r"^#define (ID[BCDI]_[A-Z0-9_]+) (\d+)$", path.read_text(encoding="utf-8"), re.M)
    if not found:
        raise RuntimeError(f"{path}: no resource numbers")
    return {name: int(number) for name, number in found}


globals().update(load())
