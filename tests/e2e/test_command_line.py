"""The command line of the bare stub: usage, option failures and the mode
pre-scan, seen from outside (stdout redirected, as a batch user sees it)."""
import pytest

USAGE = (
    "\n\n/gui - GUI installation wizard (default)\n"
    "/batch - installation from command line\n"
    "/personal - personal installation profile\n"
    "/common - common installation profile\n"
    "/dest <path> - destination folder\n"
    "/jre <path> - Sun JRE folder\n"
    "/folder <folder> - program folder in Start Menu\n"
    "/primary <path> - location of package to update\n"
    "/user <name> - log on user name\n"
    "/password <password> - log on password\n"
    "/no-aftrun - disable after finish run (if present)\n"
    "/force - force package installation over previous one\n"
    "/no-reg - do not install shortcuts, do not modify registry and path\n"
    "/help or /? - this help\n"
)

NO_PACKAGE = b"Invalid or corrupted installation package"


def lines(out):
    """Console text with the C runtime's CR LF line ends as LF."""
    return out.decode("cp437").replace("\r\n", "\n")


@pytest.mark.parametrize("help_option", ["/help", "-h", "/?", "/HELP"])
def test_help_prints_usage_with_program_name_without_opening_package(prefix, installer_stub,
                                                                     help_option):
    rc, out = prefix.run(installer_stub, "/batch", help_option)
    assert rc == 1
    text = lines(out)
    first, _, rest = text.partition("\n")
    assert first.startswith("Usage of ")
    # The program name as the system gave it: the installer's own path.
    assert first.lower().endswith("installer.exe")
    assert "\n" + rest == USAGE + "\n"  # the usage text, then the line's own line feed
    assert NO_PACKAGE not in out


@pytest.mark.parametrize("args, message", [
    (["/bogus"], "Unknown option /bogus\n"),
    (["install"], "Unknown option install\n"),
    (["//batch"], "Unknown option //batch\n"),
    (["/dest"], "Value of the option '/dest' was not specified"),
    (["/dest", "C:\\Hello", "/user"], "Value of the option '/user' was not specified"),
    # The full parse runs before the help check: the unknown option wins.
    (["/help", "/bogus"], "Unknown option /bogus\n"),
    (["/bogus", "/help"], "Unknown option /bogus\n"),
])
def test_command_line_failures_are_severe_error_lines(prefix, installer_stub, args, message):
    rc, out = prefix.run(installer_stub, "/batch", *args)
    assert rc == 1
    assert lines(out) == "Severe error: " + message + "\n"


@pytest.mark.parametrize("args", [["/batch", "/gui"], ["/gui", "/batch"], ["/batch", "-BATCH"],
                                  ["/gui", "/gui"]])
def test_two_mode_options_end_with_the_option_modules_assertion(prefix, installer_stub, args):
    rc, out = prefix.run(installer_stub, *args)
    assert rc == 1
    # The fatal-error report: the text and a line feed, before any front end.
    assert out == b"ASSERT: file ..\\src\\kernel\\options.cpp, line 141\n"


def test_a_value_is_never_a_mode_option(prefix, installer_stub):
    rc, out = prefix.run(installer_stub, "/batch", "/dest", "/gui")
    assert rc == 1
    assert lines(out) == "Severe error: " + NO_PACKAGE.decode() + "\n"


def test_without_batch_failures_go_to_message_boxes(prefix, installer_stub):
    # The wizard's front end prints nothing; its boxes return at once without
    # a display.
    rc, out = prefix.run(installer_stub, "/bogus")
    assert (rc, out) == (1, b"")
    rc, out = prefix.run(installer_stub, "/gui", "/help")
    assert (rc, out) == (1, b"")
