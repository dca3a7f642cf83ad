"""The bare stub: a PE32 GUI program that carries no package."""
import subprocess


def test_stub_is_a_static_pe32_gui_program(installer_stub):
    desc = subprocess.run(["file", str(installer_stub)], capture_output=True, text=True).stdout
    assert "PE32 executable (GUI) Intel 80386" in desc
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(installer_stub)],
                          capture_output=True, text=True, check=True).stdout
    dlls = {line.split()[-1].lower() for line in dump.splitlines() if "DLL Name:" in line}
    system = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
              "ole32.dll", "oleaut32.dll", "comctl32.dll", "msvcrt.dll", "comdlg32.dll",
              "version.dll", "shlwapi.dll"}
    assert dlls and dlls <= system, dlls


def test_stub_without_package_reports_1181(prefix, installer_stub):
    rc, out = prefix.run(installer_stub, "/batch")
    assert rc == 1
    assert b"Invalid or corrupted installation package" in out
