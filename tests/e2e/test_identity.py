"""The vendor's identity in the installer: the version resource and the icon
that corvpack puts into the stub's resources, read under Wine as Explorer
reads them, and the uninstall entry's defaults."""
import pathlib
import shutil
import subprocess

from packing import throwaway_signer
from peresources import RT_GROUP_ICON, RT_ICON, resources

ROOT = pathlib.Path(__file__).resolve().parents[2]
ICON = ROOT / "tests" / "fuzz" / "corpus" / "fuzz_stubresources" / "good_icon_32_and_16.bin"
RT_VERSION = 16
PACKAGE = "Corv Identity"
DESCRIPTION = f"""
[package]
name = "{PACKAGE}"
version = "2.5.1"
publisher = "Corvantis Test Vendor"
description = "Corv Identity Setup \u00e9dition"
copyright = "\u00a9 2026 Corvantis Test Vendor"
icon = "art/app.ico"
builtin-uninstaller = true

[files]
source = "product"

[uninstall-entry]
publisher = "Corvantis Entry Publisher"
"""


def build(corvpack, stub, top, *extra):
    return subprocess.run([str(corvpack), "build", str(top / "package.toml"), "--stub", str(stub),
                           "--shfolder", str(stub.parent / "shfolder.dll"), "--uninstaller",
                           str(stub.parent / "uninstall.exe"), *map(str, extra)], capture_output=True, text=True)


def test_a_signed_installer_shows_the_vendors_version_and_icon_and_still_works(prefix, corvpack, installer_stub,
                                                                               build_dir, tmp_path):
    top = tmp_path / "identity"
    (top / "product").mkdir(parents=True)
    (top / "product" / "readme.txt").write_text("hello\n")
    (top / "art").mkdir()
    (top / "art" / "app.ico").write_bytes(b"\0\0\2\0" + ICON.read_bytes()[4:])  # a cursor's header
    (top / "package.toml").write_text(DESCRIPTION, encoding="utf-8")
    failed = build(corvpack, installer_stub, top, "-o", top / "setup.exe")
    assert failed.returncode == 1 and not (top / "setup.exe").exists()
    assert f"package.icon: {top / 'art' / 'app.ico'}: a cursor file, not an icon file" in failed.stderr

    shutil.copy(ICON, top / "art" / "app.ico")
    key, cert = throwaway_signer(tmp_path)
    signed = top / "corv-identity-setup.exe"
    built = build(corvpack, installer_stub, top, "--sign", key, cert, "-o", signed, "-q")
    assert built.returncode == 0, built.stderr
    for check in (["osslsigncode", "verify", "-CAfile", cert, "-in", signed], [corvpack, "verify", signed]):
        verified = subprocess.run(list(map(str, check)), capture_output=True, text=True)
        assert verified.returncode == 0, verified.stdout + verified.stderr

    # The stub's own resources (string tables, manifest) are all there as
    # they were, beside the version resource and the icon.
    stub, ours = resources(installer_stub.read_bytes()), resources(signed.read_bytes())
    assert {k: v for k, v in ours.items() if k[0] not in (RT_VERSION, RT_ICON, RT_GROUP_ICON)} == stub
    assert sorted(k for k in ours if k not in stub) == [(RT_ICON, 1, 0), (RT_ICON, 2, 0), (RT_GROUP_ICON, 1, 0),
                                                        (RT_VERSION, 1, 0x409)]

    shutil.copy(signed, prefix.host_path("C:\\" + signed.name))
    rc, out = prefix.run(build_dir / "tests" / "identityprobe.exe", "C:\\" + signed.name)
    assert (rc, out.decode("utf-8").replace("\r\n", "\n").splitlines()) == (0, [
        "file-version=2.5.1.0",
        "product-version=2.5.1.0",
        "translation=0409/04B0",
        "CompanyName=Corvantis Test Vendor",
        "FileDescription=Corv Identity Setup \u00e9dition",
        "FileVersion=2.5.1",
        "LegalCopyright=\u00a9 2026 Corvantis Test Vendor",
        f"OriginalFilename={signed.name}",
        f"ProductName={PACKAGE}",
        "ProductVersion=2.5.1",
        "icons=1",
        "icon=32x32",
    ])

    # The installer still finds its own texts, and the uninstall entry
    # takes the package's version, and the publisher [uninstall-entry] gives.
    rc, out = prefix.run(signed, "/batch", "/dest", "C:\\CorvIdentity")
    assert rc == 0 and f"successfully installed {PACKAGE} on" in out.decode("cp437")
    entries = prefix.reg_export("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
    entry = next(s for s in entries.replace("\r\n", "\n").split("\n\n") if f'"DisplayName"="{PACKAGE}"' in s)
    assert '"DisplayVersion"="2.5.1"' in entry and '"Publisher"="Corvantis Entry Publisher"' in entry
