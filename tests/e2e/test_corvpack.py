"""Installers built by corvpack from examples/hello: checked by corvpack
itself and, when damaged, refused cleanly by the real installer under Wine."""
import lzma
import pathlib
import re
import struct
import subprocess
import zlib

import pytest

from packing import throwaway_signer

ROOT = pathlib.Path(__file__).resolve().parents[2]
TRAILER = 24
MAGIC = 0x31494935
FILTERS = [{"id": lzma.FILTER_X86},
           {"id": lzma.FILTER_LZMA1, "preset": 6, "dict_size": 8 << 20, "lc": 3, "lp": 0, "pb": 2}]


@pytest.fixture(scope="session")
def hello_installer(corvpack, build_dir, installer_stub, tmp_path_factory):
    out = tmp_path_factory.mktemp("hello") / "hello-setup.exe"
    subprocess.run([str(corvpack), "build", str(ROOT / "examples" / "hello" / "package.toml"),
                    "--product", str(build_dir / "examples" / "hello" / "product"),
                    "--stub", str(installer_stub),
                    "--shfolder", str(installer_stub.parent / "shfolder.dll"), "-o", str(out), "-q"], check=True)
    return out


def run(*args):
    proc = subprocess.run([str(a) for a in args], capture_output=True, text=True)
    return proc.returncode, proc.stdout, proc.stderr


def with_renamed_entry(data, old, new):
    """The installer with a file name of its record replaced by one of the
    same length; the record block is decoded and encoded again."""
    magic, length, offset, size = struct.unpack("<IIQQ", data[-TRAILER:])
    assert magic == MAGIC
    block = data[offset:offset + length]
    record = lzma.decompress(block[13:], format=lzma.FORMAT_RAW, filters=FILTERS)[:size]
    old_bytes, new_bytes = old.encode("utf-16-le") + b"\0\0", new.encode("utf-16-le") + b"\0\0"
    assert len(old_bytes) == len(new_bytes) and old_bytes in record
    record = record.replace(old_bytes, new_bytes)
    # The record's checksum at offset 220, made with those four bytes as 0.
    record = record[:220] + b"\0\0\0\0" + record[224:]
    record = record[:220] + struct.pack("<I", zlib.crc32(record)) + record[224:]
    packed = block[:13] + lzma.compress(record, format=lzma.FORMAT_RAW, filters=FILTERS)
    return data[:offset] + packed + struct.pack("<IIQQ", MAGIC, len(packed), offset, len(record))


def test_hello_installer_is_the_stub_followed_by_a_package_that_verifies(corvpack, hello_installer, installer_stub,
                                                                        tmp_path):
    data = hello_installer.read_bytes()
    stub = installer_stub.read_bytes()
    assert data.startswith(stub)
    rc, out, err = run(corvpack, "verify", hello_installer)
    assert rc == 0, err
    assert "OK, 4 main files" in out
    rc, out, err = run(corvpack, "list", hello_installer)
    assert rc == 0, err
    assert "hello.exe" in out and "readme.txt" in out and "hellobound.exe" in out and "xbind.script" in out
    # The build's uninstaller, asked for by the description.
    assert re.search(r"^uninstaller +uninstall\.exe$", out, re.M) and re.search(r"\d  uninstall\.exe$", out, re.M)
    # Without being told, corvpack packs the build's UI resource library.
    rc, _, err = run(corvpack, "extract", hello_installer, "-o", tmp_path / "aux", "--auxiliary")
    assert rc == 0, err
    assert (tmp_path / "aux" / "xinstres.dll").read_bytes() == (installer_stub.parent / "xinstres.dll").read_bytes()


def test_a_signed_installer_carries_a_signed_uninstaller(corvpack, build_dir, installer_stub, tmp_path):
    key, cert = throwaway_signer(tmp_path)
    signed = tmp_path / "signed.exe"
    rc, _, err = run(corvpack, "build", ROOT / "examples" / "hello" / "package.toml",
                     "--product", build_dir / "examples" / "hello" / "product", "--stub", installer_stub,
                     "--shfolder", installer_stub.parent / "shfolder.dll", "--sign", key, cert, "-o", signed, "-q")
    assert rc == 0, err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["cert.pem", "key.pem", "signed.exe"]
    rc, _, err = run(corvpack, "extract", signed, "-o", tmp_path / "main")
    assert rc == 0, err
    for program in (signed, tmp_path / "main" / "uninstall.exe"):
        rc, out, err = run("osslsigncode", "verify", "-CAfile", cert, "-in", program)
        assert rc == 0, out + err


def test_verify_refuses_truncated_installers(corvpack, hello_installer, installer_stub, tmp_path):
    data = hello_installer.read_bytes()
    cut = tmp_path / "cut.exe"
    stub_size = installer_stub.stat().st_size
    for n in sorted({0, 1, TRAILER - 1, TRAILER, stub_size, stub_size + 13, len(data) // 2,
                     len(data) - TRAILER, len(data) - TRAILER + 1, len(data) - 1}):
        cut.write_bytes(data[:n])
        rc, _, err = run(corvpack, "verify", cut)
        assert rc == 1, f"cut at {n}"
        assert "Invalid or corrupted installation package" in err, err


def test_verify_refuses_a_traversing_file_name(corvpack, hello_installer, tmp_path):
    bad = tmp_path / "traversing.exe"
    bad.write_bytes(with_renamed_entry(hello_installer.read_bytes(), "readme.txt", "..\\evil.tx"))
    rc, _, err = run(corvpack, "verify", bad)
    assert rc == 1
    assert "Invalid or corrupted installation package" in err, err
    rc, _, err = run(corvpack, "extract", bad, "-o", tmp_path / "out")
    assert rc == 1
    assert not (tmp_path / "evil.tx").exists() and not (tmp_path / "out").exists()


@pytest.mark.parametrize("damage", ["traversing name", "line break in the product key", "broken record block",
                                    "bad trailer"])
def test_installer_with_a_bad_record_exits_cleanly_and_writes_nothing(prefix, hello_installer, tmp_path, damage):
    data = hello_installer.read_bytes()
    if damage == "traversing name":
        data = with_renamed_entry(data, "readme.txt", "..\\evil.tx")
    elif damage == "line break in the product key":
        # install.log keeps the key on one line: a line break would add a
        # record of the package's choosing.
        data = with_renamed_entry(data, "Corvantis\\Hello", "Corvantis\nHello")
    elif damage == "broken record block":
        _, length, offset, _ = struct.unpack("<IIQQ", data[-TRAILER:])
        data = data[:offset + 13] + bytes(b ^ 0xA5 for b in data[offset + 13:offset + length]) + data[-TRAILER:]
    else:
        data = data[:-TRAILER] + struct.pack("<IIQQ", MAGIC, 100, len(data) * 2, 500)
    bad = tmp_path / "setup.exe"
    bad.write_bytes(data)
    before = prefix.snapshot()
    rc, out = prefix.run(bad, "/batch")
    assert rc == 1
    assert (b"Invalid or corrupted installation package" in out
            or b"Unable to decompress: installation package is corrupted" in out), out
    if damage in ("traversing name", "line break in the product key"):
        assert b"Invalid or corrupted installation package" in out, out
    after = prefix.snapshot()
    assert after["files"] == before["files"]
    for name, sections in before["registry"].items():
        # Named, with their values before and after, should one ever differ.
        changed = sorted(k for k in set(sections) | set(after["registry"][name])
                         if sections.get(k) != after["registry"][name].get(k))
        assert changed == [], (name, [(k, sections.get(k), after["registry"][name].get(k)) for k in changed])
