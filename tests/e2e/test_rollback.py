"""Rollback under Wine, end to end: whatever makes an installation fail, the
prefix afterwards equals the prefix before, byte for byte and value for
value, over a prefix that already holds what the installation replaces or
writes into (an earlier copy of a packaged file, an earlier install.log, an
earlier shortcut, the product key with values of its own, an existing
HKCR\\.ext, the PATH entry, "autoexec.bat" on Windows 98). An installer
killed in the middle of its extraction is undone by the next run, which
then installs as a clean run does."""
import os
import shutil
import subprocess

import pytest

from conftest import Prefix
from gatefs import GatedFolder
from packing import pack
from test_batch_install import console, main_block

PACKAGE = "Corv Roll"
PRODUCT = "Corv Roll Product"
UPDATE = "Corv Roll Patch"
PRODUCT_KEY = "Corvantis Test\\Rollback"
EXT = "cvroll"
DEST = "C:\\CorvRoll"
GATED = "C:\\CorvGate"
KILLED_DEST = GATED + "\\CorvRoll"
BIG_SIZE = 2 * 1024 * 1024

INSTALLATION = f"""
[package]
name = "{PACKAGE}"
product = "{PRODUCT}"
product-key = '{PRODUCT_KEY}'
overwrite = "always"
uninstaller = "bin/uninstall.exe"
path-entry = "tools"

[destination]
base = "system-drive"
folder = "CorvRoll"

[files]
source = "product"

[[shortcut]]
location = "desktop"
name = "Corv Roll App"
target = "bin/app.exe"

[[association]]
extension = "{EXT}"
description = "CorvRoll.Document"
program = "bin/app.exe"

[install-run]
program = "bin/check.exe"
arguments = "{{code}}"
"""

UPDATE_DESCRIPTION = f"""
[package]
name = "{UPDATE}"
kind = "update"
product-key = '{PRODUCT_KEY}'
overwrite = "always"
uninstaller = "bin/uninstall.exe"
path-entry = "tools"

[destination]
base = "system-drive"
folder = "CorvRollPatch"

[files]
source = "product"

[primary]
name = "{PRODUCT}"
markers = ["bin/app.exe"]

[[shortcut]]
location = "desktop"
name = "Corv Roll App"
target = "tools/patch.exe"

[[association]]
extension = "{EXT}"
description = "CorvRollPatch.Document"
program = "tools/patch.exe"

[after-run]
program = "bin/missing.exe"
"""

# An earlier installation of the product, as the prefix holds it before.
def earlier_log(dest):
    return "".join(line + "\n" for line in [
        "Install Log File, v2.0", PRODUCT, "", "2", "3",
        f"file {dest}\\bin\\install.log", f"file {dest}\\bin\\app.exe", f"directory {dest}\\bin",
    ]).encode("utf-16-le")


def earlier_reg(dest):
    quoted = dest.replace("\\", "\\\\")
    return f"""REGEDIT4

[HKEY_CURRENT_USER\\Software\\{PRODUCT_KEY}]
"InstallPath"="{quoted}"
"Extra"=dword:0000002a
"Blob"=hex:01,02,03,00,ff

[HKEY_CLASSES_ROOT\\.{EXT}]
@="Other.Document"
"Content Type"="text/x-other"

[HKEY_CURRENT_USER\\Environment]
"PATH"="{quoted}\\\\tools;C:\\\\Other"
"""


WIN98_REG = """
[HKEY_CURRENT_USER\\Software\\Wine]
"Version"="win98"
"""
# Mixed line ends and a Ctrl-Z: a rewrite could not give these bytes back.
AUTOEXEC = b"@ECHO OFF\r\nSET PATH=C:\\DOS;%PATH%\nREM end\r\n\x1a"


def write_product(folder, files):
    for rel, data in files.items():
        path = folder / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return folder


@pytest.fixture(scope="session")
def installers(corvpack, installer_stub, tmp_path_factory):
    top = tmp_path_factory.mktemp("rollback")
    check = (installer_stub.parent.parent / "tests" / "testexit.exe").read_bytes()
    product = write_product(top / "product", {
        "bin/app.exe": b"MZ new program\r\n" * 50,
        "bin/uninstall.exe": b"MZ uninstaller\r\n" * 5,
        "bin/check.exe": check,
        "tools/tool.exe": b"MZ tool\r\n" * 9,
        "data/big.bin": os.urandom(BIG_SIZE),
    })
    patch = write_product(top / "patch", {"bin/app.exe": b"MZ patched\r\n" * 70, "tools/patch.exe": b"MZ p\r\n"})
    failing = pack(corvpack, installer_stub, top / "failing", INSTALLATION.replace("{code}", "3"), product)
    listing = subprocess.run([str(corvpack), "list", str(failing)], check=True, capture_output=True,
                             text=True).stdout
    _, offset, _ = main_block(listing)
    data = bytearray(failing.read_bytes())
    data[offset + 13] ^= 0xFF  # the range coder's first byte must be 0
    damaged = top / "damaged.exe"
    damaged.write_bytes(bytes(data))
    return {
        "failing": failing,
        "damaged": damaged,
        "passing": pack(corvpack, installer_stub, top / "passing", INSTALLATION.replace("{code}", "0"), product),
        "update": pack(corvpack, installer_stub, top / "update", UPDATE_DESCRIPTION, patch),
    }


def desktop(prefix):
    users = [p for p in (prefix.drive_c / "users").iterdir() if p.name != "Public" and (p / "Desktop").is_dir()]
    assert len(users) == 1, users
    return users[0] / "Desktop"


def prepare(prefix, win98=False, dest=DEST):
    """The earlier installation: files (the program with an old time), its
    log, its shortcut, its keys, PATH; on Windows 98 an "autoexec.bat"."""
    app = prefix.host_path(dest + "\\bin\\app.exe")
    app.parent.mkdir(parents=True)
    app.write_bytes(b"MZ earlier program\r\n")
    os.utime(app, (1_000_000_000, 1_000_000_000))
    prefix.host_path(dest + "\\bin\\install.log").write_bytes(earlier_log(dest))
    prefix.host_path(dest + "\\tools").mkdir()
    (desktop(prefix) / "Corv Roll App.lnk").write_bytes(b"an earlier shortcut, not rewritten")
    if win98:
        prefix.host_path("C:\\autoexec.bat").write_bytes(AUTOEXEC)
    reg = prefix.host_path("C:\\earlier.reg")
    reg.write_text(earlier_reg(dest) + (WIN98_REG if win98 else ""), encoding="cp1252")
    subprocess.run(prefix.wine("regedit", "/s", "C:\\earlier.reg"), env=prefix.env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    reg.unlink()


def differences(a, b):
    return {k: v for k, v in a.items() if b.get(k) != v}


def leftovers(prefix):
    return sorted(str(p) for p in prefix.drive_c.rglob("*") if p.name.startswith(("InstTemp", "install.log.")))


@pytest.mark.parametrize("cause", ["damaged main block", "failing install-run program",
                                   "failing install-run program on Windows 98", "failed completion of an update",
                                   "failing install-run program in a new folder"])
def test_rollback_puts_back_exactly_what_was_there(prefix, installers, tmp_path, cause):
    win98 = cause.endswith("Windows 98")
    fresh = cause.endswith("new folder")
    if not fresh:
        prepare(prefix, win98)
    app = prefix.host_path(DEST + "\\bin\\app.exe")
    app_stat = None if fresh else app.stat()
    before = prefix.snapshot()
    if cause == "failed completion of an update":
        # The log is merged and written before the after-run program fails.
        rc, out = prefix.run(installers["update"], "/batch")
        reason = f"Cannot execute '\"{DEST}\\bin\\missing.exe\" '"
    elif cause == "damaged main block":
        rc, out = prefix.run(installers["damaged"], "/batch", "/personal", "/dest", DEST)
        reason = "Unable to decompress: installation package is corrupted"
    else:
        rc, out = prefix.run(installers["failing"], "/batch", "/personal", "/dest", DEST)
        reason = f"Execution '\"{DEST}\\bin\\check.exe\" 3' failed - exit code 3"
    assert rc == 1, console(out)
    assert reason in console(out)
    after = prefix.snapshot()
    assert differences(after["files"], before["files"]) == differences(before["files"], after["files"]) == {}
    for name in before["registry"]:
        assert differences(after["registry"][name], before["registry"][name]) == \
            differences(before["registry"][name], after["registry"][name]) == {}, name
    # Moved back, not rewritten: its time too.
    # In a new folder: the folder goes too, though the program ran in it.
    assert app.stat().st_mtime_ns == app_stat.st_mtime_ns if app_stat else not app.parent.parent.exists()
    if win98:
        assert prefix.host_path("C:\\autoexec.bat").read_bytes() == AUTOEXEC
    assert leftovers(prefix) == []


def interesting(snapshot):
    """The product's part of a snapshot: its files and shortcuts, its keys,
    the uninstall entries, PATH."""
    files = {k: v for k, v in snapshot["files"].items() if not k.lower().startswith("windows")}
    # A shortcut holds the times of its target, which differ from run to run.
    files = {k: v[:2] if k.endswith(".lnk") else v for k, v in files.items()}
    keys = ("corv", EXT, "environment", "uninstall")
    registry = {name: {s: lines for s, lines in sections.items() if any(k in s.lower() for k in keys)}
                for name, sections in snapshot["registry"].items()}
    return files, registry


def test_a_killed_installation_is_undone_by_the_next_run_which_then_installs(prefix, template, installers,
                                                                             tmp_path):
    # Installed into a folder of C:\\CorvGate, where the killed run's
    # destination file system is mounted (a mount point is a reparse point
    # to Wine, which the installer never writes through).
    clean = Prefix(tmp_path / "clean")
    shutil.copytree(template, clean.path, symlinks=True)
    try:
        clean.host_path(GATED).mkdir()
        prepare(clean, dest=KILLED_DEST)
        rc, out = clean.run(installers["passing"], "/batch", "/personal", "/dest", KILLED_DEST)
        assert rc == 0, console(out)
        expected = interesting(clean.snapshot())
    finally:
        subprocess.run(["wineserver", "-k"], env=clean.env(), check=False)
        shutil.rmtree(clean.path, ignore_errors=True)

    # The destination's file system holds the extraction in the middle of
    # the big file, where the installation is killed.
    gate = GatedFolder(tmp_path / "gate-backing", prefix.host_path(GATED), tmp_path / "gate-control",
                       "CorvRoll/data/big.bin", BIG_SIZE // 2)
    try:
        prepare(prefix, dest=KILLED_DEST)
        run = subprocess.Popen(prefix.wine(installers["passing"], "/batch", "/personal", "/dest", KILLED_DEST),
                               env=prefix.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL)
        gate.wait_held(alive=lambda: run.poll() is None)
        # Every process of the prefix ends at once, as by TerminateProcess
        # (the write that waits at the gate ends as the process does).
        subprocess.run(["wineserver", "-k", "9"], env=prefix.env(), check=False)
        gate.open()
        run.wait()
        assert [p for p in prefix.drive_c.rglob("journal") if "InstTemp" in str(p)], "no journal was left"
        finish_killed_run(prefix, installers, expected)
    finally:
        subprocess.run(["wineserver", "-k"], env=prefix.env(), check=False)
        gate.close()


def finish_killed_run(prefix, installers, expected):
    """The next run undoes the killed one, says so, and installs as a clean
    run does."""
    rc, out = prefix.run(installers["passing"], "/batch", "/personal", "/dest", KILLED_DEST)
    assert (rc, console(out)) == (0, "An interrupted installation was found on this computer; its changes have "
                                     "been undone.\n"
                                     f"Corvantis Installer has successfully installed {PACKAGE} on your computer.\n")
    files, registry = interesting(prefix.snapshot())
    expected_files, expected_registry = expected
    assert differences(files, expected_files) == differences(expected_files, files) == {}
    for name in registry:
        assert differences(registry[name], expected_registry[name]) == differences(expected_registry[name],
                                                                                   registry[name]) == {}
    assert leftovers(prefix) == []
