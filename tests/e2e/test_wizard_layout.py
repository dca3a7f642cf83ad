"""The wizard's layouts in every language, from the rectangles the system
reports for its windows and controls (windowprobe.py): the side picture of
the welcome and finish pages starts at the window's left edge; the
"Finishing setup" window covers no control of the progress page, nor of
the compact progress window, nor the splash picture beside it; and the exit
confirmation asked while that window is up is owned by it and in front of
it. The finishing stage is held by the install-run program until the test
lets it end.

Screenshots of every page, of the finishing window, the confirmation and
the compact presentation go to e2e-artefacts/wizard."""
import time

import pytest

import resourceids as R
from test_progress import RELEASE, bitmap, build, through_summary
from test_wizard import NEXT, TITLE, Wizard, artefacts, display  # noqa: F401 (fixtures)
from windowprobe import Probe

LANGUAGES = {"english": None, "german": None, "french": None, "russian": "ru_RU.UTF-8",
             "japanese": "ja_JP.UTF-8"}
FILES = {"docs/readme.txt": b"Read me.\r\n"}
IDNO = 7


def until(probe, found, what, timeout=120):
    """Asks the probe until `found`(windows) gives something."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        result = found(probe.windows())
        if result:
            return result
        time.sleep(0.5)
    pytest.fail(f"no {what} within {timeout} s")


def page_with(probe, control):
    """The page on screen that shows `control`."""
    return until(probe, lambda ws: next((w for w in ws if w.title == TITLE and control in w.controls), None),
                 f"page with control {control}")


def assert_picture_at_left_edge(page):
    picture, area = page.controls[R.IDC_PICTURE], page.controls[R.IDC_WHITE_AREA]
    assert (picture.left, picture.top) == (page.client.left, page.client.top), (picture, page.client)
    assert picture.right == area.left, (picture, area)


def finishing_window(probe, owner):
    """Waits for the finishing window of `owner`: all windows, and it."""
    def found(windows):
        note = next((w for w in windows if w.owner == owner.handle and not w.title), None)
        return (windows, note) if note else None
    return until(probe, found, "finishing window")


def assert_clear(note, window, screen=(1024, 768)):
    covered = {ident: rect for ident, rect in window.controls.items() if rect.overlaps(note.rect)}
    assert covered == {}, (note.rect, covered)
    assert 0 <= note.rect.left and note.rect.right <= screen[0] and 0 <= note.rect.top and note.rect.bottom <= screen[1]


@pytest.mark.parametrize("language", LANGUAGES)
def test_nothing_covers_what_a_user_must_read(language, prefix, display, artefacts, corvpack, installer_stub,
                                               build_dir, tmp_path):
    locale = LANGUAGES[language]
    exe = build(corvpack, installer_stub, tmp_path / "plain", FILES, waits=True, language=language)
    wizard = Wizard(prefix, display, exe, artefacts, f"layout-{language}", locale)
    probe = Probe(wizard, build_dir)
    for name in ("welcome", "destination", "summary"):
        window = wizard.next_window()
        wizard.shot(name)
        if name == "welcome":
            assert_picture_at_left_edge(page_with(probe, R.IDC_PICTURE))
        wizard.click(window, NEXT)
    wizard.next_window()
    page = page_with(probe, R.IDC_ITEM_BAR)
    windows, note = finishing_window(probe, page)
    wizard.shot("finishing")
    page = next(w for w in windows if w.handle == page.handle)
    assert_clear(note, page)

    # A Cancel clicked as the finishing steps begin: the confirmation is the
    # finishing window's, in front of it; No lets the installation end.
    probe.click(page, R.IDC_CANCEL_BUTTON)
    windows = until(probe, lambda ws: ws if any(w.owner == note.handle for w in ws) else None, "confirmation")
    wizard.shot("confirmation")
    box = next(w for w in windows if w.owner == note.handle)
    order = [w.handle for w in windows]
    assert order.index(box.handle) < order.index(note.handle) < order.index(page.handle), windows
    probe.click(box, IDNO)
    until(probe, lambda ws: all(w.handle != box.handle for w in ws), "answer")
    prefix.host_path(RELEASE).write_bytes(b"")
    finish = wizard.next_window(timeout=300)
    wizard.shot("finish")
    assert_picture_at_left_edge(page_with(probe, R.IDC_PICTURE))
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    probe.close()
    prefix.host_path(RELEASE).unlink()

    # The compact presentation: the finishing window keeps clear of the
    # progress window's controls and of the splash picture.
    top = tmp_path / "compact"
    top.mkdir()
    (top / "splash.bmp").write_bytes(bitmap(320, 200))
    exe = build(corvpack, installer_stub, top, FILES, waits=True, language=language, wizard_bitmap="splash.bmp",
                dest="C:\\CorvCompact")
    wizard = Wizard(prefix, display, exe, artefacts, f"layout-{language}-compact", locale)
    probe = Probe(wizard, build_dir)
    through_summary(wizard)
    wizard.next_window(timeout=60)  # the splash and the compact window
    compact = until(probe, lambda ws: next((w for w in ws if R.IDC_OVERALL_BAR in w.controls), None), "compact")
    windows, note = finishing_window(probe, compact)
    wizard.shot("compact")
    splash = next(w for w in windows if R.IDC_SPLASH_PICTURE in w.controls)
    compact = next(w for w in windows if w.handle == compact.handle)
    assert_clear(note, compact)
    assert not note.rect.overlaps(splash.rect), (note, splash)
    prefix.host_path(RELEASE).write_bytes(b"")
    finish = wizard.next_window(timeout=300)
    wizard.click(finish, NEXT)
    assert wizard.wait() == 0
    probe.close()
