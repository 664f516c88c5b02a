#!/usr/bin/python3
"""Writes a copy of a package with one planted defect, for the /Verify and save tests.

Usage: damage_package.py IN OUT DEFECT [ARG]
  flip-payload ENTRY     flips one byte in the middle of ENTRY's stored data
  block-hash ENTRY       changes the first block hash that AppxBlockMap.xml lists for ENTRY
  block-size ENTRY       adds one to the compressed size of ENTRY's first block and takes one
                         from its second (when it has one): the total stays right
  reorder A B            swaps entries A and B in the archive (data and directory)
  crc ENTRY              changes the CRC-32 that the central directory gives ENTRY
  gap ENTRY              puts 16 stray bytes in front of ENTRY's local header
  local-name ENTRY       changes the last letter of the name in ENTRY's local header
  ordinary               every entry deflated again as an ordinary ZIP tool would (no flush per
                         block), the old block map kept as it was
  raw ENTRY              writes ENTRY's compressed bytes to OUT (nothing is damaged)

Entries are copied as raw bytes (local header, data and descriptor), so everything not named
stays exactly as written; the central directory is written anew in the classic form.
"""
import re
import struct
import sys
import zipfile
import zlib
from urllib.parse import unquote


def segments(data, infos):
    """Each entry's raw bytes from its local header up to the next one (or the directory)."""
    starts = sorted(i.header_offset for i in infos)
    directory = struct.unpack("<I", data[data.rfind(b"PK\x05\x06") + 16:][:4])[0]
    if directory == 0xFFFFFFFF:
        locator = data.rfind(b"PK\x06\x07")
        zip64_end = struct.unpack("<Q", data[locator + 8:locator + 16])[0]
        directory = struct.unpack("<Q", data[zip64_end + 48:zip64_end + 56])[0]
    ends = dict(zip(starts, starts[1:] + [directory]))
    return {i.filename: data[i.header_offset:ends[i.header_offset]] for i in infos}


def raw_name(info):
    return info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def payload_start(info, segment):
    return 30 + len(raw_name(info)) + struct.unpack("<H", segment[28:30])[0]


def blockmap_name(entry):
    return unquote(entry).replace("/", "\\").replace("&", "&amp;")


def stored_entry(info, content):
    """A fresh local header and data for an entry replaced by `content`, stored."""
    name = raw_name(info)
    crc = zlib.crc32(content)
    header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, info.flag_bits & 0x800, 0, 0, 0x21, crc,
                         len(content), len(content), len(name), 0)
    return header + name + content, (crc, len(content), len(content), 0, info.flag_bits & 0x800)


def write(out_path, order, raw, fields):
    body, directory = bytearray(), bytearray()
    for info in order:
        offset = len(body) + raw[info.filename].find(b"PK\x03\x04")
        body += raw[info.filename]
        crc, csize, usize, method, flags = fields[info.filename]
        name = raw_name(info)
        # Version needed, time and date as the local header has them, so that readers that
        # compare the two headers find them consistent.
        needed, = struct.unpack("<H", raw[info.filename][4:6])
        when, day = struct.unpack("<HH", raw[info.filename][10:14])
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, needed, flags, method, when, day, crc, csize,
                                 usize, len(name), 0, 0, 0, 0, 0, offset) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(order), len(order), len(directory), len(body), 0)
    with open(out_path, "wb") as f:
        f.write(bytes(body) + bytes(directory) + end)


def main():
    src, out, defect = sys.argv[1:4]
    args = sys.argv[4:]
    data = open(src, "rb").read()
    z = zipfile.ZipFile(src)
    infos = z.infolist()
    if defect == "ordinary":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as target:
            for info in infos:
                target.writestr(info, z.read(info), compress_type=zipfile.ZIP_DEFLATED)
        return
    raw = segments(data, infos)
    info = z.getinfo(args[0]) if args else None
    if defect == "raw":
        start = payload_start(info, raw[info.filename])
        open(out, "wb").write(raw[info.filename][start:start + info.compress_size])
        return
    fields = {i.filename: (i.CRC, i.compress_size, i.file_size, i.compress_type, i.flag_bits) for i in infos}
    order = list(infos)
    blockmap = z.getinfo("AppxBlockMap.xml")
    text = z.read(blockmap).decode("utf-8")
    if defect == "flip-payload":
        segment = bytearray(raw[info.filename])
        segment[payload_start(info, segment) + info.compress_size // 2] ^= 0x01
        raw[info.filename] = bytes(segment)
    elif defect in ("block-hash", "block-size"):
        file_at = text.index('Name="' + blockmap_name(args[0]) + '"')
        block_at = text.index("<Block ", file_at)
        if defect == "block-hash":
            hash_at = text.index('Hash="', block_at) + 6
            flipped = "B" if text[hash_at] != "B" else "C"
            text = text[:hash_at] + flipped + text[hash_at + 1:]
        else:
            end = text.index("</File>", file_at)
            sizes = re.compile(r'Size="(\d+)"')
            # From the back, so that a change of length does not move the other.
            for delta, size in reversed(list(zip((1, -1), sizes.finditer(text, block_at, end)))):
                text = text[:size.start(1)] + str(int(size.group(1)) + delta) + text[size.end(1):]
        raw[blockmap.filename], fields[blockmap.filename] = stored_entry(blockmap, text.encode("utf-8"))
    elif defect == "crc":
        crc, *rest = fields[args[0]]
        fields[args[0]] = (crc ^ 1, *rest)
    elif defect == "gap":
        raw[args[0]] = b"\0" * 16 + raw[args[0]]
    elif defect == "local-name":
        segment = bytearray(raw[info.filename])
        segment[30 + len(raw_name(info)) - 1] ^= 0x20
        raw[info.filename] = bytes(segment)
    elif defect == "reorder":
        a, b = (order.index(z.getinfo(n)) for n in args[:2])
        order[a], order[b] = order[b], order[a]
    else:
        sys.exit("unknown defect " + defect)
    write(out, order, raw, fields)


if __name__ == "__main__":
    main()
