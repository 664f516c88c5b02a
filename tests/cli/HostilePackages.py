#!/usr/bin/env python3
"""Writes a hostile variant of a good package, as an attacker's tool would.

    HostilePackages.py GOOD.appv CASE OUT.appv TARGET

The entries of GOOD are copied (deflated again) and the case adds or changes what it names.
TARGET is an absolute host path that a name tries to reach, or the file an external entity
reads. The archive is written by hand so that names and sizes are exactly what the case wants
(Python's zipfile would refuse some of them). The cases are those of main().
"""
import struct
import sys
import zlib
import zipfile

GIB = 1 << 30


class RawZip:
    """A ZIP64 archive whose entries carry exactly the given names, sizes and payloads."""

    def __init__(self, path):
        self.out = open(path, "wb")
        self.central = []

    def add(self, name, payload, size, crc, method=8, flags=0x800):
        offset = self.out.tell()
        raw_name = name if isinstance(name, bytes) else name.encode("utf-8")
        extra = struct.pack("<HHQQ", 1, 16, size, len(payload))
        self.out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, flags, method, 0, 0x5C21, crc,
                                   0xFFFFFFFF, 0xFFFFFFFF, len(raw_name), len(extra)))
        self.out.write(raw_name + extra)
        self.out.write(payload)
        self.central.append((raw_name, method, crc, len(payload), size, offset, flags))

    def add_file(self, name, data, flags=0x800):
        """Data in bytes or in pieces, so that a gibibyte never sits in memory."""
        chunks = [data] if isinstance(data, bytes) else data
        compressor = zlib.compressobj(1, zlib.DEFLATED, -15)
        pieces, size, crc = [], 0, 0
        for chunk in chunks:
            pieces.append(compressor.compress(chunk))
            size += len(chunk)
            crc = zlib.crc32(chunk, crc)
        pieces.append(compressor.flush())
        self.add(name, b"".join(pieces), size, crc, flags=flags)

    def repeat_central(self, index, names):
        """More central entries for the local header of entry `index`: one data, many files."""
        _, method, crc, csize, size, offset, flags = self.central[index]
        for name in names:
            self.central.append((name.encode("utf-8"), method, crc, csize, size, offset, flags))

    def close(self, overrun=0):
        start = self.out.tell()
        if overrun:
            # The last entry claims bytes of the central directory as its data.
            raw_name, method, crc, csize, size, offset, flags = self.central[-1]
            self.central[-1] = (raw_name, method, crc, csize + overrun, size, offset, flags)
        for raw_name, method, crc, csize, size, offset, flags in self.central:
            extra = struct.pack("<HHQQQ", 1, 24, size, csize, offset)
            self.out.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, flags, method, 0, 0x5C21,
                                       crc, 0xFFFFFFFF, 0xFFFFFFFF, len(raw_name), len(extra), 0, 0, 0, 0,
                                       0xFFFFFFFF))
            self.out.write(raw_name + extra)
        end = self.out.tell()
        count = len(self.central)
        self.out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, end - start, start))
        self.out.write(struct.pack("<IIQI", 0x07064B50, 0, end, 1))
        self.out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))
        self.out.close()


def zeros_bomb(total):
    """A deflate stream of `total` zero bytes built from one repeated, independently decodable
    piece: ten gigabytes cost about ten megabytes and a fraction of a second."""
    piece_size = 8 << 20
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    piece = compressor.compress(b"\0" * piece_size) + compressor.flush(zlib.Z_FULL_FLUSH)
    assert total % piece_size == 0
    return piece * (total // piece_size) + b"\x03\x00"


def manifest_with_doctype(manifest, doctype, display_name):
    head, rest = manifest.split(b"?>", 1)
    text = head + b"?>\n" + doctype + rest
    return text.replace(b"<DisplayName>Demo Notes</DisplayName>",
                        b"<DisplayName>" + display_name + b"</DisplayName>")


def looping_hive(hive):
    """The root key's subkey list names the root key itself."""
    data = bytearray(hive)
    root = struct.unpack_from("<I", data, 0x24)[0]
    list_payload = 4096 + 4 + struct.unpack_from("<I", data, 4096 + root + 4 + 0x1C)[0]
    assert data[list_payload:list_payload + 2] in (b"lf", b"lh", b"li", b"ri"), "no subkey list"
    struct.pack_into("<I", data, list_payload + 4, root)
    return bytes(data)


def with_attributes(xml, element, count):
    """`count` attributes of a foreign namespace on the first `element` start tag: each one is
    cheap, all of them must be handled in time linear in their number."""
    attributes = b' xmlns:h="urn:hostile"' + b"".join(b' h:a%d="v%d"' % (i, i) for i in range(count))
    at = xml.index(b"<" + element)
    end = at + 1 + len(element.rstrip())
    return xml[:end] + attributes + xml[end:]


def hive_with_free_space(hive, bins):
    """The hive's bins followed by `bins` (a list of bin sizes), each one free cell: the file
    grows while the package stays small. Yields the hive in pieces."""
    data = bytearray(hive)
    bins_size = struct.unpack_from("<I", data, 0x28)[0]
    data = data[:4096 + bins_size]
    offset = bins_size
    total = sum(bins)
    struct.pack_into("<I", data, 0x28, bins_size + total)
    checksum = 0
    for (word,) in struct.iter_unpack("<I", bytes(data[:0x1FC])):
        checksum ^= word
    checksum = {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(checksum, checksum)
    struct.pack_into("<I", data, 0x1FC, checksum)
    yield bytes(data)
    zeros = b"\0" * (8 << 20)
    for size in bins:
        yield struct.pack("<4sIIQQIi", b"hbin", offset, size, 0, 0, 0, size - 32)
        for left in range(size - 36, 0, -len(zeros)):
            yield zeros[:min(left, len(zeros))]
        offset += size


def billion_laughs():
    entities = b'<!ENTITY l0 "lol">'
    for i in range(1, 10):
        entities += b'<!ENTITY l%d "%s">' % (i, (b"&l%d;" % (i - 1)) * 10)
    return b"<!DOCTYPE Package [" + entities + b"]>\n"


# The cases that change one entry of the good package: (entry, change of its bytes given TARGET).
ENTRY_EDITS = {
    "external-entity": ("AppxManifest.xml", lambda d, t: manifest_with_doctype(
        d, b'<!DOCTYPE Package [<!ENTITY secret SYSTEM "file://' + t.encode() + b'">]>\n', b"&secret;")),
    "billion-laughs": ("AppxManifest.xml", lambda d, t: manifest_with_doctype(d, billion_laughs(), b"&l9;")),
    "hive-loop": ("Registry.dat", lambda d, t: looping_hive(d)),
    "attributes-manifest": ("AppxManifest.xml", lambda d, t: with_attributes(d, b"Package ", 100000)),
    "entity-expansion": ("AppxManifest.xml", lambda d, t: manifest_with_doctype(
        d, b'<!DOCTYPE Package [<!ENTITY big "' + b"x" * 50000 + b'">]>\n', b"&big;" * 50000)),
}
# The cases whose hive grows by bins of free space (their sizes).
FREE_BINS = {"hive-free-bin": [GIB], "hive-free-bins": [4096] * (256 << 8)}


def main():
    good, case, out, target = sys.argv[1:5]
    climb = "../" * 24 + target.lstrip("/")
    with zipfile.ZipFile(good) as source:
        entries = [(i.filename, source.read(i)) for i in source.infolist() if i.filename != "AppxBlockMap.xml"]
    archive = RawZip(out)
    for name, data in entries:
        if case in ENTRY_EDITS and name == ENTRY_EDITS[case][0]:
            data = ENTRY_EDITS[case][1](data, target)
        elif case in FREE_BINS and name == "Registry.dat":
            data = hive_with_free_space(data, FREE_BINS[case])
        archive.add_file(name, data)
    notes = "Root/VFS/ProgramFilesX86/Demo Notes/"
    # The cases that only add entries: (name, data, flags).
    added = {
        "slip": [(climb, b"escaped"), ("Root/" + "../" * 12 + target.lstrip("/"), b"escaped")],
        "nul-name": [(notes + "a%00b.txt", b"nul")],
        "raw-nul-name": [(notes.encode() + b"a\0b.txt", b"nul")],
        "control-name": [(notes + "line%0Abreak.txt", b"newline")],
        # Not marked UTF-8, as an old tool would write it: a reader might guess code page 437.
        "non-utf8-name": [(notes.encode() + b"bad\xff\xfe.txt", b"latin", 0)],
    }
    if case in added:
        for name, data, *flags in added[case]:
            archive.add_file(name, data, *flags)
    elif case == "case-twins":
        archive.add_file(notes + "NOTES.TXT", b"the later twin")
        manifest = dict(entries)["AppxManifest.xml"]
        archive.add_file("appxmanifest.xml", manifest.replace(b"<DisplayName>Demo Notes<",
                                                              b"<DisplayName>Later Twin<"))
    elif case == "bomb-lying":
        # Declares one mebibyte; the stream inflates to ten gibibytes.
        archive.add(notes + "bomb.bin", zeros_bomb(10 * GIB), 1 << 20, 0)
    elif case == "bomb-honest":
        # Declares all ten gibibytes (the CRC is never reached: the size is refused first).
        archive.add(notes + "bomb.bin", zeros_bomb(10 * GIB), 10 * GIB, 0)
    elif case == "shared-local-header":
        # 200 files whose central entries all point at one local header of 64 MiB of zeros.
        archive.add_file(notes + "zeros.bin", b"\0" * (64 << 20))
        archive.repeat_central(len(archive.central) - 1,
                               [notes + "zeros%03d.bin" % i for i in range(200)])
    elif case == "into-central-directory":
        archive.add_file(notes + "last.txt", b"last")
        archive.close(overrun=64)
        return
    elif case not in ENTRY_EDITS and case not in FREE_BINS:
        sys.exit("unknown case " + case)
    archive.close()


if __name__ == "__main__":
    main()
