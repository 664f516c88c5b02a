#!/usr/bin/env python3
"""Writes util/strings/CaseTable.cpp: the simple lower- and upper-case mappings of glibc's C.UTF-8
locale as ranges, so that every platform maps case as the Linux build always has (the Windows C
runtime's towlower knows other answers). Run on Linux after a glibc upgrade that changes Unicode."""
import ctypes, ctypes.util, pathlib, sys

libc = ctypes.CDLL(ctypes.util.find_library("c"))
libc.newlocale.restype = ctypes.c_void_p
libc.newlocale.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p]
LC_CTYPE_MASK = 1 << 0
loc = libc.newlocale(LC_CTYPE_MASK, b"C.UTF-8", None)
if not loc:
    sys.exit("no C.UTF-8 locale")
for f in ("towlower_l", "towupper_l"):
    getattr(libc, f).restype = ctypes.c_uint32
    getattr(libc, f).argtypes = [ctypes.c_uint32, ctypes.c_void_p]


def ranges(fn):
    """Runs of code points first..last (every stride-th one) that map to cp + delta."""
    pairs = [(cp, fn(cp, loc) - cp) for cp in range(0x80, 0x110000)
             if not 0xD800 <= cp <= 0xDFFF and fn(cp, loc) != cp]
    out = []
    for cp, delta in pairs:
        if out:
            first, last, d, stride = out[-1]
            if d == delta and (stride in (0, cp - last) or False) and cp - last in (1, 2):
                out[-1] = (first, cp, d, cp - last)
                continue
        out.append((cp, cp, delta, 0))
    return [(a, b, d, s or 1) for a, b, d, s in out]


def table(name, rows):
    body = "".join(f"    {{0x{a:04X}, 0x{b:04X}, {d}, {s}}},\n" for a, b, d, s in rows)
    return f"const CaseRange {name}[] = {{\n{body}}};\n"


lower, upper = ranges(libc.towlower_l), ranges(libc.towupper_l)
text = f"""// Written by scripts/make-case-table.py from glibc's C.UTF-8 locale; do not edit.
#include "util/strings/CaseTable.h"

#include <algorithm>
#include <iterator>

namespace quendle {{
namespace {{

// Code points first..last, every stride-th of them, map to code point + delta.
struct CaseRange {{
    char32_t first, last;
    int32_t delta;
    uint8_t stride;
}};

// clang-format off
{table("lowerRanges", lower)}
{table("upperRanges", upper)}// clang-format on

template <size_t N> char32_t lookUp(const CaseRange (&ranges)[N], char32_t cp) {{
    auto it = std::lower_bound(std::begin(ranges), std::end(ranges), cp,
                               [](const CaseRange& r, char32_t c) {{ return r.last < c; }});
    if (it == std::end(ranges) || cp < it->first || (cp - it->first) % it->stride != 0)
        return cp;
    return static_cast<char32_t>(static_cast<int32_t>(cp) + it->delta);
}}

}} // namespace

char32_t tableLowerCase(char32_t cp) {{
    return lookUp(lowerRanges, cp);
}}

char32_t tableUpperCase(char32_t cp) {{
    return lookUp(upperRanges, cp);
}}

}} // namespace quendle
"""
root = pathlib.Path(__file__).resolve().parent.parent
(root / "util/strings/CaseTable.cpp").write_text(text)
print(f"{len(lower)} lower and {len(upper)} upper ranges")
