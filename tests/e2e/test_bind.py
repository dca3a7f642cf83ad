"""Binding end to end under Wine: the example package binds its program to
the installation folder, and the installed program, run there, reports the
bound paths of its own folder; a bind script that names a file that is not
an executable fails the installation and rolls it back."""
import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]

DEST = "C:\\Corv Bound"
PACKAGE = "Corvantis Hello"


def build(corvpack, stub, description, product, out):
    subprocess.run([str(corvpack), "build", str(description), "--product", str(product), "--stub", str(stub),
                    "--shfolder", str(stub.parent / "shfolder.dll"), "-o", str(out), "-q"], check=True)


@pytest.fixture(scope="session")
def hello_product(build_dir):
    product = build_dir / "examples" / "hello" / "product"
    assert (product / "bin" / "hellobound.exe").exists(), "build the Windows tree first (make win32)"
    return product


def test_installed_program_reports_the_paths_bound_for_its_folder(prefix, corvpack, installer_stub, hello_product,
                                                                  tmp_path):
    setup = tmp_path / "hello-setup.exe"
    build(corvpack, installer_stub, ROOT / "examples" / "hello" / "package.toml", hello_product, setup)

    rc, out = prefix.run(setup, "/batch", "/dest", DEST)
    assert rc == 0, out
    assert f"has successfully installed {PACKAGE}".encode() in out

    program = prefix.host_path(DEST + "\\bin\\hellobound.exe")
    # Binding keeps the file's time (and, with room in .config, its size).
    original = hello_product / "bin" / "hellobound.exe"
    assert int(program.stat().st_mtime) == int(original.stat().st_mtime)
    assert program.stat().st_size == original.stat().st_size
    assert program.read_bytes() != original.read_bytes()

    rc, out = prefix.run(program)
    assert rc == 0, out
    lines = out.decode("cp437").replace("\r\n", "\n").splitlines()
    folder = DEST + "\\bin"
    assert lines == [
        f"Corvantis Hello bound program in {folder}",
        "DLLRedirection: HELLO.DLL=*{comp.dir}\\..\\lib\\hello.dll",
        f"  = HELLO.DLL={folder}\\..\\lib\\hello.dll",
        "JREHome: *{comp.dir}\\..\\jre",
        f"  = {folder}\\..\\jre",
        "VMProperty: hello.home=*{comp.dir}\\..",
        f"  = hello.home={folder}\\..",
        "VMProperty: hello.greeting=Hello from a bound program",
    ]


def test_binding_a_file_that_is_not_an_executable_rolls_back(prefix, corvpack, installer_stub, hello_product,
                                                             tmp_path):
    top = tmp_path / "pkg"
    shutil.copytree(ROOT / "examples" / "hello", top)
    # The program is bound first, then the read-me fails.
    script = (top / "xbind.txt").read_text().replace("ROOT JRE", "  COMPONENT readme.txt\n    KORVMPROP 'x'\nROOT JRE")
    (top / "xbind.txt").write_text(script)
    setup = tmp_path / "setup.exe"
    build(corvpack, installer_stub, top / "package.toml", hello_product, setup)

    before = prefix.snapshot()
    rc, out = prefix.run(setup, "/batch", "/dest", DEST)
    assert rc == 1
    text = out.decode("cp437")
    assert f"Unable to bind {DEST}\\readme.txt: unrecognized file format" in text, text
    assert prefix.snapshot() == before
    assert not os.path.exists(prefix.host_path(DEST))
