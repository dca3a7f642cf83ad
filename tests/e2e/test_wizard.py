"""The wizard under Wine on an X server of its own, driven by mouse and
keyboard through xdotool: welcome -> destination -> summary -> finish
installs the files
(in English and in German); Cancel then No keeps the page, Cancel then Yes
leaves the prefix as it was and exits with 1; a failing installation shows
the finish page's failure form and is rolled back; the finish page's
restart choice reaches the record.

Every page is written as a PNG screenshot under the build tree
(e2e-artefacts/wizard) for a look at the pages."""
import os
import pathlib
import random
import shutil
import subprocess
import time

import pytest

from packing import pack

PACKAGE = "Corv Wizard"
TITLE = f"{PACKAGE} - Corvantis Installer"
DEST = "C:\\CorvWizard"
FILES = {
    "bin/tool.exe": b"MZ not really a program\r\n" * 20,
    "docs/readme.txt": b"Read me.\r\n",
}
# The dialog units of every page template and where its buttons are (their
# centres): the pages measure 332 by 222 units.
PAGE_UNITS = (332, 222)
NEXT = (243, 208)
CANCEL = (300, 208)
START_TIMEOUT = 400  # a Wine start is emulated here: slow


def description(language, install_run=None):
    text = f"""
[package]
name = "{PACKAGE}"
language = "{language}"
overwrite = "always"

[destination]
base = "path"
folder = '{DEST}'

[files]
source = "product"
"""
    if install_run:
        text += f"""
[install-run]
program = "{install_run}"
"""
    return text


def xdotool(display, *args):
    return subprocess.run(["xdotool", *map(str, args)], env=dict(os.environ, DISPLAY=display),
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


@pytest.fixture
def display():
    """An X server of the test's own (Xvfb) on a display number that nothing
    else uses; its display name."""
    for tool in ("Xvfb", "xdotool", "import"):
        assert shutil.which(tool), f"{tool} is missing: run scripts/bootstrap.sh"
    for number in random.sample(range(300, 900), 20):
        if pathlib.Path(f"/tmp/.X{number}-lock").exists():
            continue
        server = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = time.monotonic() + 30
        while server.poll() is None and time.monotonic() < end:
            if xdotool(f":{number}", "getdisplaygeometry").returncode == 0:
                break
            time.sleep(0.2)
        if server.poll() is None:
            break
    else:
        pytest.fail("no X server could be started")
    yield f":{number}"
    server.terminate()
    server.wait()


@pytest.fixture
def artefacts(build_dir):
    folder = build_dir / "e2e-artefacts" / "wizard"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


class Wizard:
    """One run of an installer on the test's display."""

    def __init__(self, prefix, display, exe, artefacts, name, locale=None):
        self.display = display
        self.artefacts = artefacts
        self.name = name
        self.seen = set()
        self.command = prefix.wine(exe)
        self.env = dict(prefix.env(), CORV_DISPLAY=display, WINEDEBUG="err+all")
        if locale:  # Wine takes the code page from the locale
            self.env.update(LANG=locale, LC_ALL=locale)
        self.restarted = False
        # A wineserver still serving an earlier run without a display would
        # hand this run that run's desktop, on which no window can be drawn.
        try:
            subprocess.run(["wineserver", "-w"], env=prefix.env(), check=False, timeout=60)
        except subprocess.TimeoutExpired:
            subprocess.run(["wineserver", "-k"], env=prefix.env(), check=False)
        self.start()

    def start(self):
        self.log = open(self.artefacts / f"{self.name}-wine.log", "wb")
        self.process = subprocess.Popen(self.command, env=self.env, stdout=subprocess.PIPE, stderr=self.log,
                                        stdin=subprocess.DEVNULL)

    def lost_its_desktop(self):
        """Whether the run ended because Wine's desktop process did not start
        in time (Wine waits for it only so long, which an emulated start
        under load can exceed): then the installer could not draw its first
        window and changed nothing."""
        self.log.close()
        text = (self.artefacts / f"{self.name}-wine.log").read_bytes()
        return not self.seen and b"nodrv_CreateWindow" in text

    def windows(self, title):
        out = xdotool(self.display, "search", "--onlyvisible", "--name", f"^{title}$").stdout
        return [int(w) for w in out.split()]

    def next_window(self, title=TITLE, timeout=START_TIMEOUT):
        """Waits for a window of `title` that was not seen before: the next page."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            fresh = [w for w in self.windows(title) if w not in self.seen]
            if fresh:
                self.seen.add(fresh[0])
                time.sleep(2)  # let it paint
                return fresh[0]
            if self.process.poll() is not None:
                if not self.restarted and self.lost_its_desktop():
                    self.restarted = True
                    self.start()
                    continue
                pytest.fail(f"the installer ended ({self.process.returncode}) before {title}: "
                            f"{self.process.stdout.read()!r}")
            time.sleep(1)
        pytest.fail(f"no window {title!r} within {timeout} s")

    def page_after_progress(self):
        """The page after the progress page, which ends by itself: the next
        fresh window that shows the finish page, however long the progress
        page stays."""
        while True:
            window = self.next_window()
            end = time.monotonic() + 60
            kind = self.page_kind(window)
            while kind is None and self.exists(window) and time.monotonic() < end:
                time.sleep(0.5)
                kind = self.page_kind(window)
            if kind == "finish":
                return window

    def page_kind(self, window):
        """What the row of the progress page's overall bar shows: "progress"
        (the bar: white and its blue), "finish" (the side picture at its left
        end, or the failure form's plain face), or None for a window that has
        gone or is not drawn yet."""
        out = xdotool(self.display, "getwindowgeometry", "--shell", window)
        if out.returncode != 0:
            return None
        g = {k: int(v) for k, v in (line.split("=", 1) for line in out.stdout.split()) if k != "SCREEN"}
        sx, sy = g["WIDTH"] / PAGE_UNITS[0], g["HEIGHT"] / PAGE_UNITS[1]
        crop = f"{int(286 * sx)}x1+{g['X'] + int(23 * sx)}+{g['Y'] + int(145.5 * sy)}"
        ppm = subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", crop, "-depth", "8",
                              "ppm:-"], stdout=subprocess.PIPE, check=True).stdout
        pixels = ppm.split(b"\n", 3)[3]
        colours = [tuple(pixels[i:i + 3]) for i in range(0, len(pixels) - 2, 3)]

        def share(test):
            return sum(1 for c in colours if test(c)) / len(colours)
        if share(lambda c: c == (255, 255, 255) or (c[2] > 200 and c[0] < 120)) > 0.95:
            return "progress"
        if share(lambda c: c[0] == c[1] == c[2] and 230 <= c[0] < 255) > 0.95:
            return "finish"
        red, _, blue = colours[0]
        return "finish" if red + 40 < blue < 200 else None

    def shot(self, page):
        path = self.artefacts / f"{self.name}-{page}.png"
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)], check=True)
        return path

    def click(self, window, units):
        """Clicks the point of the page given in dialog units."""
        geometry = dict(line.split("=", 1) for line in
                        xdotool(self.display, "getwindowgeometry", "--shell", window).stdout.split())
        x = units[0] * int(geometry["WIDTH"]) // PAGE_UNITS[0]
        y = units[1] * int(geometry["HEIGHT"]) // PAGE_UNITS[1]
        xdotool(self.display, "mousemove", "--window", window, x, y)
        xdotool(self.display, "click", "1")

    def key(self, window, key):
        xdotool(self.display, "windowfocus", window)
        xdotool(self.display, "key", key)

    def answer(self, box, key):
        """Presses `key` in a message box until the box goes: under load a
        key pressed before the box takes the focus is lost."""
        title = xdotool(self.display, "getwindowname", box).stdout.strip()
        for _ in range(3):
            self.key(box, key)
            end = time.monotonic() + 5
            while time.monotonic() < end:
                if box not in self.windows(title):
                    return
                time.sleep(0.5)
        pytest.fail(f"the box {title!r} did not take {key!r}")

    def exists(self, window):
        return window in self.windows(TITLE)

    def wait(self, timeout=300):
        try:
            self.process.wait(timeout)
        finally:
            if self.process.poll() is None:
                self.process.kill()
        return self.process.returncode


def assert_unchanged(prefix, before):
    """The prefix's files and registry as they were, but for the font lists
    that Wine itself brings up to date when it first draws on a display."""
    after = prefix.snapshot()
    assert after["files"] == before["files"]
    for name, sections in before["registry"].items():
        changed = {key for key in set(sections) | set(after["registry"][name])
                   if sections.get(key) != after["registry"][name].get(key)
                   and not key.endswith(("\\\\CurrentVersion\\\\Fonts]", "\\\\Fonts\\\\External Fonts]"))}
        assert changed == set(), (name, sorted(changed))


def build(corvpack, stub, top, language, install_run=None, text=None):
    """The installer of the product's FILES (and whatever "top/product"
    holds already), by `text` or the description of `language`."""
    product = top / "product"
    for rel, data in FILES.items():
        path = product / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return pack(corvpack, stub, top, text or description(language, install_run), product)


@pytest.mark.parametrize("language", ["english", "german"])
def test_welcome_summary_finish_installs_the_files(language, prefix, display, artefacts, corvpack,
                                                   installer_stub, tmp_path):
    exe = build(corvpack, installer_stub, tmp_path / "package", language)
    wizard = Wizard(prefix, display, exe, artefacts, language)
    for page in ("welcome", "destination", "summary"):
        window = wizard.next_window()
        wizard.shot(page)
        wizard.click(window, NEXT)
    finish = wizard.page_after_progress()
    wizard.shot("finish")
    wizard.click(finish, NEXT)  # Finish
    assert wizard.wait() == 0
    for rel, data in FILES.items():
        assert prefix.host_path(DEST + "\\" + rel.replace("/", "\\")).read_bytes() == data


def test_cancel_asks_and_failure_shows_the_finish_page(prefix, display, artefacts, corvpack,
                                                       installer_stub, tmp_path):
    before = prefix.snapshot()
    exe = build(corvpack, installer_stub, tmp_path / "package", "english")
    wizard = Wizard(prefix, display, exe, artefacts, "cancel")
    welcome = wizard.next_window()
    wizard.click(welcome, CANCEL)
    box = wizard.next_window("Exit confirmation", timeout=60)
    wizard.shot("exit-confirmation")
    wizard.answer(box, "n")
    time.sleep(3)
    assert wizard.exists(welcome), "No closed the page"
    wizard.click(welcome, CANCEL)
    box = wizard.next_window("Exit confirmation", timeout=60)
    wizard.answer(box, "y")
    assert wizard.wait() == 1
    assert_unchanged(prefix, before)

    # An install-run program that cannot be run fails the installation.
    failing = build(corvpack, installer_stub, tmp_path / "failing", "english", install_run="bin/missing.exe")
    wizard = Wizard(prefix, display, failing, artefacts, "failure")
    for page in ("welcome", "destination", "summary"):
        wizard.click(wizard.next_window(), NEXT)
    finish = wizard.page_after_progress()
    wizard.shot("finish-failure")
    wizard.click(finish, NEXT)
    assert wizard.wait() == 1
    assert_unchanged(prefix, before)


def test_restart_later_is_stored_and_the_after_run_program_starts(prefix, display, artefacts, corvpack,
                                                                   installer_stub, tmp_path):
    """On Windows 98 the PATH entry goes into "autoexec.bat" and needs a
    restart: the finish page offers it, "later" preselected, and Finish
    stores that choice, so the after-run program starts (a pending restart
    would hold it back)."""
    reg = prefix.host_path("C:\\win98.reg")
    reg.write_text('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="win98"\n', encoding="cp1252")
    subprocess.run(prefix.wine("regedit", "/s", "C:\\win98.reg"), env=prefix.env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    reg.unlink()
    top = tmp_path / "restart"
    check = top / "product" / "bin" / "check.exe"
    check.parent.mkdir(parents=True)
    check.write_bytes((installer_stub.parent.parent / "tests" / "testexit.exe").read_bytes())
    text = description("english").replace('overwrite = "always"\n', 'overwrite = "always"\npath-entry = "bin"\n')
    text += """
[after-run]
program = "bin/check.exe"
arguments = '0 C:\\CorvWizard\\after-run.txt later'
"""
    exe = build(corvpack, installer_stub, top, "english", text=text)
    wizard = Wizard(prefix, display, exe, artefacts, "restart")
    for page in ("welcome", "destination", "summary"):
        wizard.click(wizard.next_window(), NEXT)
    finish = wizard.page_after_progress()
    wizard.shot("finish-restart")
    wizard.click(finish, NEXT)  # Finish, restart later
    assert wizard.wait() == 0
    record = prefix.host_path("C:\\CorvWizard\\after-run.txt")
    end = time.monotonic() + 120
    while not record.exists() and time.monotonic() < end:
        time.sleep(1)
    assert record.read_text().splitlines() == ["later"]
    assert "CorvWizard" in prefix.host_path("C:\\autoexec.bat").read_text(errors="replace")
