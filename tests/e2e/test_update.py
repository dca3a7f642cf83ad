"""Update packages under Wine, end to end: a product is installed, then an
update finds it (through its "InstallPath" or /primary), installs into its
folder with the profile the product was installed for, and extends its
install.log; a folder without the product is refused; an installation
package over an installed copy stops unless /force is given."""
import hashlib

import pytest

from packing import pack
from test_batch_install import console, registry

BASE = "Corv Base"
BASE_PRODUCT = "Corv Base Product"
UPDATE = "Corv Patch"
PRODUCT_KEY = "Corvantis Test\\Updated"
MARKER = "base.cfg"
UNINSTALL = "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\"

BASE_DESCRIPTION = f"""
[package]
name = "{BASE}"
product = "{BASE_PRODUCT}"
product-key = '{PRODUCT_KEY}'
overwrite = "always"
uninstaller = "bin/uninstall.exe"
recorded-file = "bin/app.exe"
warn-previous-version = true

[destination]
base = "system-drive"
folder = "CorvBaseDefault"

[files]
source = "product"

[[shortcut]]
location = "desktop"
name = "Corv Base App"
target = "bin/app.exe"
"""

UPDATE_DESCRIPTION = f"""
[package]
name = "{UPDATE}"
product = "Corv Patch Product"
kind = "update"
product-key = '{PRODUCT_KEY}'
overwrite = "always"
uninstaller = "bin/uninstall.exe"
path-entry = "tools"

[destination]
base = "system-drive"
folder = "CorvPatchDefault"
program-folder = "Corv Patch Group"

[files]
source = "product"

[primary]
name = "{BASE_PRODUCT}"
markers = ["{MARKER}", "bin/app.exe"]

[[shortcut]]
name = "Patch Tool"
target = "tools/tool.exe"

[[shortcut]]
location = "desktop"
name = "Corv Patch Tool"
target = "tools/tool.exe"

[[association]]
extension = "cvpatch"
description = "CorvPatch.Document"
program = "tools/tool.exe"
"""

BASE_FILES = {
    "bin/app.exe": b"MZ base program\r\n" * 20,
    "bin/uninstall.exe": b"MZ uninstaller\r\n" * 5,
    MARKER: b"base configuration\r\n",
}
UPDATE_FILES = {
    "bin/app.exe": b"MZ patched program\r\n" * 30,
    "tools/tool.exe": b"MZ tool\r\n" * 7,
}


def build(corvpack, stub, top, description, files):
    product = top / "product"
    for rel, data in files.items():
        path = product / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return pack(corvpack, stub, top, description, product)


@pytest.fixture(scope="session")
def packages(corvpack, installer_stub, tmp_path_factory):
    return {
        "base": build(corvpack, installer_stub, tmp_path_factory.mktemp("base"), BASE_DESCRIPTION, BASE_FILES),
        "update": build(corvpack, installer_stub, tmp_path_factory.mktemp("update"), UPDATE_DESCRIPTION,
                        UPDATE_FILES),
    }


def installed(name):
    return f"Corvantis Installer has successfully installed {name} on your computer.\n"


def updated(name):
    return f"Corvantis Installer has successfully updated {name} on your computer.\n"


def update_failed(reason):
    return (f"Severe error: Corvantis Installer has failed to update {UPDATE} on your computer "
            f"due to the following error: {reason}\n")


def log_lines(prefix, dest):
    return prefix.host_path(dest + "\\bin\\install.log").read_bytes().decode("utf-16-le").split("\n")[:-1]


def path_holds(prefix, reg_file, key, folder):
    """The PATH value of `key` in the prefix's registry file names `folder`
    (whatever the value's type and letter case)."""
    prefix.wait()
    lines = (prefix.path / reg_file).read_text(errors="replace").splitlines()
    section = "[" + key.replace("\\", "\\\\") + "]"
    start = next(i for i, line in enumerate(lines) if line.lower().startswith(section.lower()))
    for line in lines[start + 1:]:
        if line.startswith("["):
            break
        if line.upper().startswith('"PATH"='):
            entries = line.split("=", 1)[1].split('"', 1)[1].rsplit('"', 1)[0].replace("\\\\", "\\").split(";")
            return folder.lower() in (e.lower() for e in entries)
    return False


def user_links(prefix, name):
    return sorted(str(p.relative_to(prefix.drive_c)) for p in prefix.drive_c.rglob(f"{name}.lnk"))


def test_a_personal_product_is_updated_in_its_folder_with_its_profile_and_its_log_extended(prefix, packages):
    dest = "C:\\Corv Updated"
    rc, out = prefix.run(packages["base"], "/batch", "/personal", "/dest", dest)
    assert (rc, console(out)) == (0, installed(BASE))
    base_log = log_lines(prefix, dest)
    assert base_log[1:3] == [BASE_PRODUCT, dest + "\\bin\\app.exe"]

    # Found through the current user's "InstallPath": no /dest, no /primary.
    rc, out = prefix.run(packages["update"], "/batch")
    assert (rc, console(out)) == (0, updated(UPDATE))
    for rel, data in {**BASE_FILES, **UPDATE_FILES}.items():
        assert prefix.host_path(dest + "\\" + rel.replace("/", "\\")).read_bytes() == data, rel
    assert not prefix.host_path("C:\\CorvPatchDefault").exists()

    # The update's records come first, then the original ones, all under the
    # original product name and recorded file.
    log = log_lines(prefix, dest)
    assert log[:4] == ["Install Log File, v2.0", BASE_PRODUCT, dest + "\\bin\\app.exe", "1"]
    original, records = base_log[5:], log[5:]
    assert int(log[4]) == len(records) and len(set(records)) == len(records)
    # The original records follow whole and in their order: those the update
    # recorded again (its install.log, the program it replaced) keep their
    # places among them.
    assert records[-len(original):] == original
    added = records[:-len(original)]
    assert f"file {dest}\\tools\\tool.exe" in added and f"directory {dest}\\tools" in added
    assert f"pathentry {dest}\\tools" in added

    # The product was installed for the user: so are the update's shortcuts,
    # its PATH entry, and no product key or uninstall entry of its own.
    for name in ("Patch Tool", "Corv Patch Tool"):
        links = user_links(prefix, name)
        assert len(links) == 1 and links[0].startswith("users/") and "/Public/" not in links[0], links
        assert "file C:\\" + links[0].replace("/", "\\") in added
    keys = registry(prefix)
    assert path_holds(prefix, "user.reg", "Environment", dest + "\\tools")
    assert keys["hkey_classes_root\\.cvpatch"]["@"] == f"{UPDATE}.cvpatch"
    assert keys[f"hkey_current_user\\software\\{PRODUCT_KEY}".lower()]["InstallPath"] == dest
    assert f"hkey_local_machine\\software\\{PRODUCT_KEY}".lower() not in keys
    assert not any(k.startswith("hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\corv_patch")
                   for k in keys)


def test_primary_is_checked_for_the_markers_and_a_common_product_gets_common_shortcuts(prefix, packages):
    dest = "C:\\CorvCommon"
    rc, out = prefix.run(packages["base"], "/batch", "/common", "/dest", dest)
    assert (rc, console(out)) == (0, installed(BASE))

    # A folder without the marker files is refused before anything is written.
    elsewhere = "C:\\CorvNotTheProduct"
    prefix.host_path(elsewhere + "\\bin").mkdir(parents=True)
    prefix.host_path(elsewhere + "\\bin\\app.exe").write_bytes(b"MZ")
    before = prefix.snapshot()
    rc, out = prefix.run(packages["update"], "/batch", "/primary", elsewhere)
    assert (rc, console(out)) == (1, update_failed(
        f"Can not install {UPDATE} to the specified directory because is does not contain {BASE_PRODUCT}."))
    assert prefix.snapshot() == before

    rc, out = prefix.run(packages["update"], "/batch", "/primary", dest.lower())
    assert (rc, console(out)) == (0, updated(UPDATE))
    assert prefix.host_path(dest + "\\tools\\tool.exe").read_bytes() == UPDATE_FILES["tools/tool.exe"]
    assert [p for p in user_links(prefix, "Corv Patch Tool")] == ["users/Public/Desktop/Corv Patch Tool.lnk"]
    assert path_holds(prefix, "system.reg", "System\\CurrentControlSet\\Control\\Session Manager\\Environment",
                      dest + "\\tools")

    # The product's uninstall entry holds the seal of the merged log. A log
    # that someone changed since is not merged: the update fails whole.
    log = prefix.host_path(dest + "\\bin\\install.log")
    entries = [v for k, v in registry(prefix).items() if k.startswith(UNINSTALL) and dest in v.get("UninstallString", "")]
    assert [e["InstallLogDigest"] for e in entries] == [hashlib.sha256(log.read_bytes()).hexdigest()]
    text = log.read_bytes().decode("utf-16-le").split("\n")
    text[4:5] = [str(int(text[4]) + 1), "file C:\\windows\\win.ini"]
    log.write_bytes("\n".join(text).encode("utf-16-le"))
    before = prefix.snapshot()
    rc, out = prefix.run(packages["update"], "/batch", "/primary", dest)
    assert (rc, console(out)) == (1, update_failed(
        f"Installation log file {dest}\\bin\\install.log has been changed since the installation wrote it "
        "and is not trusted"))
    assert prefix.snapshot() == before


def test_an_update_without_its_product_is_refused(prefix, packages):
    before = prefix.snapshot()
    rc, out = prefix.run(packages["update"], "/batch")
    assert (rc, console(out)) == (1, update_failed(
        "You did not select the destination folder for Corv Patch Product and Corvantis Installer "
        "failed to find it on your computer."))
    assert prefix.snapshot() == before


def test_an_installed_copy_stops_a_new_installation_unless_forced(prefix, packages):
    rc, out = prefix.run(packages["base"], "/batch", "/dest", "C:\\CorvFirst")
    assert (rc, console(out)) == (0, installed(BASE))
    before = prefix.snapshot()
    rc, out = prefix.run(packages["base"], "/batch", "/dest", "C:\\CorvSecond")
    assert (rc, console(out)) == (1, (
        f"Previous version of {BASE} was found. It is recommended that you uninstall it before installing "
        "a new version. Otherwise, specify the /force option to proceed beyond this point.\n"))
    assert prefix.snapshot() == before
    rc, out = prefix.run(packages["base"], "/batch", "/force", "/dest", "C:\\CorvSecond")
    assert (rc, console(out)) == (0, installed(BASE))
    assert prefix.host_path("C:\\CorvSecond\\base.cfg").read_bytes() == BASE_FILES[MARKER]
