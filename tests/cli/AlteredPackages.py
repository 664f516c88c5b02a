#!/usr/bin/python3
"""Writes altered copies of a good package for the tests of the save's checked copy.

Usage: AlteredPackages.py GOOD CASE OUT [ENTRY]

Cases:
  flip         one byte in the middle of ENTRY's compressed data is inverted (nothing else changes)
  wrong-hash   the old block map's first Hash of ENTRY names other bytes
  wrong-sizes  the old block map's first two block Sizes of ENTRY are off by one either way
  ordinary     every entry deflated again as an ordinary ZIP tool would (no flush per block),
               the old block map kept as it was
  raw          ENTRY: print the entry's compressed bytes as hex (for comparisons)
"""
import re
import shutil
import struct
import sys
import zipfile
import zlib

sys.path.insert(0, __import__("os").path.dirname(__file__))
from HostilePackages import RawZip  # noqa: E402


def raw_payloads(path):
    """(info, compressed bytes) of every entry, in archive order."""
    out = []
    with zipfile.ZipFile(path) as z, open(path, "rb") as f:
        for info in z.infolist():
            f.seek(info.header_offset)
            header = f.read(30)
            name_len, extra_len = struct.unpack("<HH", header[26:30])
            f.seek(info.header_offset + 30 + name_len + extra_len)
            out.append((info, f.read(info.compress_size)))
    return out


def data_offset(path, entry):
    with zipfile.ZipFile(path) as z, open(path, "rb") as f:
        info = z.getinfo(entry)
        f.seek(info.header_offset)
        header = f.read(30)
        name_len, extra_len = struct.unpack("<HH", header[26:30])
        return info.header_offset + 30 + name_len + extra_len, info.compress_size


def rewrite_block_map(good, out, change):
    """Copies every entry's compressed bytes as they are; the block map goes through `change`."""
    archive = RawZip(out)
    for info, payload in raw_payloads(good):
        if info.filename == "AppxBlockMap.xml":
            text = change(zlib.decompress(payload, -15).decode("utf-8")).encode("utf-8")
            archive.add(info.filename, text, len(text), zlib.crc32(text), method=0)
        else:
            archive.add(info.filename, payload, info.file_size, info.CRC, info.compress_type)
    archive.close()


def file_element(text, entry):
    name = entry.replace("/", "\\").replace("%20", " ")
    start = text.index('<File Name="' + name + '"')
    return start, text.index("</File>", start)


def main():
    good, case, out = sys.argv[1:4]
    entry = sys.argv[4] if len(sys.argv) > 4 else ""
    if case == "flip":
        shutil.copyfile(good, out)
        offset, size = data_offset(out, entry)
        with open(out, "r+b") as f:
            f.seek(offset + size // 2)
            byte = f.read(1)
            f.seek(offset + size // 2)
            f.write(bytes([byte[0] ^ 0xFF]))
    elif case == "wrong-hash":
        def change(text):
            start, end = file_element(text, entry)
            part = re.sub(r'Hash="[^"]*"', 'Hash="' + "A" * 43 + '="', text[start:end], count=1)
            return text[:start] + part + text[end:]
        rewrite_block_map(good, out, change)
    elif case == "wrong-sizes":
        def change(text):
            start, end = file_element(text, entry)
            sizes = iter([1, -1])
            part = re.sub(r'Size="(\d+)"/>', lambda m: 'Size="%d"/>' % (int(m.group(1)) + next(sizes, 0)),
                          text[start:end])
            return text[:start] + part + text[end:]
        rewrite_block_map(good, out, change)
    elif case == "ordinary":
        with zipfile.ZipFile(good) as source, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as target:
            for info in source.infolist():
                target.writestr(info, source.read(info), compress_type=zipfile.ZIP_DEFLATED)
    elif case == "raw":
        for info, payload in raw_payloads(good):
            if info.filename == entry:
                print(payload.hex())
    else:
        sys.exit("unknown case " + case)


if __name__ == "__main__":
    main()
