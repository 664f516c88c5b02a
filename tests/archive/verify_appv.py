#!/usr/bin/python3
"""Independent check of a packed container and its AppxBlockMap.xml.

Usage: verify_appv.py ARCHIVE          exit 0 when everything agrees, 1 otherwise
       verify_appv.py --self-test      checks that this verifier catches broken block maps

Checks: every entry's CRC (zipfile), the block map's namespace and hash method, that the map
lists every entry before it in archive order (and neither itself nor "[Content_Types].xml"),
each File's Size and LfhSize against the real local header, and each Block: its SHA-256 over
the 64 KiB chunk, and for deflated entries that exactly `Size` compressed bytes inflate on
their own into exactly that chunk.
"""
import base64
import hashlib
import io
import os
import re
import struct
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile
import zlib

BLOCKMAP_NS = "http://schemas.microsoft.com/appx/2010/blockmap"
SHA256_METHOD = "http://www.w3.org/2001/04/xmlenc#sha256"
CHUNK = 65536
UNMAPPED = ("AppxBlockMap.xml", "[Content_Types].xml")


def decode_entry_name(raw: bytes) -> str:
    """Zip entry name bytes -> package path as the block map lists it."""
    return re.sub(rb"%([0-9a-fA-F]{2})", lambda m: bytes([int(m[1], 16)]), raw).decode("utf-8").replace("/", "\\")


def raw_name(info: zipfile.ZipInfo) -> bytes:
    return info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def verify(path: str) -> list:
    errors = []
    with zipfile.ZipFile(path) as z:
        bad = z.testzip()
        if bad is not None:
            errors.append(f"CRC check failed for {bad}")
        infos = z.infolist()
        names = [i.filename for i in infos]
        if "AppxBlockMap.xml" not in names:
            return errors + ["no AppxBlockMap.xml entry"]
        root = ET.fromstring(z.read("AppxBlockMap.xml"))
        if root.tag != "{%s}BlockMap" % BLOCKMAP_NS:
            errors.append(f"root element is {root.tag}")
        if root.get("HashMethod") != SHA256_METHOD:
            errors.append(f"HashMethod is {root.get('HashMethod')}")
        mapped = [i for i in infos[:names.index("AppxBlockMap.xml")] if i.filename not in UNMAPPED]
        files = root.findall("{%s}File" % BLOCKMAP_NS)
        if len(files) != len(mapped):
            errors.append(f"block map lists {len(files)} files, archive has {len(mapped)} before it")
        errors += [f"{e.get('Name')} must not be listed" for e in files if e.get("Name") in UNMAPPED]
        with open(path, "rb") as raw:
            for info, element in zip(mapped, files):
                errors += verify_file(raw, info, element)
    return errors


def verify_file(raw, info: zipfile.ZipInfo, element) -> list:
    errors = []
    label = info.filename
    expected_name = decode_entry_name(raw_name(info))
    if element.get("Name") != expected_name:
        errors.append(f"{label}: Name {element.get('Name')!r}, expected {expected_name!r}")
    if element.get("Size") != str(info.file_size):
        errors.append(f"{label}: Size {element.get('Size')}, entry has {info.file_size}")
    raw.seek(info.header_offset)
    sig, _, _, method, _, _, _, _, _, name_len, extra_len = struct.unpack("<IHHHHHIIIHH", raw.read(30))
    if sig != 0x04034B50:
        return errors + [f"{label}: no local header at {info.header_offset}"]
    lfh = 30 + name_len + extra_len
    if element.get("LfhSize") != str(lfh):
        errors.append(f"{label}: LfhSize {element.get('LfhSize')}, local header is {lfh}")
    raw.seek(info.header_offset + lfh)
    blocks = element.findall("{%s}Block" % BLOCKMAP_NS)
    expected_blocks = (info.file_size + CHUNK - 1) // CHUNK
    if len(blocks) != expected_blocks:
        errors.append(f"{label}: {len(blocks)} blocks, expected {expected_blocks}")
    consumed = 0
    for n, block in enumerate(blocks):
        length = min(CHUNK, info.file_size - n * CHUNK)
        if method == 8:
            size = block.get("Size")
            if size is None:
                return errors + [f"{label}: block {n} of a deflated entry has no Size"]
            piece = raw.read(int(size))
            consumed += int(size)
            try:
                d = zlib.decompressobj(-15)
                chunk = d.decompress(piece) + d.flush(zlib.Z_SYNC_FLUSH)
            except zlib.error as e:
                return errors + [f"{label}: block {n} does not inflate on its own: {e}"]
            if len(chunk) != length:
                return errors + [f"{label}: block {n} inflates to {len(chunk)} bytes, expected {length}"]
            # A full flush ends every block with an empty stored block: a Size that runs into
            # the next block (or stops short of the marker) still inflates, but not at a boundary.
            if not piece.endswith(b"\x00\x00\xff\xff"):
                return errors + [f"{label}: block {n} does not end at a flush point"]
        else:
            if block.get("Size") is not None:
                errors.append(f"{label}: block {n} of a stored entry has a Size")
            chunk = raw.read(length)
            consumed += length
        digest = base64.b64encode(hashlib.sha256(chunk).digest()).decode("ascii")
        if block.get("Hash") != digest:
            errors.append(f"{label}: block {n} hash {block.get('Hash')}, data hashes to {digest}")
    if consumed > info.compress_size:
        errors.append(f"{label}: blocks cover {consumed} bytes, payload is {info.compress_size}")
    return errors


def self_test() -> int:
    """Builds a small container in Python and checks that each planted fault is caught."""
    def pack(mutate=None, compress=True):
        data = os.urandom(CHUNK) + b"x" * (CHUNK + 10)
        c = zlib.compressobj(1, zlib.DEFLATED, -15)
        chunks = [data[k:k + CHUNK] for k in range(0, len(data), CHUNK)]
        entry_name = "Root/My%20App/a.bin"
        blocks = []
        for chunk in chunks:
            h = base64.b64encode(hashlib.sha256(chunk).digest()).decode()
            size = f' Size="{len(c.compress(chunk) + c.flush(zlib.Z_FULL_FLUSH))}"' if compress else ""
            blocks.append(f'<Block Hash="{h}"{size}/>')
        lfh = 30 + len(entry_name)
        xml = (f'<?xml version="1.0" encoding="UTF-8" standalone="no"?>\n'
               f'<BlockMap xmlns="{BLOCKMAP_NS}" HashMethod="{SHA256_METHOD}">\n'
               f'<File Name="Root\\My App\\a.bin" Size="{len(data)}" LfhSize="{lfh}">'
               + "".join(blocks) + "</File></BlockMap>\n")
        if mutate:
            xml = mutate(xml)
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w") as z:
            z.writestr(zipfile.ZipInfo(entry_name), data,
                       compress_type=zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED, compresslevel=1)
            z.writestr("AppxBlockMap.xml", xml, compress_type=zipfile.ZIP_DEFLATED)
            z.writestr("[Content_Types].xml", "<Types/>")
        return buf.getvalue()

    failures = 0

    def expect(label, archive_bytes, ok):
        nonlocal failures
        with tempfile.NamedTemporaryFile(suffix=".appv") as t:
            t.write(archive_bytes)
            t.flush()
            try:
                errs = verify(t.name)
            except Exception as e:  # a crash of the verifier counts as a rejection
                errs = [repr(e)]
        if (not errs) != ok:
            failures += 1
            print(f"self-test {label}: expected {'pass' if ok else 'failure'}, got {errs}")

    # zipfile compresses the entry as one stream, so the block sizes of this synthetic map are
    # only right for the stored variant; the deflated variant checks that bad sizes are caught.
    expect("stored entry with a correct map passes", pack(compress=False), True)
    expect("deflated entry whose blocks are not independently inflatable fails", pack(compress=True), False)
    for label, old, new in (("wrong hash", 'Hash="', 'Hash="A'), ("wrong Size", 'Size="131082"', 'Size="131081"'),
                            ("wrong LfhSize", 'LfhSize="', 'LfhSize="1'), ("undecoded Name", "My App", "My%20App"),
                            ("missing block", "<Block", "<Gone")):
        expect(label + " fails", pack(lambda x: x.replace(old, new, 1), compress=False), False)
    return 1 if failures else 0


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if sys.argv[1] == "--self-test":
        return self_test()
    errors = verify(sys.argv[1])
    for e in errors:
        print(e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
