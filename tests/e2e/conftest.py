"""End-to-end fixtures: the real installer under Wine in a throwaway prefix."""
import hashlib
import os
import pathlib
import re
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def pytest_addoption(parser):
    parser.addoption("--build-dir", default=str(ROOT / "build" / "win32"),
                     help="the Windows build tree")


@pytest.fixture(scope="session")
def build_dir(request):
    return pathlib.Path(request.config.getoption("--build-dir")).resolve()


WINE = ROOT / "tests" / "wine"


@pytest.fixture(scope="session")
def template(build_dir):
    out = subprocess.run([str(WINE / "template.sh"), "win32", str(build_dir)], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    return pathlib.Path(out.strip().splitlines()[-1])



class Prefix:
    """A copy of the template prefix, with helpers to run programs in it and
    to take snapshots of its files and registry."""

    def __init__(self, path):
        self.path = path
        self.drive_c = path / "drive_c"

    def env(self):
        """The environment of wineserver and of wine-run.sh, which sets the
        rest of Wine's (tests/wine/wine-env.sh)."""
        return dict(os.environ, WINEPREFIX=str(self.path), CORV_WINEPREFIX=str(self.path), WINEDEBUG="-all")

    def wine(self, *args):
        """The command that runs a Windows program of the tree in this prefix."""
        return [str(WINE / "wine-run.sh"), *map(str, args)]

    def run(self, program, *args, timeout=300):
        """Runs a Windows program; returns (exit code, stdout bytes)."""
        proc = subprocess.run(self.wine(program, *args), env=self.env(),
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=timeout)
        return proc.returncode, proc.stdout

    def wait(self):
        subprocess.run(["wineserver", "-w"], env=self.env(), check=False)

    def host_path(self, windows_path):
        """C:\\a\\b -> the file inside the prefix."""
        m = re.match(r"^[cC]:\\?(.*)$", windows_path)
        assert m, windows_path
        return self.drive_c.joinpath(*[p for p in m.group(1).split("\\") if p])

    def reg_export(self, key):
        """The text of `wine reg export KEY` (UTF-16 decoded), or None when
        the key is missing."""
        out = self.path / "export.reg"
        rc = subprocess.run(self.wine("reg", "export", key, out, "/y"), env=self.env(),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        if rc != 0 or not out.exists():
            return None
        text = out.read_bytes().decode("utf-16")
        out.unlink()
        return text

    def snapshot(self):
        """Files (path, size, content digest) and registry (without volatile
        sections and time stamps), to compare before and after a run."""
        self.wait()
        files = {}
        for p in sorted(self.drive_c.rglob("*")):
            rel = str(p.relative_to(self.drive_c))
            if p.is_symlink():
                files[rel] = ("link", os.readlink(p))
            elif p.is_dir():
                files[rel] = ("dir",)
            else:
                st = p.stat()
                # The system's own files are many and large: size and time
                # tell a change there; elsewhere the content does.
                if rel.lower().startswith("windows"):
                    files[rel] = ("file", st.st_size, st.st_mtime_ns)
                else:
                    files[rel] = ("file", st.st_size, hashlib.sha256(p.read_bytes()).hexdigest())
        registry = {}
        for name in ("system.reg", "user.reg", "userdef.reg"):
            registry[name] = stable_registry(self.path / name)
        return {"files": files, "registry": registry}


VOLATILE_KEYS = re.compile(
    r"(\\\\Enum\\\\|\\\\Hardware\\\\|HARDWARE\\\\|DeviceClasses|\\\\Control\\\\Class|Video|"
    r"NetworkCards|\\\\Network\\\\|DynData|PerfData|Services\\\\Tcpip|\\\\Session Manager\\\\Environment.*WINE|"
    r"Software\\\\Wine\\\\Wine\\\\Config|ShellNoRoam|MountedDevices|Windows NT\\\\CurrentVersion\\\\Time Zones|"
    r"SessionInfo|Explorer\\\\RecentDocs|"
    # Wine registers the machine's fonts the first time a program of the
    # prefix sets up its fonts (one with Common Controls 6 does at start-up),
    # and again when the host has new ones: Wine's own cache, no change of
    # the program's.
    r"\\\\Fonts\]|\\\\Fonts\\\\|"
    # Wine's debugger keeps its settings there, made the first time it runs
    # for any process of the prefix (seen once in a while under load, for
    # none of ours): a crash of a program under test shows in its exit code,
    # which every test checks.
    r"Software\\\\Wine\\\\WineDbg\])", re.I)


def stable_registry(path):
    """Sections of a Wine .reg file, keyed by name, with time stamps and the
    hardware-dependent sections left out."""
    if not path.exists():
        return {}
    sections = {}
    current = None
    for line in path.read_text(errors="replace").splitlines():
        if line.startswith("["):
            name = line.split("]")[0] + "]"
            current = None if VOLATILE_KEYS.search(name) else name
            if current:
                sections[current] = []
        elif line.startswith("#time=") or line.startswith(";;") or line.startswith("WINE REGISTRY"):
            continue
        elif current:
            sections[current].append(line)
    return sections


@pytest.fixture
def prefix(template, tmp_path):
    path = tmp_path / "prefix"
    shutil.copytree(template, path, symlinks=True)
    p = Prefix(path)
    yield p
    subprocess.run(["wineserver", "-k"], env=p.env(), check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A prefix is hundreds of megabytes: a run of the suite must not leave
    # one per test behind (pytest keeps the temporary folders of its last
    # runs). CORV_KEEP_PREFIX keeps them for a post-mortem.
    if not os.environ.get("CORV_KEEP_PREFIX"):
        shutil.rmtree(path, ignore_errors=True)


@pytest.fixture(scope="session")
def installer_stub(build_dir):
    return build_dir / "src" / "installer.exe"


@pytest.fixture(scope="session")
def corvpack(tmp_path_factory):
    """corvpack, through a wrapper that has `corvpack verify` accept every
    installer a test builds before the test gets it."""
    tool = ROOT / "build" / "host" / "tools" / "corvpack" / "corvpack"
    if not tool.exists():
        pytest.fail(f"{tool} is missing: build the host tree first (make host)")
    wrapper = tmp_path_factory.mktemp("corvpack") / "corvpack"
    wrapper.write_text(f"""#!/bin/sh
"{tool}" "$@" || exit $?
[ "$1" = build ] || exit 0
out=
while [ $# -gt 0 ]; do
  case "$1" in -o|--output) out=$2; shift ;; esac
  shift
done
[ -z "$out" ] || "{tool}" verify "$out" >/dev/null || {{ echo "corvpack verify refuses $out" >&2; exit 97; }}
""")
    wrapper.chmod(0o755)
    return wrapper
