#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_logger_read: install logs, good and bad.

Each seed is named after what it shows. Run from anywhere; it replaces the
folder corpus/fuzz_logger_read beside this script.
"""
import os
import shutil

HEADER = "Install Log File, v2.0\n"


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


def log(name="Corvantis Demo", recorded="", integer="2", records=(), count=None):
    lines = [name, recorded, integer, str(len(records)) if count is None else count]
    return HEADER + "".join(line + "\n" for line in lines) + "".join(r + "\n" for r in records)


EXAMPLE = [
    "file C:\\App\\install.log",
    "file C:\\App\\bin\\run.exe",
    "directory C:\\App\\bin",
    "file C:\\App\\uninstall.exe",
]

EVERY_KIND = [
    "file C:\\Program Files\\My Product\\read me.txt",
    "pathentry C:\\Program Files\\My Product\\bin",
    "ntservice My Service",
    "registrykey HKEY_LOCAL_MACHINE\\Software\\My Vendor\\My Product",
    "registrykey HKEY_CURRENT_USER\\Software\\My Vendor",
    "registrykey HKEY_CLASSES_ROOT\\.corv",
    "directory C:\\Program Files\\My Product",
]

SEEDS = {
    # Valid logs.
    "good_example": utf16(log(records=EXAMPLE)),
    "good_every_kind_recorded_path": utf16(
        log("My Product 2.0", "C:\\Program Files\\My Product\\bin\\my app.exe", "5", EVERY_KIND)),
    "good_no_records": utf16(log(records=[])),
    "good_empty_product_negative_integer": utf16(log("", "", "-3", ["file C:\\x"])),
    "good_duplicates_and_empty_text": utf16(log(records=["file C:\\a", "file C:\\a", "pathentry ", "file  lead"])),
    "good_tab_before_keyword": utf16(log(records=["\tntservice Svc"])),
    "good_trailing_bytes_odd_length": utf16(log(records=EXAMPLE[:1]) + "ignored") + b"\x00\x41\x42",
    "good_nul_after_records": utf16(log(records=EXAMPLE[:2]) + "\0more text\n"),
    "good_longest_lines": utf16(log("n" * 511, "p" * 511, records=["file " + "t" * 511])),
    "good_lone_surrogates": utf16(log("\ud800", records=["file \udc00"])),
    "good_non_ascii": utf16(log("Produkt \u00c4\u00d6\u00dc \u65e5\u672c", records=["file C:\\\u0416\\\u00e9.txt"])),
    # Broken logs: each must be refused.
    "bad_empty": b"",
    "bad_one_byte": b"I",
    "bad_version": utf16(log(records=EXAMPLE).replace("v2.0", "v2.1", 1)),
    "bad_header_crlf": utf16(log(records=EXAMPLE).replace("\n", "\r\n")),
    "bad_byte_order_mark": b"\xff\xfe" + utf16(log(records=EXAMPLE)),
    "bad_big_endian": log(records=EXAMPLE).encode("utf-16-be"),
    "bad_no_line_feed_after_name": utf16(HEADER + "Corvantis Demo"),
    "bad_missing_count": utf16(HEADER + "P\n\n2\n"),
    "bad_count_not_number": utf16(log(records=EXAMPLE, count="four")),
    "bad_negative_count": utf16(log(records=EXAMPLE, count="-1")),
    "bad_count_overflow": utf16(log(records=EXAMPLE, count="4294967300")),
    "bad_more_counted_than_present": utf16(log(records=EXAMPLE, count="5")),
    "bad_last_record_without_line_feed": utf16(log(records=EXAMPLE)[:-1]),
    "bad_record_without_space": utf16(log(records=["file"])),
    "bad_unknown_keyword": utf16(log(records=["folder C:\\App"])),
    "bad_uppercase_keyword": utf16(log(records=["FILE C:\\App"])),
    "bad_text_too_long": utf16(log(records=["file " + "t" * 512])),
    "bad_keyword_too_long": utf16(log(records=["k" * 504 + " x"])),
    "bad_name_too_long": utf16(log("n" * 512, records=[])),
    "bad_nul_inside_record": utf16(log(records=["file C:\0\\x"])),
    
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "corpus", "fuzz_logger_read")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(out, name + ".log"), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {os.path.relpath(out)}")


if __name__ == "__main__":
    main()
