"""The wizard's input pages under Wine, driven by mouse and keyboard through
xdotool (the harness of test_wizard.py), each walk ending in a real
installation whose outcome is checked:

- licence, installation type, destination, JRE, program folder, file
  associations (more than six: shown six at a time), shortcut icons;
- the service page: account and password checks, placeholders on return.

Screenshots of every page go to e2e-artefacts/wizard."""
import subprocess
import time

import pytest

from conftest import stable_registry
from packing import pack
from test_jre import java_home, runtime
from test_services import PACKAGE as SERVICE_PACKAGE, description as service_description, service_product, service_values  # noqa: F401
from test_wizard import NEXT, Wizard, artefacts, display  # noqa: F401 (fixtures)

BACK = (193, 208)
# The first page waits for Wine to start: emulated, on a busy machine.
FIRST_TIMEOUT = 1200

PACKAGE = "Corv Pages"
DEST = "C:\\CorvPages"
BUSY = "C:\\CorvBusy"
SMALL_DRIVE = "t:"
JRE = "C:\\Corv Runtime"
COMMON_PROGRAMS = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
COMMON_START_MENU = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"
COMMON_DESKTOP = "C:\\users\\Public\\Desktop"
FILES = {
    "bin/tool.exe": b"MZ not really a program\r\n" * 20,
    "docs/readme.txt": b"Read me.\r\n",
}
EXTENSIONS = [f"cp{i}" for i in range(1, 8)]  # seven: one more than a showing holds

# Controls of the pages, in dialog units (centres).
ACCEPT = (30, 159)           # licence: "I accept"
BROWSE = (275, 134)          # destination: Browse
FOLDER_EDIT = (100, 86)      # program folder: the name
FIRST_BOX, SECOND_BOX = (50, 71), (50, 87)   # check boxes IDC_FIRST_BOX and IDC_SECOND_BOX
ACCOUNT, PASSWORD, CONFIRMATION = (256, 117), (256, 130), (256, 143)


def description():
    text = f"""
[package]
name = "{PACKAGE}"
overwrite = "always"
licence = "licence.txt"

[destination]
base = "path"
folder = '{DEST}'
program-folder = "Corv Pages"

[files]
source = "product"

[jre]
version = "1.4.2"

[[jre.layout]]
files = [ {{ path = "bin/java.exe", size = 100 }} ]

[[shortcut]]
name = "Run Tool"
target = "bin/tool.exe"

[[shortcut]]
location = "desktop"
name = "Corv Desk"
target = "bin/tool.exe"

[[shortcut]]
location = "start-menu"
name = "Corv Menu"
target = "docs/readme.txt"
"""
    for ext in EXTENSIONS:
        text += f"""
[[association]]
extension = "{ext}"
description = "CorvPages.{ext}"
program = "bin/tool.exe"
"""
    return text


@pytest.fixture
def small_drive(prefix, tmp_path):
    """Drive T: of the prefix on a file system of 4 KiB, one cluster less
    than the package's files take."""
    mount = tmp_path / "small"
    mount.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4k", "tmpfs", str(mount)],
                      stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("a small file system needs mount (root)")
    (prefix.path / "dosdevices" / SMALL_DRIVE).symlink_to(mount)
    yield SMALL_DRIVE.upper()
    # Nothing of the prefix may keep the file system busy.
    subprocess.run(["wineserver", "-k"], env=prefix.env(), check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["umount", "-l", str(mount)], check=False)


class PageWizard(Wizard):
    """A run whose pages carry the package's own name in their title."""

    def __init__(self, prefix, display, exe, artefacts, name, package):
        super().__init__(prefix, display, exe, artefacts, name)
        self.title = f"{package} - Corvantis Installer"

    def next_window(self, title=None, timeout=120):
        window = super().next_window(title or self.title, timeout)
        time.sleep(3)  # a busy machine: let the page take input
        return window

    def exists(self, window):
        return window in self.windows(self.title)


def type_into(wizard, window, units, text):
    """Replaces the text of the edit at `units` with `text`."""
    wizard.click(window, units)
    xdotool = ["xdotool"]
    env = {"DISPLAY": wizard.display}
    subprocess.run([*xdotool, "key", "End", "shift+Home", "BackSpace"], env=env, check=True)
    subprocess.run([*xdotool, "type", "--delay", "50", text], env=env, check=True)


def browse_to(wizard, page, folder):
    """Opens the folder browser, types `folder` into its path edit, OK."""
    wizard.click(page, BROWSE)
    browser = wizard.next_window("Browse for Folder", timeout=120)
    wizard.shot("browse")
    env = {"DISPLAY": wizard.display}
    wizard.key(browser, "alt+p")
    subprocess.run(["xdotool", "key", "End", "shift+Home", "BackSpace"], env=env, check=True)
    subprocess.run(["xdotool", "type", "--delay", "50", folder], env=env, check=True)
    subprocess.run(["xdotool", "key", "Return"], env=env, check=True)


def answer(wizard, caption, key, shot):
    box = wizard.next_window(caption, timeout=120)
    wizard.shot(shot)
    wizard.answer(box, key)


def stays(wizard, page):
    time.sleep(3)
    assert wizard.exists(page), "the page ended"


def test_a_walk_through_the_input_pages(prefix, display, artefacts, corvpack, installer_stub, small_drive,
                                        tmp_path):
    top = tmp_path / "package"
    product = top / "product"
    for rel, data in FILES.items():
        (product / rel).parent.mkdir(parents=True, exist_ok=True)
        (product / rel).write_bytes(data)
    top.mkdir(exist_ok=True)
    (top / "licence.txt").write_text("Use it well.\nNo warranty.\n")
    exe = pack(corvpack, installer_stub, top, description(), product)
    runtime_folder = prefix.host_path(JRE)
    (runtime_folder / "bin").mkdir(parents=True)
    (runtime_folder / "bin" / "java.exe").write_bytes(b"j" * 100)
    java_home(prefix, "LOCAL_MACHINE", "Java Runtime Environment", "1.4.2", JRE)
    prefix.host_path(BUSY).mkdir()
    prefix.host_path(BUSY + "\\keep.txt").write_bytes(b"mine")

    wizard = PageWizard(prefix, display, exe, artefacts, "pages", PACKAGE)
    wizard.click(wizard.next_window(timeout=FIRST_TIMEOUT), NEXT)

    # Licence: Next does nothing until accepted; the choice is kept across Back.
    licence = wizard.next_window()
    wizard.shot("licence")
    wizard.click(licence, NEXT)
    stays(wizard, licence)
    wizard.click(licence, ACCEPT)
    wizard.click(licence, NEXT)
    kind = wizard.next_window()
    wizard.shot("type")
    wizard.click(kind, BACK)
    licence = wizard.next_window()
    wizard.shot("licence-again")
    wizard.click(licence, NEXT)
    wizard.click(wizard.next_window(), NEXT)  # type: common, as proposed

    # Destination: a drive too small shows 1489; a folder with contents asks
    # 1490, and No keeps the folder chosen before.
    destination = wizard.next_window()
    wizard.shot("destination")
    browse_to(wizard, destination, small_drive + "\\Corv")
    time.sleep(3)
    wizard.shot("destination-small")
    wizard.click(destination, NEXT)
    answer(wizard, "Warning", "Return", "no-space")
    stays(wizard, destination)
    browse_to(wizard, destination, DEST)
    time.sleep(3)
    browse_to(wizard, destination, BUSY)
    answer(wizard, "Warning", "n", "not-empty")
    wizard.shot("destination-kept")
    wizard.click(destination, NEXT)

    # JRE: the registry's runtime is proposed; Back lands on the destination.
    jre = wizard.next_window()
    wizard.shot("jre")
    wizard.click(jre, BACK)
    wizard.click(wizard.next_window(), NEXT)
    wizard.click(wizard.next_window(), NEXT)

    # Program folder: a colon is refused (severe error 1312), a backslash nests.
    folder = wizard.next_window()
    wizard.shot("program-folder")
    type_into(wizard, folder, FOLDER_EDIT, "A:B")
    wizard.click(folder, NEXT)
    answer(wizard, "Severe error", "Return", "folder-refused")
    stays(wizard, folder)
    type_into(wizard, folder, FOLDER_EDIT, "A\\B")
    wizard.click(folder, NEXT)

    # Associations: six, then the seventh on a second showing; Back returns
    # to the first six as left.
    first = wizard.next_window()
    wizard.click(first, SECOND_BOX)
    wizard.shot("associations")
    wizard.click(first, NEXT)
    second = wizard.next_window()
    wizard.shot("associations-more")
    wizard.click(second, BACK)
    first = wizard.next_window()
    wizard.shot("associations-again")
    wizard.click(first, NEXT)
    wizard.click(wizard.next_window(), NEXT)

    # Shortcuts: desktop unticked.
    shortcuts = wizard.next_window()
    wizard.click(shortcuts, FIRST_BOX)
    wizard.shot("shortcuts")
    wizard.click(shortcuts, NEXT)

    summary = wizard.next_window()
    wizard.shot("pages-summary")
    wizard.click(summary, NEXT)
    finish = wizard.page_after_progress()
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0

    for rel, data in FILES.items():
        assert prefix.host_path(DEST + "\\" + rel.replace("/", "\\")).read_bytes() == data
    assert prefix.host_path(BUSY + "\\keep.txt").read_bytes() == b"mine"
    assert not prefix.host_path(BUSY + "\\bin").exists()
    assert prefix.host_path(COMMON_PROGRAMS + "\\A\\B\\Run Tool.lnk").is_file()
    assert prefix.host_path(COMMON_START_MENU + "\\Corv Menu.lnk").is_file()
    assert not prefix.host_path(COMMON_DESKTOP + "\\Corv Desk.lnk").exists()
    prefix.wait()
    classes = {key.lower() for key in stable_registry(prefix.path / "system.reg")}
    registered = {ext for ext in EXTENSIONS if f"[software\\\\classes\\\\.{ext}]" in classes}
    assert registered == set(EXTENSIONS) - {"cp2"}


def test_the_service_page_confirms_passwords(prefix, display, artefacts, corvpack, installer_stub,
                                             service_product, tmp_path):  # noqa: F811 (fixture)
    exe = pack(corvpack, installer_stub, tmp_path / "service", service_description("user"), service_product)
    wizard = PageWizard(prefix, display, exe, artefacts, "service", SERVICE_PACKAGE)
    wizard.click(wizard.next_window(timeout=FIRST_TIMEOUT), NEXT)
    wizard.click(wizard.next_window(), NEXT)  # destination

    page = wizard.next_window()
    wizard.shot("service")
    # The untouched placeholders never confirm.
    type_into(wizard, page, ACCOUNT, ".\\corvagent")
    wizard.click(page, NEXT)
    answer(wizard, "Warning", "Return", "service-unconfirmed")
    stays(wizard, page)
    # Two different passwords: 1565; back on the page, the account is kept
    # and the passwords are placeholders again, which do not confirm.
    type_into(wizard, page, PASSWORD, "abc")
    type_into(wizard, page, CONFIRMATION, "abd")
    wizard.click(page, NEXT)
    answer(wizard, "Warning", "Return", "service-mismatch")
    stays(wizard, page)
    wizard.click(page, BACK)
    wizard.click(wizard.next_window(), NEXT)  # destination
    page = wizard.next_window()
    wizard.shot("service-placeholders")
    wizard.click(page, NEXT)
    answer(wizard, "Warning", "Return", "service-placeholders-refused")
    stays(wizard, page)
    type_into(wizard, page, PASSWORD, "s3cret")
    type_into(wizard, page, CONFIRMATION, "s3cret")
    wizard.click(page, NEXT)

    wizard.click(wizard.next_window(), NEXT)  # summary
    wizard.click(wizard.page_after_progress(), NEXT)  # finish
    assert wizard.wait() == 0
    values = service_values(prefix)
    assert values["ObjectName"] == '".\\\\corvagent"'
