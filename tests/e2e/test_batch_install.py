"""Batch installation of a real package under Wine, end to end: the files
with their times, "install.log", the product key, the uninstall entry, the
file association and the shortcuts; a second installation, /no-reg, and the
rollback of an installation that fails half-way."""
import os
import pathlib
import re
import struct
import subprocess

import pytest

from packing import throwaway_signer

ROOT = pathlib.Path(__file__).resolve().parents[2]

PACKAGE = "Corv Batch"           # "Corv" is shorter than 5 letters: "Corv_Deploy"
PRODUCT = "Corv Batch Suite"     # the name the install log is written with
PRODUCT_KEY = "Corvantis Test\\Batch"
UNINSTALL = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
UNINSTALL_NAME = "Corv_Deploy"
EXT = "cvt"
TYPE_DESC = "CorvBatch.Document"
COMMON_PROGRAMS = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
COMMON_START_MENU = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"
COMMON_STARTUP = COMMON_PROGRAMS + "\\StartUp"
COMMON_DESKTOP = "C:\\users\\Public\\Desktop"
BIG_SIZE = 3 * 1024 * 1024 + 12345

DESCRIPTION = f"""
[package]
name = "{PACKAGE}"
product = "{PRODUCT}"
product-key = '{PRODUCT_KEY}'
overwrite = "always"
uninstaller = "bin/uninstall.exe"
recorded-file = "bin/app.exe"

[destination]
base = "system-drive"
folder = "CorvBatchDefault"

[files]
source = "product"

[[shortcut]]
name = "Run App"
target = "bin/app.exe"
arguments = '-root "$(Root)"'

[[shortcut]]
name = "Tools/Run"
target = "bin/app.exe"

[[shortcut]]
location = "desktop"
name = "Corv App"
target = "bin/app.exe"

[[shortcut]]
location = "start-menu"
name = "Corv Menu"
target = "docs/guide/deep/readme.txt"

[[shortcut]]
location = "startup"
name = "Corv Agent"
target = "bin/app.exe"
arguments = "/background $(Root)\\\\data"

[[association]]
extension = "{EXT}"
description = "{TYPE_DESC}"
program = "bin/app.exe"
arguments = '"%1" -root "$(Root)"'
icon = "bin/app.exe"
"""

# Product files (path relative to the product folder) and their contents;
# the large one is generated per session.
SMALL_FILES = {
    "bin/app.exe": b"MZ not really a program\r\n" * 40,
    "bin/uninstall.exe": b"MZ the uninstaller\r\n" * 10,
    "docs/guide/deep/readme.txt": b"Deeply nested read-me.\r\n",
    "docs/notes.txt": b"notes\r\n",
    "empty.dat": b"",
}
BIG = "data/big.bin"


@pytest.fixture(scope="session")
def package(corvpack, installer_stub, tmp_path_factory):
    """The product folder and the installer built from it."""
    top = tmp_path_factory.mktemp("batch")
    product = top / "product"
    contents = dict(SMALL_FILES)
    contents[BIG] = os.urandom(BIG_SIZE)
    for i, (rel, data) in enumerate(sorted(contents.items())):
        path = product / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        # Distinct, whole-second times well in the past.
        t = 1_000_000_000 + i * 86_400 * 37 + 17 * i
        os.utime(path, (t, t))
    (top / "package.toml").write_text(DESCRIPTION)
    exe = top / "setup.exe"
    subprocess.run([str(corvpack), "build", str(top / "package.toml"), "--product", str(product),
                    "--stub", str(installer_stub),
                    "--shfolder", str(installer_stub.parent / "shfolder.dll"), "-o", str(exe), "-q"], check=True)
    listing = subprocess.run([str(corvpack), "list", str(exe)], check=True, capture_output=True,
                             text=True).stdout
    return {"product": product, "exe": exe, "contents": contents, "listing": listing}


def console(out):
    return out.decode("cp437").replace("\r\n", "\n")


def success_line():
    return f"Corvantis Installer has successfully installed {PACKAGE} on your computer.\n"


def failure_line(reason):
    return (f"Severe error: Corvantis Installer has failed to install {PACKAGE} on your computer "
            f"due to the following error: {reason}\n")


def main_block(listing):
    """The main files block from `corvpack list`: its entries in table order,
    as (is folder, path with backslashes), its offset and its length."""
    lines = listing.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("main files:"))
    m = re.search(r"\(block of (\d+) bytes at (\d+)\)$", lines[start])
    entries = []
    for line in lines[start + 1:]:
        if not line.strip():
            break
        f = re.match(r"^\s+folder  (.*)\\$", line)
        if f:
            entries.append((True, f.group(1)))
            continue
        f = re.match(r"^  \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\s+\d+  (.*)$", line)
        assert f, line
        entries.append((False, f.group(1)))
    return entries, int(m.group(2)), int(m.group(1))


ROOTS = {"HKEY_LOCAL_MACHINE": ("system.reg", ""),
         "HKEY_CLASSES_ROOT": ("system.reg", "Software\\Classes\\"),
         "HKEY_CURRENT_USER": ("user.reg", "")}


def registry(prefix):
    """Every key of the prefix's registry: {"HKEY_...\\path" lower-cased:
    {value name ("@" for the default): string}}, read from Wine's own files
    once its server has written them."""
    prefix.wait()
    keys = {}
    for root, (name, below) in ROOTS.items():
        current = None
        for line in (prefix.path / name).read_text(errors="replace").splitlines():
            if line.startswith("["):
                path = line[1:line.index("]")].replace("\\\\", "\\")
                current = None
                if path.lower().startswith(below.lower()):
                    current = keys.setdefault((root + "\\" + path[len(below):]).lower(), {})
            elif current is not None:
                m = re.match(r'^(@|"(?:[^"\\]|\\.)*")="((?:[^"\\]|\\.)*)"$', line)
                if m:
                    value_name = m.group(1) if m.group(1) == "@" else unescape(m.group(1)[1:-1])
                    current[value_name] = unescape(m.group(2))
    # Wine leaves keys out of its files that hold only subkeys.
    for key in list(keys):
        parts = key.split("\\")
        for i in range(2, len(parts)):
            keys.setdefault("\\".join(parts[:i]), {})
    return keys


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def log_bytes(product_name, recorded, language, records):
    lines = ["Install Log File, v2.0", product_name, recorded, str(language), str(len(records))]
    lines += [f"{kind} {text}" for kind, text in records]
    return "".join(line + "\n" for line in lines).encode("utf-16-le")
    lines = ["Install Log File, v2.0", product_name, recorded, str(language), str(len(records))]
    lines += [f"{kind} {text}" for kind, text in records]
    return "".join(line + "\n" for line in lines).encode("utf-16-le")


class Expected:
    """What an installation should record, in the order it happens, given
    which folders and keys the prefix held before."""

    def __init__(self, before):
        self.dirs_before, self.keys_before = before
        self.made = set()
        self.records = []

    def directories(self, path):
        parts = path.split("\\")
        for i in range(2, len(parts) + 1):
            folder = "\\".join(parts[:i])
            if folder.lower() in self.made or folder.lower() in self.dirs_before:
                continue
            self.made.add(folder.lower())
            self.records.append(("directory", folder))

    def file(self, path):
        self.records.append(("file", path))

    def key(self, full, always_last=False):
        parts = full.split("\\")
        for i in range(2, len(parts) + 1):
            key = "\\".join(parts[:i])
            if key.lower() in self.made or key.lower() in self.keys_before:
                if not (always_last and i == len(parts)) or key.lower() in self.made:
                    continue
            self.made.add(key.lower())
            self.records.append(("registrykey", key))


def expected_records(before, entries, dest, shortcuts, profile_root="HKEY_LOCAL_MACHINE",
                     uninstall_counter=0):
    e = Expected(before)
    for is_folder, name in entries:
        path = dest + "\\" + name
        if is_folder:
            e.directories(path)
        else:
            e.directories(path.rsplit("\\", 1)[0])
            e.file(path)
    for lnk in shortcuts:
        e.directories(lnk.rsplit("\\", 1)[0])
        e.file(lnk)
    file_type = f"HKEY_CLASSES_ROOT\\{PACKAGE}.{EXT}"
    e.key(file_type, True)
    e.key(f"HKEY_CLASSES_ROOT\\.{EXT}", True)
    e.key(file_type + "\\Shell\\open\\command", True)
    e.key(file_type + "\\DefaultIcon", True)
    e.key(f"{profile_root}\\Software\\{PRODUCT_KEY}", True)
    e.key(f"HKEY_LOCAL_MACHINE\\{UNINSTALL}\\{UNINSTALL_NAME}_{uninstall_counter}")
    e.file(dest + "\\bin\\install.log")
    e.file(dest + "\\bin\\install.restore")
    return list(reversed(e.records))


def common_shortcuts(program_folder=PACKAGE):
    group = COMMON_PROGRAMS + "\\" + program_folder
    return [group + "\\Run App.lnk", group + "\\Tools\\Run.lnk", COMMON_DESKTOP + "\\Corv App.lnk",
            COMMON_START_MENU + "\\Corv Menu.lnk", COMMON_STARTUP + "\\Corv Agent.lnk"]


def lnk_holds(data, text):
    return text.encode("cp1252") in data or text.encode("utf-16-le") in data


def temp_folders(prefix):
    return sorted(str(p) for p in (prefix.drive_c / "users").rglob("InstTemp*"))


def state(prefix):
    """The folders (lower-case Windows paths) and registry keys there are."""
    dirs = {"c:\\" + str(p.relative_to(prefix.drive_c)).replace("/", "\\").lower()
            for p in prefix.drive_c.rglob("*") if p.is_dir() and not p.is_symlink()}
    return dirs, registry(prefix)


def assert_installed(prefix, package, dest, before, counter=0):
    """The files, the log, the keys and the shortcuts of an installation
    into dest with the common profile."""
    entries, _, _ = main_block(package["listing"])
    for rel, data in package["contents"].items():
        installed = prefix.host_path(dest + "\\" + rel.replace("/", "\\"))
        assert installed.read_bytes() == data, rel
        assert installed.stat().st_mtime_ns == (package["product"] / rel).stat().st_mtime_ns, rel

    shortcuts = common_shortcuts()
    records = expected_records(before, entries, dest, shortcuts, uninstall_counter=counter)
    log = prefix.host_path(dest + "\\bin\\install.log").read_bytes()
    assert log.decode("utf-16-le").split("\n")[5:-1] == [f"{k} {t}" for k, t in records]
    assert log == log_bytes(PRODUCT, dest + "\\bin\\app.exe", 1, records)

    keys = registry(prefix)
    assert keys[f"hkey_local_machine\\software\\{PRODUCT_KEY}".lower()]["InstallPath"] == dest
    entry = keys[f"hkey_local_machine\\{UNINSTALL}\\{UNINSTALL_NAME}_{counter}".lower()]
    assert entry["DisplayName"] == PACKAGE
    uninstaller = dest + "\\bin\\uninstall.exe"
    assert entry["UninstallString"] == (f'"{uninstaller}"' if " " in uninstaller else uninstaller)
    file_type = f"hkey_classes_root\\{PACKAGE}.{EXT}".lower()
    assert keys[file_type]["@"] == TYPE_DESC
    assert keys[f"hkey_classes_root\\.{EXT}"]["@"] == f"{PACKAGE}.{EXT}"
    assert keys[file_type + "\\shell\\open\\command"]["@"] == f'"{dest}\\bin\\app.exe" "%1" -root "{dest}"'
    assert keys[file_type + "\\defaulticon"]["@"] == f"{dest}\\bin\\app.exe"

    for lnk in shortcuts:
        target = "docs\\guide\\deep\\readme.txt" if "Corv Menu" in lnk else "bin\\app.exe"
        assert lnk_holds(prefix.host_path(lnk).read_bytes(), dest + "\\" + target), lnk
    assert lnk_holds(prefix.host_path(shortcuts[0]).read_bytes(), f'-root "{dest}"')
    assert lnk_holds(prefix.host_path(shortcuts[4]).read_bytes(), f"/background {dest}\\data")
    assert temp_folders(prefix) == []


def test_batch_installation_installs_files_log_keys_and_shortcuts_and_a_second_one_counts_on(prefix, package):
    dest1, dest2 = "C:\\Corv Batch One", "C:\\CorvBatchTwo"
    before = state(prefix)
    rc, out = prefix.run(package["exe"], "/batch", "/dest", dest1)
    assert (rc, console(out)) == (0, success_line())
    # /dest is honoured: nothing went to the package's default folder.
    assert not prefix.host_path("C:\\CorvBatchDefault").exists()
    assert_installed(prefix, package, dest1, before)

    between = state(prefix)
    keys_between = between[1]
    log1 = prefix.host_path(dest1 + "\\bin\\install.log").read_bytes()
    rc, out = prefix.run(package["exe"], "/batch", "/dest", dest2)
    assert (rc, console(out)) == (0, success_line())
    keys = registry(prefix)
    first = keys[f"hkey_local_machine\\{UNINSTALL}\\{UNINSTALL_NAME}_0".lower()]
    assert first == keys_between[f"hkey_local_machine\\{UNINSTALL}\\{UNINSTALL_NAME}_0".lower()]
    assert first["UninstallString"] == '"' + dest1 + '\\bin\\uninstall.exe"'  # a blank in the path
    assert prefix.host_path(dest1 + "\\bin\\install.log").read_bytes() == log1
    assert_installed(prefix, package, dest2, between, counter=1)


def test_no_reg_installs_the_files_but_no_key_and_no_shortcut(prefix, package):
    dest = "C:\\CorvNoReg"
    before = prefix.snapshot()
    rc, out = prefix.run(package["exe"], "/batch", "/no-reg", "/dest", dest)
    assert (rc, console(out)) == (0, success_line())
    after = prefix.snapshot()
    assert after["registry"] == before["registry"]
    new = sorted(set(after["files"]) - set(before["files"]))
    # Only the installed tree is new: no shortcut, no folder in the Start menu.
    assert new and all(p.lower().startswith("corvnoreg") for p in new), new
    assert [p for p in after["files"] if p.endswith(".lnk")] == [p for p in before["files"] if p.endswith(".lnk")]
    for rel, data in package["contents"].items():
        assert prefix.host_path(dest + "\\" + rel.replace("/", "\\")).read_bytes() == data
    # The log lists the files only.
    log = prefix.host_path(dest + "\\bin\\install.log").read_bytes().decode("utf-16-le")
    assert "registrykey" not in log and ".lnk" not in log


def test_a_file_blocked_by_a_folder_rolls_back_and_leaves_what_was_there(prefix, package):
    dest = "C:\\CorvBlocked"
    # The destination holds other files and folders, one of which shares its
    # name with a folder of the package, and a folder where the large file goes.
    for rel in ("keep\\inner", "bin\\own", "data\\big.bin\\inside"):
        prefix.host_path(dest + "\\" + rel).mkdir(parents=True)
    prefix.host_path(dest + "\\keep\\inner\\keep.txt").write_bytes(b"keep me")
    prefix.host_path(dest + "\\bin\\old.txt").write_bytes(b"old")
    prefix.host_path(dest + "\\data\\big.bin\\inside\\x.txt").write_bytes(b"x")
    before = prefix.snapshot()
    rc, out = prefix.run(package["exe"], "/batch", "/dest", dest)
    assert rc == 1
    assert console(out) == failure_line(f"Unable to write file {dest}\\data\\big.bin")
    assert prefix.snapshot() == before
    assert temp_folders(prefix) == []


def block_spans(data, listing):
    """Offset and length of each block: the main and auxiliary files blocks
    from `corvpack list`, the record block from the trailer."""
    spans = {}
    for name in ("main", "auxiliary"):
        m = re.search(r"^" + name + r" files:.*\(block of (\d+) bytes at (\d+)\)$", listing, re.M)
        spans[name] = (int(m.group(2)), int(m.group(1)))
    _, length, offset, _ = struct.unpack("<IIQQ", data[-24:])
    spans["record"] = (offset, length)
    return spans


@pytest.mark.parametrize("block", ["main", "auxiliary", "record"])
def test_a_flipped_byte_in_any_block_fails_with_1202_and_changes_nothing(prefix, package, tmp_path, block):
    """Damage deep inside the compressed data may decode into other bytes
    without an error; the checksum of each block finds it. In the main block
    the files before the damage have been written by then and are rolled
    back."""
    data = bytearray(package["exe"].read_bytes())
    offset, length = block_spans(data, package["listing"])[block]
    data[offset + 13 + (length - 13) // 2] ^= 0x10
    bad = tmp_path / "damaged.exe"
    bad.write_bytes(bytes(data))
    before = prefix.snapshot()
    rc, out = prefix.run(bad, "/batch", "/dest", "C:\\CorvDamaged")
    assert rc == 1
    if block == "main":
        assert console(out) == failure_line("Unable to decompress: installation package is corrupted")
    else:  # before the front end began: a message of its own
        assert console(out) == "Severe error: Unable to decompress: installation package is corrupted\n"
    assert prefix.snapshot() == before
    assert temp_folders(prefix) == []


def test_a_signed_installer_verifies_and_installs_like_the_unsigned_one(prefix, package, corvpack, installer_stub,
                                                                        tmp_path):
    """Authenticode puts a certificate table behind the package, so the
    trailer is no longer the file's last 24 bytes; the installer finds it
    before the table. The certificate is a throwaway self-signed one."""
    key, cert = throwaway_signer(tmp_path)
    signed = tmp_path / "signed.exe"
    subprocess.run([str(corvpack), "build", str(package["exe"].parent / "package.toml"),
                    "--product", str(package["product"]), "--stub", str(installer_stub),
                    "--shfolder", str(installer_stub.parent / "shfolder.dll"),
                    "--sign", str(key), str(cert), "-o", str(signed), "-q"], check=True)
    data, unsigned = signed.read_bytes(), package["exe"].read_bytes()
    assert data[-24:] != unsigned[-24:] and len(data) > len(unsigned)
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(signed)],
                              capture_output=True, text=True)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    checked = subprocess.run([str(corvpack), "verify", str(signed)], capture_output=True, text=True)
    assert checked.returncode == 0, checked.stderr

    # Another package hidden inside the certificate table, the table and its
    # entry grown to cover it: a signature check may still pass, but that is
    # not what was signed, and nothing of it is installed.
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    table, size = struct.unpack_from("<II", data, pe + 24 + 128)
    hidden = unsigned + bytes(-len(unsigned) % 8)
    swapped = bytearray(data + hidden)
    struct.pack_into("<I", swapped, pe + 24 + 132, size + len(hidden))
    struct.pack_into("<I", swapped, table, struct.unpack_from("<I", data, table)[0] + len(hidden))
    (tmp_path / "swapped.exe").write_bytes(bytes(swapped))
    checked = subprocess.run([str(corvpack), "verify", str(tmp_path / "swapped.exe")], capture_output=True, text=True)
    assert checked.returncode != 0 and "the certificate table holds bytes that no signature covers" in checked.stderr
    before = prefix.snapshot()
    rc, out = prefix.run(tmp_path / "swapped.exe", "/batch", "/dest", "C:\\CorvSwapped")
    assert (rc, console(out)) == (1, "Severe error: Unable to decompress: installation package is corrupted\n")
    assert prefix.snapshot() == before

    dest = "C:\\CorvSigned"
    before = state(prefix)
    rc, out = prefix.run(signed, "/batch", "/dest", dest)
    assert (rc, console(out)) == (0, success_line())
    assert_installed(prefix, package, dest, before)


def test_a_failure_after_the_registry_work_removes_it_but_keeps_keys_that_were_there(prefix, package):
    """The install log cannot be written (a folder of its name is in the
    way): everything, keys included, is rolled back. A parent key that
    existed stays with its value; so does the product key, which the
    installer always logs, with the value it held before."""
    dest = "C:\\CorvLate"
    prefix.host_path(dest + "\\bin\\install.log").mkdir(parents=True)
    parent = "HKLM\\Software\\" + PRODUCT_KEY.split("\\")[0]
    for key, value in ((parent, "Vendor"), ("HKLM\\Software\\" + PRODUCT_KEY, "InstallPath")):
        subprocess.run(prefix.wine("reg", "add", key, "/v", value, "/d", "old", "/f"), env=prefix.env(),
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    before = prefix.snapshot()
    rc, out = prefix.run(package["exe"], "/batch", "/dest", dest)
    assert rc == 1
    # The log is written before success is reported: the failure is the
    # only line.
    assert console(out) == failure_line(f"Unable to write file {dest}\\bin\\install.log")
    after = prefix.snapshot()
    assert after["files"] == before["files"]
    assert after["registry"] == before["registry"]
    keys = registry(prefix)
    assert keys[parent.replace("HKLM", "hkey_local_machine").lower()] == {"Vendor": "old"}
    assert keys[("hkey_local_machine\\software\\" + PRODUCT_KEY).lower()] == {"InstallPath": "old"}
    assert temp_folders(prefix) == []


def test_personal_profile_puts_the_product_key_and_shortcuts_with_the_user(prefix, package):
    dest = "C:\\CorvPersonal"
    rc, out = prefix.run(package["exe"], "/batch", "/personal", "/dest", dest)
    assert (rc, console(out)) == (0, success_line())
    keys = registry(prefix)
    assert keys[f"hkey_current_user\\software\\{PRODUCT_KEY}".lower()]["InstallPath"] == dest
    assert f"hkey_local_machine\\software\\{PRODUCT_KEY}".lower() not in keys
    # The uninstall entry is the system's, whatever the profile.
    entry = keys[f"hkey_local_machine\\{UNINSTALL}\\{UNINSTALL_NAME}_0".lower()]
    assert entry["UninstallString"] == dest + "\\bin\\uninstall.exe"
    links = sorted(str(p.relative_to(prefix.drive_c)) for p in prefix.drive_c.rglob("*.lnk")
                   if "Corv" in str(p.relative_to(prefix.drive_c)))
    assert len(links) == 5 and all(p.startswith("users/") and "/Public/" not in p for p in links), links
    log = prefix.host_path(dest + "\\bin\\install.log").read_bytes().decode("utf-16-le")
    assert f"registrykey HKEY_CURRENT_USER\\Software\\{PRODUCT_KEY}\n" in log
    for link in links:
        assert "file C:\\" + link.replace("/", "\\") + "\n" in log
