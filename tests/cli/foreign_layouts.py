#!/usr/bin/python3
"""Writes one package again in the container layout of another writer.

Usage: foreign_layouts.py IN.appv OUT.appv LAYOUT     writes OUT in LAYOUT

The entries, their order and their contents stay those of IN; only the way they are stored
changes. Layouts that a block-map writer makes get a block map of their own that describes
their bytes; the repacks by general ZIP tools keep the old one, as those tools do.
Nothing here shares code with Quendle: zlib, hashlib and struct only.
"""
import base64
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib
from urllib.parse import unquote
from xml.sax.saxutils import quoteattr

CHUNK = 65536
UNMAPPED = ("AppxBlockMap.xml", "[Content_Types].xml")
NS = "http://schemas.microsoft.com/appx/2010/blockmap"

# Every option a layout can change, with the original writer's choice as the default: deflate
# level 1 with a full flush per 64 KiB, an empty file with no payload at all, a ZIP64 data
# descriptor, ZIP64 central records and end records, percent-escaped names, no extra fields.
ORIGINAL = dict(method=8, level=1, flush="full", empty="none", descriptor="zip64", local_zip64=False,
                central="zip64", names="percent", extras=(), comment=b"", map_case=False, stored_sizes=False,
                keep_map=False)

LAYOUTS = {
    "original": {},
    "empty-03-00": dict(empty="0300"),
    "empty-stored-final-block": dict(empty="010000ffff"),
    "empty-no-descriptor": dict(descriptor="zip64-but-empty"),
    "stored": dict(method=0),
    "stored-with-block-sizes": dict(method=0, stored_sizes=True),
    # One stream with no flush points cannot have a block map of its own: the old one stays.
    "one-stream-no-flush": dict(flush="none", level=6, keep_map=True),
    "sync-flush": dict(flush="sync", level=6),
    **{f"level-{n}": dict(level=n) for n in range(10)},
    "zip64-extra-in-local-headers": dict(local_zip64=True),
    "descriptor-32-bit-signed": dict(descriptor="sig32", central="classic"),
    "descriptor-32-bit-unsigned": dict(descriptor="nosig32", central="classic"),
    "no-descriptors": dict(descriptor="none", central="classic"),
    "utf8-names-flagged": dict(names="utf8"),
    "utf8-names-unflagged": dict(names="utf8-noflag"),
    "ntfs-times": dict(extras=("ntfs",)),
    "extended-times": dict(extras=("time",)),
    "unicode-path-field": dict(extras=("upath",)),
    "unicode-path-field-other-name": dict(extras=("upath-other",)),
    "comments": dict(comment=b"written by another tool"),
    "block-map-names-in-wrong-case": dict(map_case=True),
    "repack-zip": "zip",
    "repack-python-zipfile": "python",
    "repack-7z": "7z",
}


def deflate(data, level, flush):
    """The raw deflate stream of `data` and the compressed size of each 64 KiB chunk."""
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    out, sizes = [], []
    mode = {"full": zlib.Z_FULL_FLUSH, "sync": zlib.Z_SYNC_FLUSH}.get(flush)
    for at in range(0, len(data), CHUNK):
        piece = c.compress(data[at:at + CHUNK])
        if mode is not None:
            piece += c.flush(mode)
        sizes.append(len(piece))
        out.append(piece)
    out.append(c.flush(zlib.Z_FINISH))
    return b"".join(out), sizes


def payload(data, o):
    if o["method"] == 0:
        return data, [None] * ((len(data) + CHUNK - 1) // CHUNK)
    if not data:
        return {"none": b"", "0300": b"\x03\x00", "010000ffff": b"\x01\x00\x00\xff\xff"}[o["empty"]], []
    return deflate(data, o["level"], o["flush"])


def stored_name(name, o):
    """The bytes stored for an entry name (given percent-escaped, as IN holds it) and its flags."""
    if o["names"] == "percent":
        return name.encode("ascii"), 0
    # Only "%" needs its escape: the rest is plain UTF-8, spaces and brackets included.
    return unquote(name).replace("%", "%25").encode("utf-8"), 0x800 if o["names"] == "utf8" else 0


def extra_fields(name_bytes, real_name, o, local, sizes):
    out = b""
    if local and o["local_zip64"]:
        out += struct.pack("<HHQQ", 1, 16, *sizes)
    for kind in o["extras"]:
        if kind == "ntfs":
            t = 133000000000000000
            out += struct.pack("<HHIHHQQQ", 0x000A, 32, 0, 1, 24, t, t, t)
        elif kind == "time":
            out += struct.pack("<HHBI", 0x5455, 5, 1, 1700000000)
        elif kind.startswith("upath"):
            field = struct.pack("<BI", 1, zlib.crc32(name_bytes)) + real_name
            out += struct.pack("<HH", 0x7075, len(field)) + field
    return out


def block_map(files):
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             f'<BlockMap xmlns="{NS}" HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">']
    for name, size, lfh, blocks in files:
        lines.append(f'<File Name={quoteattr(name)} Size="{size}" LfhSize="{lfh}">')
        for digest, length in blocks:
            sized = f' Size="{length}"' if length else ""
            lines.append(f'<Block Hash="{digest}"{sized}/>')
        lines.append("</File>")
    lines.append("</BlockMap>")
    return "\r\n".join(lines).encode("utf-8")


def hashes(data):
    return [base64.b64encode(hashlib.sha256(data[at:at + CHUNK]).digest()).decode()
            for at in range(0, len(data), CHUNK)]


def write(z, body, o):
    """Every entry of the open package `z`, in its order, one at a time (packages may be large)."""
    directory, mapped = bytearray(), []
    for info in z.infolist():
        name, data, when = info.filename, z.read(info), dos(info.date_time)
        if name == "AppxBlockMap.xml" and not o["keep_map"]:
            data = block_map(mapped)
        name_bytes, utf8 = stored_name(name, o)
        real_name = name_bytes
        if "upath-other" in o["extras"]:
            # The header holds a mangled name; the Unicode path field, whose CRC vouches for
            # that header name, holds the real one.
            name_bytes = name_bytes.replace(b"Demo", b"D_mo")
        packed, block_sizes = payload(data, o)
        method = o["method"]
        crc, csize, usize = zlib.crc32(data), len(packed), len(data)
        described = o["descriptor"] != "none" and (data or o["descriptor"] != "zip64-but-empty")
        flags = (0x0008 if described else 0) | (0x0006 if method == 8 and o["level"] == 1 else 0) | utf8
        local_sizes = (0, 0, 0) if described else (crc, csize, usize)
        if o["local_zip64"]:
            local_sizes = (local_sizes[0], 0xFFFFFFFF, 0xFFFFFFFF)
        extra = extra_fields(name_bytes, real_name, o, True, (usize if not described else 0,
                                                                csize if not described else 0))
        offset = body.tell()
        body.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, flags, method, when[0], when[1], *local_sizes,
                               len(name_bytes), len(extra)) + name_bytes + extra + packed)
        if described and o["descriptor"].startswith("zip64"):
            body.write(struct.pack("<IIQQ", 0x08074B50, crc, csize, usize))
        elif o["descriptor"] == "sig32":
            body.write(struct.pack("<IIII", 0x08074B50, crc, csize, usize))
        elif o["descriptor"] == "nosig32":
            body.write(struct.pack("<III", crc, csize, usize))
        if name not in UNMAPPED:
            blocks = list(zip(hashes(data), block_sizes))
            if o["stored_sizes"]:
                blocks = [(h, min(CHUNK, len(data) - i * CHUNK)) for i, (h, _) in enumerate(blocks)]
            listed = unquote(name).replace("/", "\\")
            if o["map_case"]:
                listed = listed.swapcase()
            mapped.append((listed, usize, 30 + len(name_bytes) + len(extra), blocks))
        cextra = extra_fields(name_bytes, real_name, o, False, None)
        comment = b"entry comment" if o["comment"] else b""
        if o["central"] == "zip64":
            cextra = struct.pack("<HHQQQ", 1, 24, usize, csize, offset) + cextra
            fields = (0xFFFFFFFF, 0xFFFFFFFF)
            where = 0xFFFFFFFF
        else:
            fields, where = (csize, usize), offset
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, flags, method, when[0], when[1], crc,
                                 *fields, len(name_bytes), len(cextra), len(comment), 0, 0, 0x20, where)
        directory += name_bytes + cextra + comment
    count, at, size = len(z.infolist()), body.tell(), len(directory)
    tail = b""
    if o["central"] == "zip64":
        tail += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, at)
        tail += struct.pack("<IIQI", 0x07064B50, 0, at + size, 1)
        tail += struct.pack("<IHHHHIIH", 0x06054B50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                            len(o["comment"]))
    else:
        tail += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, at, len(o["comment"]))
    body.write(bytes(directory) + tail + o["comment"])


def repack(source, out_path, tool):
    """What a general ZIP tool makes of the package: every entry compressed its own way, the
    old block map kept as it was."""
    z = zipfile.ZipFile(source)
    if tool == "python":
        with zipfile.ZipFile(out_path, "w", zipfile.ZIP_DEFLATED) as target:
            for info in z.infolist():
                target.writestr(info, z.read(info), compress_type=zipfile.ZIP_DEFLATED)
        return
    folder = tempfile.mkdtemp()
    try:
        for info in z.infolist():
            path = os.path.join(folder, info.filename)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(z.read(info))
        names = "\n".join(i.filename for i in z.infolist()) + "\n"
        target = os.path.abspath(out_path)
        if os.path.exists(target):
            os.remove(target)
        if tool == "zip":
            command = ["zip", "-q", "-X", target, "-@"]
        else:
            command = ["7z", "a", "-tzip", "-bd", "-bso0", target, "-i@" + os.path.join(folder, ".list")]
            with open(os.path.join(folder, ".list"), "w") as f:
                f.write(names)
        subprocess.run(command, cwd=folder, input=names.encode(), check=True, stdout=subprocess.DEVNULL)
    finally:
        shutil.rmtree(folder)


def main():
    source, out_path, layout = sys.argv[1:4]
    chosen = LAYOUTS[layout]
    if isinstance(chosen, str):
        repack(source, out_path, chosen)
    else:
        with open(out_path, "wb") as body:
            write(zipfile.ZipFile(source), body, {**ORIGINAL, **chosen})


def dos(t):
    return ((t[3] << 11) | (t[4] << 5) | (t[5] // 2), ((t[0] - 1980) << 9) | (t[1] << 5) | t[2])


if __name__ == "__main__":
    main()
