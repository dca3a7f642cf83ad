"""The wizard's progress page under Wine on an X server of its own, driven
through xdotool: the bars move while a large package is written and
"Finishing setup. Please wait..." shows while the last steps run; Cancel on
the progress page asks, Yes rolls the installation back, No lets it finish;
over an earlier installation a package that asks before replacing files
prompts for each file until Yes to All, and Cancel in the prompt keeps the
file and ends the installation as cancelled; a package with a splash
picture shows a compact progress window beside it.

Screenshots of every step are written under the build tree
(e2e-artefacts/wizard)."""
import random
import struct
import subprocess
import time

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


def description(overwrite="always", wizard_bitmap=None, wait_ms=None):
    text = f"""
[package]
name = "{PACKAGE}"
language = "english"
overwrite = "{overwrite}"
"""
    if wizard_bitmap:
        text += f'wizard-bitmap = "{wizard_bitmap}"\n'
    text += f"""
[destination]
base = "path"
folder = '{DEST}'

[files]
source = "product"
"""
    if wait_ms:
        text += f"""
[install-run]
program = "bin/wait.exe"
arguments = "{wait_ms}"
"""
    return text


def build(corvpack, stub, top, files, **options):
    product = top / "product"
    for rel, data in files.items():
        path = product / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    if options.get("wait_ms"):
        wait = product / "bin" / "wait.exe"
        wait.parent.mkdir(parents=True, exist_ok=True)
        wait.write_bytes((stub.parent.parent / "tests" / "testwait.exe").read_bytes())
    return pack(corvpack, stub, top, description(**options), product)


def large_files():
    """Files that take the emulated installer a while: big ones that fill
    the file bar slowly and small ones between them."""
    rng = random.Random(17)
    files = {}
    for i in range(6):
        files[f"data/part{i}.bin"] = rng.randbytes(6 << 20)
        files[f"data/note{i}.txt"] = b"small\r\n" * 50
    return files


def through_summary(wizard):
    """Next on the welcome, destination and summary pages; the next window of the
    wizard, the progress page (or one of its two windows)."""
    for page in ("welcome", "destination", "summary"):
        wizard.click(wizard.next_window(), NEXT)
    return wizard.next_window()


def cancel_progress(wizard):
    """Cancel on the progress page: the page and the exit confirmation."""
    progress = through_summary(wizard)
    wizard.click(progress, CANCEL)
    return progress, wizard.next_window("Exit confirmation", timeout=60)


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
    ppm = subprocess.run(["convert", str(screenshot), "-crop", f"{width}x1+{left}+{row}", "+repage", "ppm:-"],
                         check=True, stdout=subprocess.PIPE).stdout
    pixels = ppm.split(b"\n", 3)[3]
    colours = [pixels[i:i + 3] for i in range(0, len(pixels), 3)]
    return sum(1 for c in colours if sum(abs(a - b) for a, b in zip(c, BAR_BACKGROUND)) > 120), len(colours)


def watch_progress(wizard, page, name, shots=10_000):
    """Screenshots of the page every second until the finishing note shows
    (or `shots` were taken); the fills of both bars in each, and the note's
    screenshot (None if it did not show)."""
    fills = []
    end = time.monotonic() + 600
    for n in range(shots):
        assert time.monotonic() < end, "the installation did not reach its last steps"
        shot = wizard.shot(f"{name}-{n:03d}")
        # A note that shows by now may cover the bars in the shot.
        if untitled_windows(wizard):
            return fills, shot
        geometry = geometry_of(wizard, page)
        fills.append((fill(shot, geometry, ITEM_BAR), fill(shot, geometry, OVERALL_BAR)))
        time.sleep(1)
    return fills, None


def test_cancel_asks_and_the_bars_and_the_finishing_note_show(prefix, display, artefacts, corvpack,
                                                               installer_stub, tmp_path):
    before = prefix.snapshot()
    files = large_files()
    exe = build(corvpack, installer_stub, tmp_path / "package", files, wait_ms=8000)

    # Cancel during the extraction, then Yes: everything written goes again.
    wizard = Wizard(prefix, display, exe, artefacts, "progress-cancel")
    _, box = cancel_progress(wizard)
    wizard.shot("exit-confirmation")
    assert not untitled_windows(wizard), "the files were written before the cancel"
    wizard.answer(box, "y")
    assert wizard.wait() == 1
    assert_unchanged(prefix, before)

    # Cancel, then No: the installation goes on, both bars move, and the
    # finishing note shows while the install-run program waits. The
    # extraction goes on while the question is asked, so the bars are also
    # watched before the cancel.
    wizard = Wizard(prefix, display, exe, artefacts, "progress")
    progress = through_summary(wizard)
    fills, note = watch_progress(wizard, progress, "progress-early", shots=1)
    assert note is None, "the files were written before the cancel"
    wizard.click(progress, CANCEL)
    box = wizard.next_window("Exit confirmation", timeout=60)
    # The extraction goes on while the question is asked: the overall bar,
    # below the box, moves on (the box covers the file bar).
    asking = wizard.shot("progress-asking")
    fills.append((None, fill(asking, geometry_of(wizard, progress), OVERALL_BAR)))
    wizard.answer(box, "n")
    later, note = watch_progress(wizard, progress, "progress")
    fills += later
    assert note is not None, "no finishing note"
    assert wizard.exists(progress)
    items = [item for item, _ in fills if item]
    overall = [whole for _, whole in fills]
    assert any(0 < filled < width for filled, width in items), fills
    assert any(0 < filled < width for filled, width in overall), fills
    assert len({filled for filled, _ in overall}) >= 2, fills
    assert [filled for filled, _ in overall] == sorted(filled for filled, _ in overall), fills
    # The note covers the page until the last steps are done; then the page
    # ends itself and the finish page follows.
    finish = wizard.next_window(timeout=120)
    assert not untitled_windows(wizard)
    wizard.shot("progress-finish")
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    for rel, data in files.items():
        assert prefix.host_path(DEST + "\\" + rel.replace("/", "\\")).read_bytes() == data


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
                wait_ms=8000)
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
    finish = wizard.next_window(timeout=300)
    assert not wizard.exists(splash) and not wizard.exists(compact)
    wizard.shot("compact-finish")
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    assert prefix.host_path(DEST + "\\docs\\readme.txt").read_bytes() == b"Read me.\r\n"
