"""The UI resource library xinstres.dll as the wizard relies on it: its
templates, control numbers and sizes in every language, its messages, and
its pictures and icons. Read from the built file, as the window system would."""
import pathlib
import sys

import pytest

import peresources as pe
import resourceids as R

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
import genmessages  # noqa: E402

LANGUAGES = {"en": 0x409, "de": 0x407, "ru": 0x419, "fr": 0x40C, "ja": 0x411}
STANDARD = {
    R.IDC_HEADER, R.IDC_SUBHEADER, R.IDC_WHITE_AREA, R.IDC_PICTURE, R.IDC_HEADER_LINE, R.IDC_BUTTON_LINE,
    R.IDC_CANCEL_BUTTON, R.IDC_NEXT_BUTTON, R.IDC_BACK_BUTTON,
}
PAGES = {
    R.IDD_WELCOME: set(),
    R.IDD_LICENSE: {R.IDC_LICENSE_TEXT, R.IDC_ACCEPT, R.IDC_REFUSE},
    R.IDD_INSTALL_PROFILE: {R.IDC_PERSONAL, R.IDC_COMMON, R.IDC_TEXT},
    R.IDD_DESTINATION: {
        R.IDC_TEXT, R.IDC_FOLDER_GROUP, R.IDC_PATH_TEXT, R.IDC_BROWSE_BUTTON, R.IDC_REQUIRED_LABEL,
        R.IDC_AVAILABLE_LABEL, R.IDC_REQUIRED_VALUE, R.IDC_AVAILABLE_VALUE,
    },
    R.IDD_JRE: {R.IDC_TEXT, R.IDC_CANDIDATE_LIST, R.IDC_FOLDER_GROUP, R.IDC_PATH_TEXT, R.IDC_BROWSE_BUTTON},
    R.IDD_PROGRAM_FOLDER: {R.IDC_TEXT, R.IDC_PROGRAM_FOLDER_EDIT, R.IDC_PROGRAM_FOLDER_LIST},
    R.IDD_SUMMARY: {R.IDC_TEXT, R.IDC_SECOND_TEXT, R.IDC_SETTINGS},
    R.IDD_FINISH: {R.IDC_TEXT, R.IDC_RESTART_NOW, R.IDC_RESTART_LATER},
    R.IDD_PROGRESS: {R.IDC_TEXT, R.IDC_ITEM_BAR, R.IDC_OVERALL_BAR, R.IDC_ITEM_NAME, R.IDC_OVERALL_LABEL},
    R.IDD_SERVICES: {
        R.IDC_TEXT, R.IDC_SERVICE_LIST, R.IDC_SECOND_TEXT, R.IDC_LOGON_GROUP, R.IDC_STARTUP_GROUP,
        R.IDC_LOCAL_SYSTEM, R.IDC_THIS_ACCOUNT, R.IDC_INTERACT, R.IDC_ACCOUNT, R.IDC_PASSWORD,
        R.IDC_CONFIRMATION, R.IDC_PASSWORD_LABEL, R.IDC_CONFIRMATION_LABEL, R.IDC_AUTOMATIC, R.IDC_MANUAL,
        R.IDC_DISABLED,
    },
    R.IDD_UPDATE_LOCATION: {
        R.IDC_TEXT, R.IDC_CANDIDATE_LIST, R.IDC_FOLDER_GROUP, R.IDC_PATH_TEXT, R.IDC_BROWSE_BUTTON,
        R.IDC_REQUIRED_LABEL, R.IDC_AVAILABLE_LABEL, R.IDC_REQUIRED_VALUE, R.IDC_AVAILABLE_VALUE,
    },
    R.IDD_CHECK_BOXES: {
        R.IDC_TEXT, R.IDC_FIRST_BOX, R.IDC_SECOND_BOX, R.IDC_THIRD_BOX, R.IDC_FOURTH_BOX, R.IDC_FIFTH_BOX,
        R.IDC_SIXTH_BOX,
    },
    R.IDD_FAILURE: {R.IDC_TEXT, R.IDC_SECOND_TEXT, R.IDC_NOTE},
}
WINDOWS = {
    R.IDD_OVERWRITE: {
        R.IDC_YES_BUTTON, R.IDC_YES_ALL_BUTTON, R.IDC_NO_BUTTON, R.IDC_CANCEL_BUTTON, R.IDC_MESSAGE_ICON,
        R.IDC_TEXT, R.IDC_SECOND_TEXT, R.IDC_EXISTING_FILE, R.IDC_NOTE, R.IDC_NEW_FILE,
    },
    R.IDD_SPLASH: {R.IDC_SPLASH_PICTURE},
    R.IDD_COMPACT_PROGRESS: {R.IDC_CANCEL_BUTTON, R.IDC_TEXT, R.IDC_OVERALL_BAR, R.IDC_ITEM_NAME},
    R.IDD_MESSAGE_WINDOW: {R.IDC_MESSAGE_ICON, R.IDC_TEXT},
}
EXTERIOR = {R.IDD_WELCOME, R.IDD_FINISH}


@pytest.fixture(scope="module")
def library(build_dir):
    return pe.resources((build_dir / "src" / "xinstres.dll").read_bytes())


@pytest.fixture(scope="module")
def messages():
    return genmessages.load_all(sorted((ROOT / "src" / "util" / "messages").glob("*.msg")))


def inside(inner, outer):
    x, y, w, h = inner
    ox, oy, ow, oh = outer
    return ox <= x and oy <= y and x + w <= ox + ow and y + h <= oy + oh


@pytest.mark.parametrize("lang", LANGUAGES)
def test_every_template_of_a_language_keeps_the_contract(library, messages, lang):
    lcid = LANGUAGES[lang]
    text = {ident - 1000: t for ident, t in messages[lang].items()}
    found = {ident for (rtype, ident, language) in library if rtype == pe.RT_DIALOG and language == lcid}
    assert found == set(PAGES) | set(WINDOWS)
    for ident in sorted(found):
        d = pe.dialog(library[(pe.RT_DIALOG, ident, lcid)])
        controls = {c["id"]: c for c in d["controls"]}
        where = f"{lang} template {ident}"
        assert len(controls) == len(d["controls"]), f"{where}: a control number used twice"
        assert set(controls) >= PAGES.get(ident, WINDOWS.get(ident, set())) | (STANDARD if ident in PAGES else set())
        for c in d["controls"]:
            if c["style"] & 0x10000000:  # WS_VISIBLE
                assert inside(c["rect"], (0, 0) + d["rect"][2:]), f"{where}: control {c['id']} leaves the dialog"
        if lang == "ja":
            assert d["font"][3] == 128, f"{where}: Japanese templates ask for a Japanese font"
        else:
            assert d["font"][:1] + d["font"][4:] == (8, "MS Shell Dlg")
        if ident not in PAGES:
            continue

        assert d["rect"][2:] == (332, 222), where
        rect = lambda n: controls[n]["rect"]  # noqa: E731
        if ident in EXTERIOR:
            assert rect(R.IDC_PICTURE) == (0, 0, 118, 193)
            assert rect(R.IDC_WHITE_AREA) == (118, 0, 214, 193)
        else:
            assert rect(R.IDC_WHITE_AREA) == (0, 0, 259, 36)
            assert rect(R.IDC_PICTURE) == (259, 0, 73, 36)
        # The texts on the white area lie on it and above it in the z-order
        # (earlier in the template), so that painting it cannot cover them.
        order = [c["id"] for c in d["controls"]]
        for t in (R.IDC_HEADER, R.IDC_SUBHEADER):
            assert inside(rect(t), rect(R.IDC_WHITE_AREA)), f"{where}: {t} off the white area"
            assert order.index(t) < order.index(R.IDC_WHITE_AREA), f"{where}: {t} below the white area"
        # The buttons speak the language of the template.
        assert controls[R.IDC_BACK_BUTTON]["text"] == text[414]
        assert controls[R.IDC_NEXT_BUTTON]["text"] == text[417 if ident in (R.IDD_FINISH, R.IDD_FAILURE) else 415]
        assert controls[R.IDC_CANCEL_BUTTON]["text"] == text[416]
        assert rect(R.IDC_BUTTON_LINE)[1] < rect(R.IDC_NEXT_BUTTON)[1]
    assert pe.dialog(library[(pe.RT_DIALOG, R.IDD_OVERWRITE, lcid)])["controls"][-1]["text"] == text[416]


def test_the_library_holds_the_wizard_messages_of_every_language_at_its_base(library, messages):
    expected = {}
    for lang, table in messages.items():
        base = genmessages.BASES[lang]
        expected.update({base + ident - 1000: t for ident, t in table.items() if ident >= 1412})
    assert len(expected) == 5 * len([i for i in messages["en"] if i >= 1412])
    assert pe.strings(library) == expected


def test_pictures_fill_their_controls_and_icons_come_in_every_size(library):
    def only(rtype, ident):
        found = [data for (t, i, _), data in library.items() if (t, i) == (rtype, ident)]
        assert len(found) == 1, f"resource {rtype}/{ident}"
        return found[0]

    # Dialog units are about 1.5 x 1.6 pixels with the 8-point dialog font:
    # the pictures cover their controls (118 x 193 and 73 x 36 units).
    width, height, bits = pe.bitmap_size(only(pe.RT_BITMAP, R.IDB_EXTERIOR))
    assert width >= 118 * 3 // 2 and height >= 193 * 8 // 5 and bits == 24
    width, height, bits = pe.bitmap_size(only(pe.RT_BITMAP, R.IDB_HEADER))
    assert width >= 73 * 3 // 2 and height >= 36 * 8 // 5 and bits == 24
    for group in (R.IDI_PRODUCT, R.IDI_MESSAGE):
        entries = pe.icon_group(only(pe.RT_GROUP_ICON, group))
        assert {(w, h) for w, h, _, _ in entries} == {(16, 16), (24, 24), (32, 32), (48, 48)}
        for w, _, bits, ident in entries:
            image = only(pe.RT_ICON, ident)
            assert bits == 32 and pe.bitmap_size(image) == (w, 2 * w, 32)
