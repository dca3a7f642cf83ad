"""The Java runtime of a package that requires one, under Wine: found
through the registry entries that Java installations leave (a JDK whose
runtime is its "jre" folder, the same folder under another key in other
letter case, a folder missing a file of the layout), or given with /jre;
the chosen runtime is bound into the installed program, which prints it. A
wrong version given with /jre, or no runtime anywhere, stops the
installation before anything is written."""
import subprocess

import pytest

from packing import pack
from test_batch_install import console

PACKAGE = "Corv Java"
DEST = "C:\\Corv Java"
JAVA_SIZE = 24576

DESCRIPTION = f"""
[package]
name = "{PACKAGE}"
overwrite = "always"

[destination]
base = "path"
folder = '{DEST}'

[files]
source = "product"

[jre]
version = "1.4.2_05"

[[jre.layout]]
files = [
  {{ path = "bin/java.exe", size = {JAVA_SIZE} }},
  {{ path = "lib/rt.jar", size = 3 }},
]

[bind]
script = "xbind.txt"
"""

SCRIPT = """ROOT Root
  COMPONENT bin\\hellobound.exe
    JRE "$(JRE)"
ROOT JRE
"""

JAVA_KEYS = "HKEY_{root}\\SOFTWARE\\JavaSoft\\{kind}\\{version}"


@pytest.fixture(scope="session")
def setup(corvpack, installer_stub, build_dir, tmp_path_factory):
    product = build_dir / "examples" / "hello" / "product"
    assert (product / "bin" / "hellobound.exe").exists(), "build the Windows tree first (make win32)"
    top = tmp_path_factory.mktemp("java")
    (top / "xbind.txt").write_text(SCRIPT)
    return pack(corvpack, installer_stub, top, DESCRIPTION, product)


def runtime(prefix, folder, java_size=JAVA_SIZE, jar=True):
    prefix.host_path(folder + "\\bin").mkdir(parents=True)
    prefix.host_path(folder + "\\bin\\java.exe").write_bytes(b"j" * java_size)
    if jar:
        prefix.host_path(folder + "\\lib").mkdir(parents=True)
        prefix.host_path(folder + "\\lib\\rt.jar").write_bytes(b"jar")


def java_home(prefix, root, kind, version, folder):
    key = JAVA_KEYS.format(root=root, kind=kind, version=version)
    subprocess.run(prefix.wine("reg", "add", key, "/v", "JavaHome", "/d", folder, "/f"), env=prefix.env(),
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def failure(reason):
    return (f"Severe error: Corvantis Installer has failed to install {PACKAGE} on your computer "
            f"due to the following error: {reason}\n")


def bound_runtime(prefix):
    rc, out = prefix.run(prefix.host_path(DEST + "\\bin\\hellobound.exe"))
    assert rc == 0, out
    lines = out.decode("cp437").replace("\r\n", "\n").splitlines()
    return [line[len("JREHome: "):] for line in lines if line.startswith("JREHome: ")]


def test_the_registry_names_the_runtime_that_is_bound(prefix, setup):
    runtime(prefix, "C:\\Java\\JDK142\\jre")
    runtime(prefix, "C:\\Java\\Broken", jar=False)
    # The current user's entry is looked at first; its folder lacks a file.
    java_home(prefix, "CURRENT_USER", "Java Development Kit", "1.4.2_05", "C:\\Java\\Broken")
    java_home(prefix, "LOCAL_MACHINE", "Java Development Kit", "1.4.2_05", "C:\\Java\\JDK142")
    java_home(prefix, "CURRENT_USER", "Java Runtime Environment", "1.4.2", "c:\\java\\jdk142\\JRE")
    rc, out = prefix.run(setup, "/batch")
    assert (rc, console(out)) == (0, f"Corvantis Installer has successfully installed {PACKAGE} on your computer.\n")
    assert bound_runtime(prefix) == ["C:\\Java\\JDK142\\jre"]


def test_a_runtime_given_on_the_command_line_is_checked(prefix, setup):
    before = prefix.snapshot()
    rc, out = prefix.run(setup, "/batch")
    assert (rc, console(out)) == (1, failure(
        "You did not specify a JRE 1.4.2_05 folder, and Corvantis Installer failed to find the proper JRE "
        "on your system."))
    assert prefix.snapshot() == before

    runtime(prefix, "C:\\Java\\Older", java_size=JAVA_SIZE - 1)
    before = prefix.snapshot()
    rc, out = prefix.run(setup, "/batch", "/jre", "C:\\Java\\Older")
    assert (rc, console(out)) == (1, failure(
        "The folder you selected (C:\\Java\\Older) possibly contains some JRE, but not the required version "
        "(1.4.2_05)."))
    assert prefix.snapshot() == before

    # A JDK folder given by hand is taken as its runtime folder.
    runtime(prefix, "C:\\Java\\Kit\\jre")
    rc, out = prefix.run(setup, "/batch", "/jre", "C:\\Java\\Kit")
    assert rc == 0, out
    assert bound_runtime(prefix) == ["C:\\Java\\Kit\\jre"]
