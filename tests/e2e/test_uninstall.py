"""The built-in uninstaller under Wine, end to end: run from its uninstall
entry it puts the prefix back as it was before the installation (files,
registry, PATH, shortcuts, association, service), except what the user
added and the pending deletion of its own copy; of two installations of one
product it removes the one it belongs to and leaves the other whole, whose
own uninstaller then removes the rest; a damaged install.log removes
nothing."""
import hashlib
import os
import re
import shutil
import subprocess

import pytest

from packing import pack
from test_batch_install import console, registry
from test_wizard import Wizard, artefacts, assert_unchanged, display  # noqa: F401 (fixtures)

UNINSTALL_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
UNINSTALL = "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\"
PRODUCT_KEY = "Corvantis Test\\Uninstall"
SERVICE = "CorvTestSvc"


def description(name, service):
    text = f"""
[package]
name = "{name}"
product-key = '{PRODUCT_KEY}'
overwrite = "always"
builtin-uninstaller = true
path-entry = "tools"

[uninstall-entry]
icon = "bin/app.exe"
version = "3.1"
publisher = "Corvantis Test"
estimated-size = 42

[destination]
base = "path"
folder = 'C:\\Corv Remove'

[files]
source = "product"

[[shortcut]]
name = "Tools/Remove App"
target = "bin/app.exe"

[[shortcut]]
location = "desktop"
name = "Corv Remove App"
target = "bin/app.exe"

[[association]]
extension = "cvrm"
description = "CorvRemove.Document"
program = "bin/app.exe"
icon = "bin/app.exe"
"""
    if service:
        text += """
[[service]]
executable = "bin/corvservice.exe"
display-name = "Corv Remove Service"
start = "on-demand"
"""
    return text


@pytest.fixture(scope="session")
def setups(corvpack, installer_stub, build_dir, tmp_path_factory):
    top = tmp_path_factory.mktemp("uninstall")
    product = top / "product"
    for rel, data in {"bin/app.exe": b"MZ app\r\n" * 30, "tools/tool.exe": b"MZ tool\r\n",
                      "data/sample.txt": b"sample\r\n"}.items():
        (product / rel).parent.mkdir(parents=True, exist_ok=True)
        (product / rel).write_bytes(data)
    with_service = top / "service-product"
    shutil.copytree(product, with_service)
    shutil.copy(build_dir / "tests" / "corvservice.exe", with_service / "bin" / "corvservice.exe")
    return {
        "full": pack(corvpack, installer_stub, top / "full", description("Corv Remove", True), with_service),
        "plain": pack(corvpack, installer_stub, top / "plain", description("Corv Twice", False), product),
    }


def differences(before, after):
    """The names whose entries differ between two snapshots' parts."""
    return sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))


def assert_back_as_before(before, after, kept=(), win98=False):
    """`after` equals `before` but for the folders and files in `kept`, the
    uninstaller's copies in the temporary folder and their pending deletion
    (the registry on Windows NT, "wininit.ini" on Windows 98)."""
    files = differences(before["files"], after["files"])
    copies = [f for f in files if re.search(r"CorvUninst[0-9A-F]{16}", f)]
    assert copies, files
    assert all(re.search(r"CorvUninst[0-9A-F]{16}(/uninstall\.exe)?$", f) for f in copies), copies
    pending = []
    if win98:
        # Wine carries "wininit.ini" out when a session of its starts, and
        # keeps it as "wininit.bak" (seen once under load): either is the
        # pending deletion.
        pending = [f for f in ("windows/wininit.bak", "windows/wininit.ini") if f in files]
        assert len(pending) == 1, files
    assert [f for f in files if f not in copies] == sorted(list(kept) + pending)
    for name in before["registry"]:
        sections = differences(before["registry"][name], after["registry"][name])
        if name != "system.reg" or win98:
            assert sections == [], name
            continue
        # The pending deletion at the next restart.
        assert [s.split("]")[0] for s in sections] == ["[System\\\\CurrentControlSet\\\\Control\\\\Session Manager"]
        section = sections[0]
        added = set(after["registry"][name][section]) - set(before["registry"][name].get(section, []))
        assert all(line.startswith('"PendingFileRenameOperations"') for line in added), added


def entry_command(keys, name):
    entry = keys[UNINSTALL + name.lower()]
    command = entry["UninstallString"]
    return command[1:-1] if command.startswith('"') else command


def test_the_uninstall_entry_removes_everything_but_what_the_user_added(prefix, setups):
    before = prefix.snapshot()
    rc, out = prefix.run(setups["full"], "/batch")
    assert rc == 0, console(out)
    keys = registry(prefix)
    entry = keys[UNINSTALL + "corv_deploy_0"]
    assert (entry["UninstallString"], entry["QuietUninstallString"], entry["InstallLocation"]) == (
        '"C:\\Corv Remove\\uninstall.exe"', '"C:\\Corv Remove\\uninstall.exe" /batch', "C:\\Corv Remove")
    assert (entry["DisplayIcon"], entry["DisplayVersion"], entry["Publisher"]) == (
        "C:\\Corv Remove\\bin\\app.exe", "3.1", "Corvantis Test")
    assert '"EstimatedSize"=dword:0000002a' in (prefix.path / "system.reg").read_text(errors="replace")
    log = prefix.host_path("C:\\Corv Remove\\install.log").read_bytes().decode("utf-16-le")
    assert f"ntservice {SERVICE}\n" in log and "pathentry C:\\Corv Remove\\tools\n" in log
    # The user keeps notes among the product's data.
    prefix.host_path("C:\\Corv Remove\\data\\notes.txt").write_bytes(b"mine")
    # As the previous release left an installation: no found state, neither
    # its record nor its seal.
    state = "C:\\Corv Remove\\install.restore"
    lines = log.split("\n")
    lines.remove("file " + state)
    lines[4] = str(int(lines[4]) - 1)
    earlier = "\n".join(lines).encode("utf-16-le")
    prefix.host_path("C:\\Corv Remove\\install.log").write_bytes(earlier)
    prefix.host_path(state).unlink()
    entry_key = UNINSTALL_KEY.replace("HKEY_LOCAL_MACHINE", "HKLM") + "Corv_Deploy_0"
    for change in (("delete", entry_key, "/v", "InstallRestoreDigest", "/f"),
                   ("add", entry_key, "/v", "InstallLogDigest", "/d", hashlib.sha256(earlier).hexdigest(), "/f")):
        subprocess.run(prefix.wine("reg", *change), env=prefix.env(), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    # What deployment tools run: the quiet command as it stands.
    program, option = entry["QuietUninstallString"].rsplit(" ", 1)
    rc, out = prefix.run(program.strip('"'), option)
    assert (rc, console(out)) == (0, "Corvantis Installer has removed Corv Remove from your computer. These folders "
                                     "still hold files that the installation did not create and were kept: "
                                     "C:\\Corv Remove; C:\\Corv Remove\\data\n")
    assert_back_as_before(before, prefix.snapshot(),
                          kept=["Corv Remove", "Corv Remove/data", "Corv Remove/data/notes.txt"])


def test_of_two_installations_each_uninstaller_removes_its_own_and_a_damaged_log_removes_nothing(
        prefix, setups, display, artefacts):
    before = prefix.snapshot()
    for folder in ("C:\\CorvA", "C:\\CorvB"):
        rc, out = prefix.run(setups["plain"], "/batch", "/dest", folder)
        assert rc == 0, console(out)
    keys = registry(prefix)
    assert entry_command(keys, "Corv_Deploy_0") == "C:\\CorvA\\uninstall.exe"
    assert entry_command(keys, "Corv_Deploy_1") == "C:\\CorvB\\uninstall.exe"

    # Without /batch it asks first; No leaves everything.
    installed = prefix.snapshot()
    run = Wizard(prefix, display, "C:\\CorvB\\uninstall.exe", artefacts, "uninstall")
    box = run.next_window("Question", timeout=300)
    run.shot("confirmation")
    run.answer(box, "n")
    assert run.wait() == 1
    assert_unchanged(prefix, installed)

    log = prefix.host_path("C:\\CorvB\\install.log")
    good = log.read_bytes()
    log.write_bytes(good.replace("v2.0".encode("utf-16-le"), "v9.9".encode("utf-16-le")))
    damaged = prefix.snapshot()
    rc, out = prefix.run("C:\\CorvB\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (1, "Severe error: Corvantis Installer cannot remove this product: Installation log "
                                     "file C:\\CorvB\\install.log has been changed since the installation wrote it "
                                     "and is not trusted\n")
    assert prefix.snapshot() == damaged

    log.write_bytes(good)
    rc, out = prefix.run("C:\\CorvB\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (0, "Corvantis Installer has successfully removed Corv Twice from your computer.\n")
    keys = registry(prefix)
    assert UNINSTALL + "corv_deploy_1" not in keys
    assert entry_command(keys, "Corv_Deploy_0") == "C:\\CorvA\\uninstall.exe"
    assert not prefix.host_path("C:\\CorvB").exists()
    for rel in ("install.log", "uninstall.exe", "bin\\app.exe", "tools\\tool.exe", "data\\sample.txt"):
        assert prefix.host_path("C:\\CorvA\\" + rel).is_file(), rel

    # The first installation's uninstaller finds the shared shortcuts, keys
    # and association gone already and removes the rest.
    rc, out = prefix.run("C:\\CorvA\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (0, "Corvantis Installer has successfully removed Corv Twice from your computer.\n")
    assert_back_as_before(before, prefix.snapshot())


AUTOEXEC = b"@ECHO OFF\r\nSET PATH=C:\\DOS;%PATH%\r\n"


def test_on_windows_98_a_failure_half_way_names_what_is_left_and_the_next_run_finishes(prefix, setups):
    reg = prefix.host_path("C:\\win98.reg")
    reg.write_text('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="win98"\n')
    subprocess.run(prefix.wine("regedit", "/s", "C:\\win98.reg"), env=prefix.env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    reg.unlink()
    prefix.host_path("C:\\autoexec.bat").write_bytes(AUTOEXEC)
    before = prefix.snapshot()
    rc, out = prefix.run(setups["plain"], "/batch")
    assert (rc, console(out)) == (0, "Corvantis Installer has successfully installed Corv Twice on your computer.\n"
                                     "Reboot required\n")
    assert b'SET PATH="C:\\Corv Remove\\tools";"%PATH%"' in prefix.host_path("C:\\autoexec.bat").read_bytes()
    # A file of the product cannot be deleted: a folder of its name holds a file.
    sample = prefix.host_path("C:\\Corv Remove\\data\\sample.txt")
    sample.unlink()
    (sample / "in the way").mkdir(parents=True)

    rc, out = prefix.run("C:\\Corv Remove\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (1, "Severe error: Corvantis Installer has failed to remove Corv Twice from your "
                                     "computer completely. Still present: C:\\Corv Remove\\data\\sample.txt\n")
    log = prefix.host_path("C:\\Corv Remove\\install.log").read_bytes().decode("utf-16-le")
    # The log keeps what is left, and the uninstaller with its folder and
    # its entry, which stays for the next attempt.
    assert log.splitlines()[4:] == ["7", "file C:\\Corv Remove\\install.restore",
                                    "file C:\\Corv Remove\\install.log",
                                    "registrykey " + UNINSTALL_KEY + "Corv_Deploy_0",
                                    "file C:\\Corv Remove\\uninstall.exe",
                                    "file C:\\Corv Remove\\data\\sample.txt", "directory C:\\Corv Remove\\data",
                                    "directory C:\\Corv Remove"]
    assert prefix.host_path("C:\\autoexec.bat").read_bytes() == AUTOEXEC

    shutil.rmtree(sample)
    rc, out = prefix.run("C:\\Corv Remove\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (0, "Corvantis Installer has successfully removed Corv Twice from your computer.\n")
    after = prefix.snapshot()
    assert_back_as_before(before, after, win98=True)
    windows = prefix.host_path("C:\\windows")
    wininit = next(windows / n for n in ("wininit.ini", "wininit.bak") if (windows / n).exists()).read_bytes()
    assert re.fullmatch(rb"\[rename\]\r\nNUL=C:\\users\\[^\r\n]*\\[A-Z0-9~]+\\[A-Z0-9~]+\.EXE\r\n", wininit, re.S), wininit


def test_a_changed_log_removes_nothing_and_nothing_is_deleted_through_a_link(prefix, setups):
    """install.log lies in a folder that others may write to; the uninstall
    entry, which only administrators can write, holds its seal."""
    before = prefix.snapshot()
    rc, out = prefix.run(setups["plain"], "/batch")
    assert rc == 0, console(out)
    log = prefix.host_path("C:\\Corv Remove\\install.log")
    genuine = log.read_bytes()
    entry = registry(prefix)[UNINSTALL + "corv_deploy_0"]
    assert entry["InstallLogDigest"] == hashlib.sha256(genuine).hexdigest()

    # A planted log names a file of the system and another vendor's key.
    victim = prefix.host_path("C:\\CorvVictim\\data")
    victim.mkdir(parents=True)
    (victim / "sample.txt").write_bytes(b"not the product's")
    subprocess.run(prefix.wine("reg", "add", "HKLM\\Software\\Victim", "/v", "Keep", "/d", "1", "/f"), env=prefix.env(),
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    lines = genuine.decode("utf-16-le").split("\n")
    lines[4:5] = [str(int(lines[4]) + 2), "file C:\\CorvVictim\\data\\sample.txt",
                  "registrykey HKEY_LOCAL_MACHINE\\Software\\Victim"]
    log.write_bytes("\n".join(lines).encode("utf-16-le"))
    planted = prefix.snapshot()
    rc, out = prefix.run("C:\\Corv Remove\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (1, "Severe error: Corvantis Installer cannot remove this product: Installation log "
                                     "file C:\\Corv Remove\\install.log has been changed since the installation wrote "
                                     "it and is not trusted\n")
    assert prefix.snapshot() == planted

    # The genuine log, but the product's data folder is now a link to the
    # victim's: what lies behind it stays, and so does the entry, with the
    # rest of the log sealed anew for the next attempt.
    log.write_bytes(genuine)
    shutil.rmtree(prefix.host_path("C:\\Corv Remove\\data"))
    os.symlink(victim, prefix.host_path("C:\\Corv Remove\\data"))
    rc, out = prefix.run("C:\\Corv Remove\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (1, "Severe error: Corvantis Installer has failed to remove Corv Twice from your "
                                     "computer completely. Still present: C:\\Corv Remove\\data\\sample.txt; "
                                     "C:\\Corv Remove\\data\n")
    assert (victim / "sample.txt").read_bytes() == b"not the product's"
    rest = log.read_bytes()
    assert registry(prefix)[UNINSTALL + "corv_deploy_0"]["InstallLogDigest"] == hashlib.sha256(rest).hexdigest()

    prefix.host_path("C:\\Corv Remove\\data").unlink()
    rc, out = prefix.run("C:\\Corv Remove\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (0, "Corvantis Installer has successfully removed Corv Twice from your computer.\n")
    shutil.rmtree(prefix.host_path("C:\\CorvVictim"))
    subprocess.run(prefix.wine("reg", "delete", "HKLM\\Software\\Victim", "/f"), env=prefix.env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert_back_as_before(before, prefix.snapshot())


FOUND_REG = """REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Corvantis Test\\Keeps]
"UserSetting"="mine"

[HKEY_CLASSES_ROOT\\.cvkeep]
@="VictimApp.Document"
"""


def maintained(version, files):
    """The description of one version of a product that the prefix knew of
    before it was installed."""
    return (description("Corv Keeps", False).replace(PRODUCT_KEY, "Corvantis Test\\Keeps")
            .replace('"always"', '"older"').replace('"3.1"', f'"{version}"').replace("Corv Remove", "Corv Keeps")
            .replace('"product"', f'"{files}"').replace("cvrm", "cvkeep"))


def test_repair_and_upgrade_keep_one_entry_and_the_uninstall_puts_back_what_the_product_found(
        prefix, corvpack, installer_stub, tmp_path):
    """Installed, installed again (a repair that finds every file equal),
    then the next version into the same folder: one entry, and its uninstall
    leaves the prefix as it was, the values and the association that were
    there before the product included."""
    for version, files in (("1.0", {"bin/app.exe": b"MZ one", "tools/tool.exe": b"MZ tool"}),
                           ("2.0", {"bin/app.exe": b"MZ two", "tools/tool.exe": b"MZ tool", "data/b.txt": b"b"})):
        for rel, data in files.items():
            (tmp_path / version / rel).parent.mkdir(parents=True, exist_ok=True)
            (tmp_path / version / rel).write_bytes(data)
    v1 = pack(corvpack, installer_stub, tmp_path / "v1", maintained("1.0", "1.0"), tmp_path / "1.0")
    v2 = pack(corvpack, installer_stub, tmp_path / "v2", maintained("2.0", "2.0"), tmp_path / "2.0")
    reg = prefix.host_path("C:\\found.reg")
    reg.write_text(FOUND_REG)
    subprocess.run(prefix.wine("regedit", "/s", "C:\\found.reg"), env=prefix.env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    reg.unlink()
    victim = prefix.host_path("C:\\CorvVictim.txt")
    victim.write_bytes(b"another program's")
    before = prefix.snapshot()
    # A log that someone else put in the folder is no earlier installation.
    planted = prefix.host_path("C:\\Corv Keeps\\install.log")
    planted.parent.mkdir()
    planted.write_bytes("Install Log File, v2.0\nCorv Keeps\n\n1\n1\nfile C:\\CorvVictim.txt\n".encode("utf-16-le"))
    for installer in (v1, v1, v2):
        rc, out = prefix.run(installer, "/batch")
        assert rc == 0, console(out)
    assert "CorvVictim" not in planted.read_bytes().decode("utf-16-le")
    keys = registry(prefix)
    entries = [k for k in keys if k.startswith(UNINSTALL + "corv_deploy_")]
    assert entries == [UNINSTALL + "corv_deploy_0"] and keys[entries[0]]["DisplayVersion"] == "2.0"
    assert keys["hkey_classes_root\\.cvkeep"]["@"] == "Corv Keeps.cvkeep"
    assert keys["hkey_local_machine\\software\\corvantis test\\keeps"]["InstallPath"] == "C:\\Corv Keeps"

    rc, out = prefix.run("C:\\Corv Keeps\\uninstall.exe", "/batch")
    assert (rc, console(out)) == (0, "Corvantis Installer has successfully removed Corv Keeps from your computer.\n")
    # The folder was there before the installation.
    assert_back_as_before(before, prefix.snapshot(), kept=["Corv Keeps"])
