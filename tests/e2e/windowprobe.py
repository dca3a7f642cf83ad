"""The wizard's windows and controls as the system reports them (not as
they look): tests/support/windowprobe.exe, run beside the installer on its
desktop, answers for the windows on screen."""
import re
import subprocess

from conftest import WINE

LINE = re.compile(r"^(window|control) (\d+) (.*?)(?: title=(.*))?$")


class Rect:
    def __init__(self, text):
        self.left, self.top, self.right, self.bottom = map(int, text.split(","))

    def overlaps(self, other):
        return (self.left < other.right and other.left < self.right
                and self.top < other.bottom and other.top < self.bottom)

    def __repr__(self):
        return f"({self.left},{self.top},{self.right},{self.bottom})"


class Window:
    def __init__(self, handle, fields, title):
        self.handle = handle
        self.owner = int(fields["owner"])
        self.rect = Rect(fields["rect"])
        self.client = Rect(fields["client"])
        self.title = title or ""
        self.controls = {}  # id -> Rect of each visible control

    def __repr__(self):
        return f"<window {self.handle} {self.title!r} {self.rect}>"


class Probe:
    """One probe process for a run of the wizard, on the run's display."""

    def __init__(self, wizard, build_dir):
        self.process = subprocess.Popen([str(WINE / "wine-run.sh"), str(build_dir / "tests" / "windowprobe.exe")],
                                        env=wizard.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, encoding="latin-1")

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        lines = []
        for line in self.process.stdout:
            if line.strip() == "end":
                return lines
            lines.append(line.rstrip("\r\n"))
        raise AssertionError(f"the window probe ended on {command!r}")

    def windows(self):
        """The visible top-level windows, front to back."""
        found = []
        for line in self.ask("windows"):
            kind, handle, rest, title = LINE.match(line).groups()
            fields = dict(item.split("=", 1) for item in rest.split())
            if kind == "window":
                found.append(Window(int(handle), fields, title))
            elif found and int(fields["parent"]) == found[-1].handle:
                found[-1].controls[int(fields["id"])] = Rect(fields["rect"])
        return found

    def click(self, window, control):
        self.ask(f"click {window.handle} {control}")

    def close(self):
        self.process.stdin.close()
        self.process.wait(60)
