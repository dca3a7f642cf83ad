"""The wizard's layouts in every language, from the rectangles the system
reports (tests/support/windowprobe.c), with a screenshot of each step: the
side picture starts at the window's left edge; the finishing window covers
no control of the progress page, of the compact progress window, nor the
splash picture; a confirmation asked while it is up is its own and in
front. The install-run program holds the finishing stage."""
import subprocess
import time

import pytest

import resourceids as R
from conftest import WINE
from test_progress import RELEASE, bitmap, build, through_summary
from test_wizard import NEXT, TITLE, Wizard, artefacts, display  # noqa: F401 (fixtures)

LOCALES = {"english": None, "german": None, "french": None, "russian": "ru_RU.UTF-8", "japanese": "ja_JP.UTF-8"}


class Window:
    def __init__(self, handle, owner, left, top, right, bottom, title=""):
        self.handle, self.owner, self.title = int(handle), int(owner), title
        self.rect = tuple(map(int, (left, top, right, bottom)))
        self.controls = {}


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


class Probe:
    def __init__(self, wizard, build_dir):
        self.process = subprocess.Popen([str(WINE / "wine-run.sh"), str(build_dir / "tests" / "windowprobe.exe")],
                                        env=wizard.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                        encoding="latin-1")

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return list(iter(lambda: self.process.stdout.readline().rstrip("\r\n") or "end", "end"))

    def until(self, found, what):
        """The windows front to back, once `found`(windows) gives something: (windows, it)."""
        end = time.monotonic() + 120
        while time.monotonic() < end:
            windows = []
            for kind, *fields in (line.split(" ", 7) for line in self.ask("windows")):
                if kind == "window":
                    windows.append(Window(*fields))
                else:
                    windows[-1].controls[int(fields[0])] = tuple(map(int, fields[1:]))
            if found(windows):
                return windows, found(windows)
            time.sleep(0.5)
        pytest.fail(f"no {what}")


def page_with(probe, control):
    return probe.until(lambda ws: next((w for w in ws if w.title == TITLE and control in w.controls), None), control)[1]


def picture_at_left_edge(probe):
    page = page_with(probe, R.IDC_PICTURE)
    # The line above the buttons spans the client area from its left edge.
    picture, area, line = (page.controls[i] for i in (R.IDC_PICTURE, R.IDC_WHITE_AREA, R.IDC_BUTTON_LINE))
    assert picture[0] == line[0] and picture[2] == area[0] and picture[1] == area[1], (picture, area, line)


def finishing_window_clear_of(probe, owner, *others):
    windows, note = probe.until(lambda ws: next((w for w in ws if w.owner == owner.handle and not w.title), None),
                                "finishing window")
    owner = next(w for w in windows if w.handle == owner.handle)
    assert [r for r in [*owner.controls.values(), *others] if overlap(r, note.rect)] == [], note.rect
    assert 0 <= note.rect[0] and note.rect[2] <= 1024 and 0 <= note.rect[1] and note.rect[3] <= 768
    return note


@pytest.mark.parametrize("language", LOCALES)
def test_nothing_covers_what_a_user_must_read(language, prefix, display, artefacts, corvpack, installer_stub,
                                               build_dir, tmp_path):
    files = {"docs/readme.txt": b"Read me.\r\n"}
    exe = build(corvpack, installer_stub, tmp_path / "plain", files, waits=True, language=language)
    wizard = Wizard(prefix, display, exe, artefacts, f"layout-{language}", LOCALES[language])
    probe = Probe(wizard, build_dir)
    for name in ("welcome", "destination", "summary"):
        window = wizard.next_window()
        wizard.shot(name)
        if name == "welcome":
            picture_at_left_edge(probe)
        wizard.click(window, NEXT)
    wizard.next_window()
    page = page_with(probe, R.IDC_ITEM_BAR)
    note = finishing_window_clear_of(probe, page)
    wizard.shot("finishing")
    # A Cancel clicked as the finishing steps begin: the confirmation is the
    # finishing window's, in front of it and of the page; No goes on.
    probe.ask(f"click {page.handle} {R.IDC_CANCEL_BUTTON}")
    windows, box = probe.until(lambda ws: next((w for w in ws if w.owner == note.handle), None), "confirmation")
    wizard.shot("confirmation")
    order = [w.handle for w in windows]
    assert order.index(box.handle) < order.index(note.handle) < order.index(page.handle)
    probe.ask(f"click {box.handle} 7")  # IDNO
    probe.until(lambda ws: all(w.handle != box.handle for w in ws), "answer")
    prefix.host_path(RELEASE).write_bytes(b"")
    finish = wizard.next_window(timeout=300)
    wizard.shot("finish")
    picture_at_left_edge(probe)
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    prefix.host_path(RELEASE).unlink()

    # The compact presentation beside a splash picture.
    (tmp_path / "compact").mkdir()
    (tmp_path / "compact" / "splash.bmp").write_bytes(bitmap(320, 200))
    exe = build(corvpack, installer_stub, tmp_path / "compact", files, waits=True, language=language,
                wizard_bitmap="splash.bmp", dest="C:\\CorvCompact")
    wizard = Wizard(prefix, display, exe, artefacts, f"layout-{language}-compact", LOCALES[language])
    probe = Probe(wizard, build_dir)
    through_summary(wizard)
    wizard.next_window(timeout=60)  # the splash and the compact window
    splash = probe.until(lambda ws: next((w for w in ws if R.IDC_SPLASH_PICTURE in w.controls), None), "splash")[1]
    finishing_window_clear_of(probe, page_with(probe, R.IDC_OVERALL_BAR), splash.rect)
    wizard.shot("compact")
    prefix.host_path(RELEASE).write_bytes(b"")
    wizard.click(wizard.next_window(timeout=300), NEXT)
    assert wizard.wait() == 0
