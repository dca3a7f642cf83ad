"""The bare stub: a PE32 GUI program that carries no package."""
import struct
import subprocess
from xml.etree import ElementTree


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


def pe_resource(data, type_id, name_id):
    """The bytes of resource `type_id`/`name_id` (first language) of a PE32
    image, found as the loader finds it: through the resource directory of
    the optional header, its three levels, and the sections' address map."""
    u16 = lambda at: struct.unpack_from("<H", data, at)[0]
    u32 = lambda at: struct.unpack_from("<I", data, at)[0]
    pe = u32(0x3C)
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, optional_size = u16(pe + 6), u16(pe + 20)
    optional = pe + 24
    assert u16(optional) == 0x10B  # PE32
    root_rva = u32(optional + 96 + 2 * 8)
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            s = table + 40 * i
            start, size, raw = u32(s + 12), max(u32(s + 8), u32(s + 16)), u32(s + 20)
            if start <= rva < start + size:
                return raw + rva - start
        raise AssertionError(f"RVA {rva:#x} lies in no section")

    root = offset(root_rva)

    def child(directory, wanted):
        named, ids = u16(directory + 12), u16(directory + 14)
        for i in range(named + ids):
            entry = directory + 16 + 8 * i
            if wanted is None or (i >= named and u32(entry) == wanted):
                return u32(entry + 4)
        return None

    at = child(root, type_id)
    assert at is not None and at & 0x80000000, "no resources of that type"
    at = child(root + (at & 0x7FFFFFFF), name_id)
    assert at is not None and at & 0x80000000, "no resource of that id"
    at = child(root + (at & 0x7FFFFFFF), None)
    assert at is not None and not at & 0x80000000
    rva, size = u32(root + at), u32(root + at + 4)
    return data[offset(rva):offset(rva) + size]


def test_stub_carries_its_application_manifest(installer_stub):
    """The loader reads resource 24/1: supported systems, the execution level
    that turns off installer detection and virtualisation, and Common
    Controls 6 for the wizard."""
    manifest = ElementTree.fromstring(pe_resource(installer_stub.read_bytes(), 24, 1))
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1"}
    level = manifest.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
    assert (level.get("level"), level.get("uiAccess")) == ("highestAvailable", "false")
    controls = manifest.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)
    assert (controls.get("name"), controls.get("version"), controls.get("processorArchitecture"),
            controls.get("publicKeyToken")) == ("Microsoft.Windows.Common-Controls", "6.0.0.0", "x86",
                                                "6595b64144ccf1df")
    systems = {e.get("Id") for e in manifest.findall("c:compatibility/c:application/c:supportedOS", ns)}
    assert {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
            "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"} <= systems and len(systems) == 5  # ... 10 and 11
