"""Hostile names and a hostile machine, end to end under Wine: every name of
the record that becomes a path is refused before anything is written when it
could leave its folder; a text the code page cannot hold stops the run; the
temporary folder is never one that was planted; a link in the destination
stops the installation and rolls it back.

What Wine 8 shows of Unix symbolic links in drive_c (tried): a link to a
folder is a reparse point (attributes 0x410), so the installer sees and
refuses it; a link to a file reads as a plain file (0x20) and a dangling
link as nothing at all, so no Windows program can tell those apart, and
they are covered by the host tests of the extraction instead."""
import os
import pathlib
import subprocess

import pytest

from test_corvpack import with_renamed_entry

PACKAGE = "Corv Names"

DESCRIPTION = """
[package]
name = "Corv Names"
product-key = 'Corvantis Test\\Names'
overwrite = "always"
uninstaller = "bin/uninstaller-prog.exe"
recorded-file = "bin/recorded-file.txt"
path-entry = "bin/path-entry-folder"
wizard-bitmap = "wizard-picture.bmp"
hook-library = "hook-library.dll"

[destination]
base = "system-drive"
folder = "CorvNames"
program-folder = "Corv Names Program Folder"

[files]
source = "product"

[[shortcut]]
name = "Shortcut Name Here"
target = "bin/app.exe"

[install-run]
program = "bin/install-run-program.exe"
"""

PLAIN = """
[package]
name = "Corv Names"
product-key = 'Corvantis Test\\Plain'
overwrite = "always"
uninstaller = "bin/app.exe"

[destination]
base = "system-drive"
folder = "CorvPlain"

[files]
source = "product"

[install-run]
program = "bin/where.bat"
"""

PRODUCT = {
    "bin/app.exe": b"MZ not really a program\r\n",
    "bin/main-file-name.txt": b"the main file\r\n",
    "readme.txt": b"read me\r\n",
    # Tells the folder it runs in.
    "bin/where.bat": b'@cd > "%~dp0cwd.txt"\r\n',
}

CORRUPT = b"Invalid or corrupted installation package"
NO_CODE_PAGE = (b"The language of this installation package is not present in the language set "
                b"supported by this system")


def build(corvpack, stub, top, description):
    top.mkdir(parents=True, exist_ok=True)
    for rel, data in PRODUCT.items():
        path = top / "product" / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    (top / "wizard-picture.bmp").write_bytes(b"BM" + bytes(60))
    (top / "hook-library.dll").write_bytes(b"MZ")
    (top / "package.toml").write_text(description)
    exe = top / "setup.exe"
    subprocess.run([str(corvpack), "build", str(top / "package.toml"), "--product", str(top / "product"),
                    "--stub", str(stub), "--shfolder", str(stub.parent / "shfolder.dll"), "-o", str(exe), "-q"],
                   check=True)
    return exe


@pytest.fixture(scope="session")
def names_installer(corvpack, installer_stub, tmp_path_factory):
    return build(corvpack, installer_stub, tmp_path_factory.mktemp("names"), DESCRIPTION)


@pytest.fixture(scope="session")
def plain_installer(corvpack, installer_stub, tmp_path_factory):
    return build(corvpack, installer_stub, tmp_path_factory.mktemp("plain"), PLAIN)


def padded(start, original):
    """`start` filled up with letters to the length of `original`."""
    assert len(start) <= len(original)
    return start + "x" * (len(original) - len(start))


# A name of the record, and what it is turned into: each climbs out of its
# folder, names a device, a drive, a stream or a wildcard on the form the
# system receives.
HOSTILE = [
    ("main file", "bin\\main-file-name.txt", "\t..\\"),
    ("uninstaller", "bin\\uninstaller-prog.exe", "..\\..\\"),
    ("shortcut", "Shortcut Name Here", "..\\..\\StartUp\\"),
    ("hook library", "hook-library.dll", "COM\u00b9."),
    ("wizard bitmap", "wizard-picture.bmp", " \\"),
    ("recorded file", "bin\\recorded-file.txt", "C:"),
    ("install-run program", "bin\\install-run-program.exe", "bin\\run?"),
    ("PATH entry", "bin\\path-entry-folder", "bin\\..\\..\\"),
    ("program folder", "Corv Names Program Folder", "..\\..\\..\\"),
]


@pytest.mark.parametrize("field,original,start", HOSTILE, ids=[h[0] for h in HOSTILE])
def test_a_hostile_name_is_refused_before_anything_is_written(prefix, names_installer, tmp_path, field, original,
                                                              start):
    bad = tmp_path / "setup.exe"
    bad.write_bytes(with_renamed_entry(names_installer.read_bytes(), original, padded(start, original)))
    before = prefix.snapshot()
    rc, out = prefix.run(bad, "/batch")
    assert rc == 1
    assert CORRUPT in out, out
    assert prefix.snapshot() == before


def test_a_look_alike_the_code_page_lacks_stops_the_run_before_anything_is_written(prefix, names_installer,
                                                                                   tmp_path):
    # Fullwidth "..\": with a best fit it would climb out of the destination.
    original = "bin\\main-file-name.txt"
    bad = tmp_path / "setup.exe"
    bad.write_bytes(with_renamed_entry(names_installer.read_bytes(), original,
                                       padded("\uff0e\uff0e\uff3c", original)))
    before = prefix.snapshot()
    rc, out = prefix.run(bad, "/batch")
    assert rc == 1
    assert NO_CODE_PAGE in out, out
    assert prefix.snapshot() == before


def user_temp(prefix):
    (temp,) = [p for p in (prefix.drive_c / "users").glob("*/Temp") if p.parent.name != "Public"]
    return temp


def planted(temp):
    """What the temporary folder holds under the installer's old names."""
    return sorted((str(p.relative_to(temp)), p.is_symlink(), p.read_bytes() if p.is_file() else None)
                  for p in temp.rglob("*") if str(p.relative_to(temp)).startswith("InstTemp"))


def test_a_planted_temporary_folder_or_link_is_never_used_and_programs_run_in_the_destination(prefix,
                                                                                              plain_installer):
    temp = user_temp(prefix)
    elsewhere = prefix.drive_c / "PlantedTarget"
    elsewhere.mkdir()
    for i in range(4):
        (temp / f"InstTemp{i}").mkdir()
        (temp / f"InstTemp{i}" / "marker.txt").write_bytes(b"planted\r\n")
    (temp / "InstTemp4").write_bytes(b"a file of the name\r\n")
    os.symlink(elsewhere, temp / "InstTemp5")
    os.symlink(prefix.drive_c / "PlantedNowhere", temp / "InstTemp6")
    before = planted(temp)

    rc, out = prefix.run(plain_installer, "/batch", "/dest", "C:\\CorvPlanted")
    assert rc == 0, out
    assert prefix.host_path("C:\\CorvPlanted\\readme.txt").read_bytes() == PRODUCT["readme.txt"]
    # Nothing went into or through what was there, and the run's own
    # folder is gone again.
    assert planted(temp) == before
    assert list(elsewhere.iterdir()) == []
    assert not (prefix.drive_c / "PlantedNowhere").exists()
    # The install-run program ran in the destination, not in the
    # installer's folder.
    cwd = prefix.host_path("C:\\CorvPlanted\\bin\\cwd.txt").read_bytes().decode("ascii").strip()
    assert cwd.lower() == "c:\\corvplanted"


def test_a_folder_link_in_the_destination_stops_the_installation_and_rolls_it_back(prefix, plain_installer):
    dest = prefix.drive_c / "CorvLinked"
    dest.mkdir()
    (dest / "keep.txt").write_bytes(b"there before\r\n")
    elsewhere = prefix.drive_c / "LinkTarget"
    elsewhere.mkdir()
    os.symlink(elsewhere, dest / "bin")
    before = prefix.snapshot()

    rc, out = prefix.run(plain_installer, "/batch", "/dest", "C:\\CorvLinked")
    assert rc == 1
    assert b"a symbolic link or junction stands in its path" in out, out
    assert b"C:\\CorvLinked\\bin" in out, out
    assert list(elsewhere.iterdir()) == []
    assert prefix.snapshot() == before
