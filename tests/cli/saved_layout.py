#!/usr/bin/python3
"""What became of a package in a foreign layout: how it expanded and how it was saved.

Usage: saved_layout.py FOREIGN.appv SAVED.appv EXPANDED-FOLDER

Prints one line: "copied=X empties=Y expanded=Z", where X names the entries whose compressed bytes
the save kept as FOREIGN had them (b: big.txt, e: exact.bin, c: the non-ASCII name; the others
were compressed afresh), Y is "03 00" when every empty file of SAVED is the two-byte empty
stream, and Z is "same" when EXPANDED holds every entry of FOREIGN with the bytes that zipfile reads.
"""
import os
import struct
import sys
import zipfile
from urllib.parse import unquote

WATCHED = {"big.txt": "b", "exact.bin": "e", "Caf\u00e9.txt": "c"}


def decoded(info):
    # A writer that mangled the header name kept the real one in a Unicode path field.
    name = info.filename if info.flag_bits & 0x800 else info.filename.encode("cp437").decode("utf-8")
    return unquote(name).replace("D_mo", "Demo")


def raw_entries(path):
    """Decoded name -> compressed bytes as stored."""
    out = {}
    with open(path, "rb") as f, zipfile.ZipFile(path) as z:
        for info in z.infolist():
            f.seek(info.header_offset + 26)
            name_length, extra_length = struct.unpack("<HH", f.read(4))
            f.seek(info.header_offset + 30 + name_length + extra_length)
            out[decoded(info)] = (f.read(info.compress_size), info.file_size)
    return out


def main():
    foreign, saved, expanded = sys.argv[1:4]
    before, after = raw_entries(foreign), raw_entries(saved)
    copied = ""
    for name, (data, _) in after.items():
        letter = WATCHED.get(name.rsplit("/", 1)[-1])
        if letter and before.get(name, (None,))[0] == data:
            copied += letter
    empties = {data for data, size in after.values() if size == 0}
    same = True
    with zipfile.ZipFile(foreign) as z:
        for info in z.infolist():
            path = os.path.join(expanded, decoded(info))
            same = same and os.path.isfile(path) and open(path, "rb").read() == z.read(info)
    print("copied=%s empties=%s expanded=%s" % ("".join(sorted(copied)) or "-",
                                                " ".join(sorted(d.hex(" ") for d in empties)),
                                                "same" if same else "differs"))


if __name__ == "__main__":
    main()
