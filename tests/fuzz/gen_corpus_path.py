#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_path: a folder and an "autoexec.bat".

A seed is one byte with the folder's length, the folder, then the file's
bytes. Each seed is named after what it shows. Run from anywhere; it
replaces the folder corpus/fuzz_path beside this script.
"""
import os
import shutil


def seed(folder, text):
    folder = folder.encode("latin-1")
    return bytes([len(folder)]) + folder + text.encode("latin-1")


SEEDS = {
    "installer_line_only": seed("C:\\App", 'SET PATH="C:\\App";"%PATH%"\r\n'),
    "two_path_lines": seed("C:\\App", "@ECHO OFF\r\nSET PATH=C:\\DOS\r\nset\tpath=%PATH%;C:\\UTIL\r\nREM end\r\n"),
    "folder_inside_user_line": seed("c:\\app", "SET PATH=C:\\DOS;C:\\APP;C:\\APPS\r\n"),
    "prefix_of_an_entry": seed("C:\\a", "SET PATH=C:\\ab;C:\\a;C:\\c\n"),
    "lines_without_crlf_and_ctrl_z": seed("C:\\App", "SET PATH=C:\\App\nECHO\rOFF\n\x1aSET PATH=x\r\n"),
    "not_path_lines": seed("C:\\App", "SET PATH = C:\\App\r\nPATH C:\\App\r\nSETPATH=C:\\App\r\n@ @SET  PATH=\r\n"),
    "empty_entries": seed("C:\\App", ";;C:\\App;;"),
    "no_file": seed("C:\\Program Files\\App", ""),
    "oem_letters": seed("C:\\\x8epfel", 'SET PATH="c:\\\x84pfel";"%path%"\r\n'),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "corpus", "fuzz_path")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(out, name + ".bin"), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {os.path.relpath(out)}")


if __name__ == "__main__":
    main()
