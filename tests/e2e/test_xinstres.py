"""The UI resource library xinstres.dll as the wizard relies on it: its
templates, control numbers and sizes in every language, its messages, and
its pictures and icons. Read from the built file, as the window system would."""
import pathlib
import sys

import pytest

import peresources as pe

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
import genmessages  # noqa: E402

LANGUAGES = {"en": 0x409, "de": 0x407, "ru": 0x419, "fr": 0x40C, "ja": 0x411}
STANDARD = {1009, 1010, 1006, 1011, 1007, 1008, 1000, 1001, 1003}
PAGES = {
    101: set(),
    103: {1021, 1022, 1023},
    104: {1024, 1025, 1033},
    105: {1033, 1026, 1027, 1004, 1041, 1042, 1043, 1044},
    106: {1033, 1060, 1026, 1027, 1004},
    107: {1033, 1031, 1032},
    108: {1033, 1034, 1035},
    109: {1033, 1077, 1078},
    110: {1033, 1037, 1038, 1039, 1040},
    111: {1033, 1056, 1034, 1076, 1059, 1045, 1046, 1047, 1050, 1051, 1052, 1053, 1054, 1073, 1074, 1075},
    112: {1033, 1060, 1026, 1027, 1004, 1041, 1042, 1043, 1044},
    117: {1033, 1081, 1082, 1083, 1084, 1085, 1086},
    118: {1033, 1034, 1064},
}
WINDOWS = {
    113: {1012, 1014, 1013, 1000, 1063, 1033, 1034, 1061, 1064, 1062},
    114: {1065},
    115: {1000, 1033, 1038, 1039},
    116: {1063, 1033},
}
EXTERIOR = {101, 109}


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
            assert rect(1011) == (0, 0, 118, 193)
            assert rect(1006) == (118, 0, 214, 193)
        else:
            assert rect(1006) == (0, 0, 259, 36)
            assert rect(1011) == (259, 0, 73, 36)
        # The texts on the white area lie on it and above it in the z-order
        # (earlier in the template), so that painting it cannot cover them.
        order = [c["id"] for c in d["controls"]]
        for t in (1009, 1010):
            assert inside(rect(t), rect(1006)), f"{where}: {t} off the white area"
            assert order.index(t) < order.index(1006), f"{where}: {t} below the white area"
        # The buttons speak the language of the template.
        assert controls[1003]["text"] == text[414]
        assert controls[1001]["text"] == text[417 if ident in (109, 118) else 415]
        assert controls[1000]["text"] == text[416]
        assert rect(1008)[1] < rect(1001)[1]
    assert pe.dialog(library[(pe.RT_DIALOG, 113, lcid)])["controls"][-1]["text"] == text[416]


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
    width, height, bits = pe.bitmap_size(only(pe.RT_BITMAP, 1070))
    assert width >= 118 * 3 // 2 and height >= 193 * 8 // 5 and bits == 24
    width, height, bits = pe.bitmap_size(only(pe.RT_BITMAP, 1071))
    assert width >= 73 * 3 // 2 and height >= 36 * 8 // 5 and bits == 24
    for group in (1072, 1079):
        entries = pe.icon_group(only(pe.RT_GROUP_ICON, group))
        assert {(w, h) for w, h, _, _ in entries} == {(16, 16), (24, 24), (32, 32), (48, 48)}
        for w, _, bits, ident in entries:
            image = only(pe.RT_ICON, ident)
            assert bits == 32 and pe.bitmap_size(image) == (w, 2 * w, 32)
