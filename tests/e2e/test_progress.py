"""The wizard's progress page under Wine on an X server of its own, driven
through xdotool: the bars move while the package is written and
"Finishing setup. Please wait..." shows while the last steps run; Cancel on
the progress page asks, Yes rolls the installation back, No lets it finish;
over an earlier installation a package that asks before replacing files
prompts for each file until Yes to All, and Cancel in the prompt keeps the
file and ends the installation as cancelled; a package with a splash
picture shows a compact progress window beside it.

Whatever the machine's speed, the walks act at points they hold: the
destination lies on a file system of the test's own that stops the
extraction in the middle of one file until the test lets it go on, and the
install-run program waits for a file that the test makes.

Screenshots of every step are written under the build tree
(e2e-artefacts/wizard)."""
import random
import struct
import subprocess
import time

import pytest

from gatefs import GatedFolder
from packing import pack
from test_wizard import (CANCEL, DEST, NEXT, PACKAGE, TITLE, Wizard, artefacts, assert_unchanged,  # noqa: F401
                         display, xdotool)

NOTE_TEXT = "Finishing setup. Please wait..."
PROMPT = "Confirm file replacement"
# The overwrite prompt measures 276 by 104 dialog units; its buttons' centres.
PROMPT_UNITS = (276, 104)
PROMPT_YES, PROMPT_YES_TO_ALL, PROMPT_NO, PROMPT_CANCEL = (76, 91), (130, 91), (184, 91), (238, 91)
# The bars of the progress page (dialog units): left, top, width, height.
ITEM_BAR = (20, 104, 292, 11)
OVERALL_BAR = (20, 140, 292, 11)
PAGE_UNITS = (332, 222)
# The held walks install into a folder on the gated file system, which the
# extraction stops in the middle of GATE_FILE; the install-run program ends
# once RELEASE exists.
GATED = "CorvGated"
GATED_DEST = f"C:\\{GATED}\\Product"
GATE_FILE = "data/gate.bin"
GATE_SIZE = 4 << 20
RELEASE = "C:\\release.txt"


def description(overwrite="always", wizard_bitmap=None, waits=False, dest=DEST, language="english"):
    text = f"""
[package]
name = "{PACKAGE}"
language = "{language}"
overwrite = "{overwrite}"
"""
    if wizard_bitmap:
        text += f'wizard-bitmap = "{wizard_bitmap}"\n'
    text += f"""
[destination]
base = "path"
folder = '{dest}'

[files]
source = "product"
"""
    if waits:
        text += f"""
[install-run]
program = "bin/wait.exe"
arguments = '{RELEASE}'
"""
    return text


def build(corvpack, stub, top, files, **options):
    product = top / "product"
    for rel, data in files.items():
        path = product / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    if options.get("waits"):
        wait = product / "bin" / "wait.exe"
        wait.parent.mkdir(parents=True, exist_ok=True)
        wait.write_bytes((stub.parent.parent / "tests" / "testwait.exe").read_bytes())
    return pack(corvpack, stub, top, description(**options), product)


@pytest.fixture
def gate(prefix, tmp_path):
    """The gated file system as the prefix's C:\\CorvGated."""
    folder = GatedFolder(tmp_path / "gate-backing", prefix.drive_c / GATED, tmp_path / "gate-control",
                         "Product/" + GATE_FILE, GATE_SIZE // 2)
    yield folder
    # Nothing of the prefix may keep the file system busy.
    subprocess.run(["wineserver", "-k"], env=prefix.env(), check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    folder.close()


def gated_files():
    """Files before, at and after the gate."""
    rng = random.Random(17)
    return {"data/first.bin": rng.randbytes(1 << 20), "data/first.txt": b"small\r\n" * 50,
            GATE_FILE: rng.randbytes(GATE_SIZE), "data/last.bin": rng.randbytes(1 << 20)}


def through_summary(wizard):
    """Next on the welcome, destination and summary pages; the next window of the
    wizard, the progress page (or one of its two windows)."""
    for page in ("welcome", "destination", "summary"):
        wizard.click(wizard.next_window(), NEXT)
    return wizard.next_window()


def running(wizard):
    return lambda: wizard.process.poll() is None
def click(wizard, window, units, size):
    """Clicks the point `units` of a window that measures `size` dialog units."""
    geometry = geometry_of(wizard, window)
    x = units[0] * geometry["WIDTH"] // size[0]
    y = units[1] * geometry["HEIGHT"] // size[1]
    xdotool(wizard.display, "mousemove", "--window", window, x, y)
    xdotool(wizard.display, "click", "1")


def geometry_of(wizard, window):
    out = xdotool(wizard.display, "getwindowgeometry", "--shell", window).stdout
    return {k: int(v) for k, v in (line.split("=", 1) for line in out.split()) if k != "SCREEN"}


def untitled_windows(wizard):
    """The visible windows without a title but for Wine's desktop window
    (screen-sized): the finishing note is one."""
    screen = [int(v) for v in xdotool(wizard.display, "getdisplaygeometry").stdout.split()]
    out = xdotool(wizard.display, "search", "--onlyvisible", "--name", "^$").stdout
    windows = {int(w) for w in out.split()}
    return {w for w in windows if [geometry_of(wizard, w)[k] for k in ("WIDTH", "HEIGHT")] != screen}


# The empty part of a bar is drawn in the window colour, white in the prefix
# (a full bar has no pixel of it left to compare with).
BAR_BACKGROUND = b"\xff\xff\xff"


def fill(screenshot, geometry, bar):
    """How many pixels of the bar's middle row are filled, out of its width:
    the filled part is drawn in a colour unlike the bar's background."""
    sx = geometry["WIDTH"] / PAGE_UNITS[0]
    sy = geometry["HEIGHT"] / PAGE_UNITS[1]
    left = geometry["X"] + int(bar[0] * sx) + 3
    width = int(bar[2] * sx) - 6
    row = geometry["Y"] + int((bar[1] + bar[3] / 2) * sy)
    ppm = subprocess.run(["/usr/bin/convert", str(screenshot), "-crop", f"{width}x1+{left}+{row}", "+repage", "ppm:-"],
                         check=True, stdout=subprocess.PIPE).stdout
    pixels = ppm.split(b"\n", 3)[3]
    colours = [pixels[i:i + 3] for i in range(0, len(pixels), 3)]
    return sum(1 for c in colours if sum(abs(a - b) for a, b in zip(c, BAR_BACKGROUND)) > 120), len(colours)


def fills_when_held(wizard, page, name):
    """The fills of both bars while the extraction waits at the gate: the
    page shows a state that no longer changes once it has drawn it."""
    end = time.monotonic() + 120
    while True:
        shot = wizard.shot(name)
        geometry = geometry_of(wizard, page)
        item, overall = fill(shot, geometry, ITEM_BAR), fill(shot, geometry, OVERALL_BAR)
        if (0 < item[0] < item[1] and 0 < overall[0] < overall[1]) or time.monotonic() > end:
            return item, overall
        time.sleep(1)


def wait_for_note(wizard):
    """Waits for the finishing note; the screenshot with it."""
    end = time.monotonic() + 600
    while not untitled_windows(wizard):
        assert running(wizard)(), "the installer ended without the finishing note"
        assert time.monotonic() < end, "no finishing note"
        time.sleep(0.5)
    time.sleep(1)  # let it paint
    return wizard.shot("progress-note")


def test_cancel_asks_and_the_bars_and_the_finishing_note_show(prefix, display, artefacts, corvpack,
                                                               installer_stub, gate, tmp_path):
    before = prefix.snapshot()
    files = gated_files()
    exe = build(corvpack, installer_stub, tmp_path / "package", files, waits=True, dest=GATED_DEST)
    written = gate.mountpoint / "Product" / "data" / "first.bin"

    # Cancel while the extraction waits at the gate, then Yes: everything
    # written goes again.
    wizard = Wizard(prefix, display, exe, artefacts, "progress-cancel")
    progress = through_summary(wizard)
    gate.wait_held(alive=running(wizard))
    assert written.read_bytes() == files["data/first.bin"]
    wizard.click(progress, CANCEL)
    box = wizard.next_window("Exit confirmation", timeout=60)
    wizard.shot("exit-confirmation")
    wizard.answer(box, "y")
    gate.open()
    assert wizard.wait() == 1
    assert_unchanged(prefix, before)

    # Cancel, then No: the installation goes on, both bars move, and the
    # finishing note shows while the install-run program waits.
    gate.shut()
    wizard = Wizard(prefix, display, exe, artefacts, "progress")
    progress = through_summary(wizard)
    gate.wait_held(alive=running(wizard))
    item, overall = fills_when_held(wizard, progress, "progress-held")
    assert 0 < item[0] < item[1] and 0 < overall[0] < overall[1], (item, overall)
    wizard.click(progress, CANCEL)
    box = wizard.next_window("Exit confirmation", timeout=60)
    wizard.shot("progress-asking")
    wizard.answer(box, "n")
    assert wizard.exists(progress)
    gate.open()
    # The note shows until the last steps are done and covers neither bar:
    # both are full.
    note = wait_for_note(wizard)
    geometry = geometry_of(wizard, progress)
    assert [fill(note, geometry, bar) for bar in (ITEM_BAR, OVERALL_BAR)] == [(item[1], item[1]),
                                                                              (overall[1], overall[1])]
    assert wizard.exists(progress)
    prefix.host_path(RELEASE).write_bytes(b"")
    # Then the page ends itself and the finish page follows.
    finish = wizard.next_window(timeout=120)
    assert not untitled_windows(wizard)
    wizard.shot("progress-finish")
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    for rel, data in files.items():
        assert prefix.host_path(GATED_DEST + "\\" + rel.replace("/", "\\")).read_bytes() == data


def test_asking_before_replacing_files(prefix, display, artefacts, corvpack, installer_stub, tmp_path):
    names = ["a.txt", "b.txt", "c.txt"]
    versions = [{name: f"{name} version {v}\r\n".encode() * 10 for name in names} for v in range(3)]
    first = build(corvpack, installer_stub, tmp_path / "v0", versions[0], overwrite="ask")
    second = build(corvpack, installer_stub, tmp_path / "v1", versions[1], overwrite="ask")
    third = build(corvpack, installer_stub, tmp_path / "v2", versions[2], overwrite="ask")
    code, out = prefix.run(first, "/batch")
    assert code == 0, out

    def content(name):
        return prefix.host_path(DEST + "\\" + name).read_bytes()

    # No keeps a.txt; Yes to All replaces b.txt and, without asking, c.txt.
    wizard = Wizard(prefix, display, second, artefacts, "overwrite")
    progress = through_summary(wizard)
    prompt = wizard.next_window(PROMPT)
    wizard.shot("overwrite-prompt")
    click(wizard, prompt, PROMPT_NO, PROMPT_UNITS)
    prompt = wizard.next_window(PROMPT, timeout=120)
    click(wizard, prompt, PROMPT_YES_TO_ALL, PROMPT_UNITS)
    finish = wizard.next_window(timeout=120)
    assert not wizard.windows(PROMPT), "asked again after Yes to All"
    assert not wizard.exists(progress)
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    assert [content(name) for name in names] == [versions[0]["a.txt"], versions[1]["b.txt"], versions[1]["c.txt"]]

    # Cancel in the prompt asks; Yes keeps the file and ends the installation
    # as cancelled, with nothing changed.
    before = prefix.snapshot()
    wizard = Wizard(prefix, display, third, artefacts, "overwrite-cancel")
    through_summary(wizard)
    prompt = wizard.next_window(PROMPT)
    click(wizard, prompt, PROMPT_CANCEL, PROMPT_UNITS)
    box = wizard.next_window("Exit confirmation", timeout=60)
    wizard.shot("overwrite-exit-confirmation")
    wizard.answer(box, "y")
    assert wizard.wait() == 1
    assert_unchanged(prefix, before)


def bitmap(width, height):
    """A 24-bit Windows bitmap with a colour gradient."""
    stride = (width * 3 + 3) & ~3
    rows = b"".join(bytes(b for x in range(width) for b in (x * 255 // width, y * 255 // height, 160))
                    + b"\0" * (stride - width * 3) for y in range(height))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return header + info + rows


def test_a_splash_picture_brings_the_compact_presentation(prefix, display, artefacts, corvpack,
                                                          installer_stub, tmp_path):
    top = tmp_path / "package"
    top.mkdir()
    (top / "splash.bmp").write_bytes(bitmap(320, 200))
    exe = build(corvpack, installer_stub, top, {"docs/readme.txt": b"Read me.\r\n"}, wizard_bitmap="splash.bmp",
                waits=True)
    wizard = Wizard(prefix, display, exe, artefacts, "compact")
    # The splash window and the compact progress window, both titled.
    windows = [through_summary(wizard), wizard.next_window(timeout=60)]
    wizard.shot("compact")
    screen = [int(v) for v in xdotool(display, "getdisplaygeometry").stdout.split()]
    shapes = {w: geometry_of(wizard, w) for w in windows}
    splash = next(w for w in windows if shapes[w]["WIDTH"] >= 320)
    compact = next(w for w in windows if w != splash)
    # The splash shows the whole picture, centred; the progress window sits
    # near the lower right corner, at ten elevenths of the free space.
    s, c = shapes[splash], shapes[compact]
    assert s["WIDTH"] >= 320 and s["HEIGHT"] >= 200, s
    assert abs(s["X"] + s["WIDTH"] // 2 - screen[0] // 2) < 20, (s, screen)
    assert c["X"] > screen[0] // 2 and c["Y"] > screen[1] // 2, (c, screen)
    assert c["WIDTH"] < 600, c
    prefix.host_path(RELEASE).write_bytes(b"")
    finish = wizard.next_window(timeout=300)
    assert not wizard.exists(splash) and not wizard.exists(compact)
    wizard.shot("compact-finish")
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    assert prefix.host_path(DEST + "\\docs\\readme.txt").read_bytes() == b"Read me.\r\n"
