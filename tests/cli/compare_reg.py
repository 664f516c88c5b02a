#!/usr/bin/python3
"""Compares a .reg file written by Quendle with `hivexregedit --export HIVE '\\'` of the same hive.

Usage: compare_reg.py OURS THEIRS      exit 0 when every key, value name, type and data agree

Both files are read into {key: {value name: (type, data bytes)}}: "text" is REG_SZ with its NUL,
dword: is type 4, hex: type 3, hex(N): type N. Ours must write only types regedit imports (N up to
0xFFFF): the App-V flags above them are its "; App-V:" comments, which are read back into the
type here, so that a lost or wrong flag still shows. hivex names the package's keys \\REGISTRY\\MACHINE
and \\REGISTRY\\USER; they are mapped onto the HKEY_ roots that the .reg file uses. Keys that
only give the hive its structure (the root, REGISTRY) are compared only when they hold values.
"""
import re
import sys


def read_text(path):
    data = open(path, "rb").read()
    return data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode("utf-8")


def unquote(text):
    """A quoted .reg string at the start of text -> (string, rest)."""
    assert text[0] == '"', text
    out, i = [], 1
    while text[i] != '"':
        if text[i] == "\\":
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out), text[i + 1:]


def key_name(name):
    name = name.lstrip("\\")
    for prefix, root in ((r"REGISTRY\USER\[{AppVCurrentUserSID}]", "HKEY_CURRENT_USER"),
                         (r"REGISTRY\MACHINE", "HKEY_LOCAL_MACHINE"), (r"REGISTRY\USER", "HKEY_USERS")):
        if name.upper() == prefix.upper() or name.upper().startswith(prefix.upper() + "\\"):
            return root + name[len(prefix):]
    return name


COMMENTS = [(re.compile(r'; App-V: this key is virtualized as deleted$'), 0x10000),
            (re.compile(r'; App-V: virtualization level overwrite'), 0x40000),
            (re.compile(r'; App-V: value "(.*)" is virtualized as deleted$'), 0x20000),
            (re.compile(r'; App-V: value "(.*)" holds App-V path variables$'), 0x400000),
            (re.compile(r'; App-V: value "(.*)" is stored as type 0x([0-9a-f]+)$'), None)]


def parse(path, ours=False):
    lines = read_text(path).replace("\r\n", "\n").split("\n")
    keys, current, i, flags, stored = {}, None, 0, {}, {}
    while i < len(lines):
        line = lines[i]
        while line.endswith("\\") and i + 1 < len(lines):
            i += 1
            line = line[:-1] + lines[i].strip()
        i += 1
        for pattern, flag in COMMENTS:
            m = pattern.match(line)
            if m:
                name = m.group(1) if m.groups() else "@"
                name = "" if name == "@" else name
                if flag is None:
                    stored[name] = int(m.group(2), 16)
                else:
                    flags[name] = flags.get(name, 0) | flag
        if not line or line.startswith(";") or line.startswith("Windows Registry Editor"):
            continue
        if line.startswith("["):
            current = keys.setdefault(key_name(line[1:-1]), {})
            flags, stored = {}, {}
            continue
        name, rest = ("", line[2:]) if line.startswith("@=") else unquote(line)
        rest = rest.lstrip("=")
        if rest.startswith('"'):
            value = (1, unquote(rest)[0].encode("utf-16-le") + b"\0\0")
        elif rest.startswith("dword:"):
            value = (4, int(rest[6:], 16).to_bytes(4, "little"))
        else:
            m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", rest)
            assert m, line
            data = bytes(int(b, 16) for b in m.group(2).split(",") if b)
            value = (int(m.group(1), 16) if m.group(1) else 3, data)
            assert not ours or value[0] <= 0xFFFF, "regedit cannot import: " + line
        kind = stored.pop(name, value[0] | flags.pop(name, 0))
        current[name] = (kind, value[1])
    return keys


def main():
    ours, theirs = parse(sys.argv[1], ours=True), parse(sys.argv[2])
    theirs = {k: v for k, v in theirs.items() if v or k.upper().startswith("HKEY_")}
    errors = []
    for k in sorted(set(ours) | set(theirs)):
        if k not in ours or k not in theirs:
            errors.append(f"key {k} only in {'ours' if k in ours else 'hivex'}")
        elif ours[k] != theirs[k]:
            errors.append(f"values of {k} differ: {ours[k]} != {theirs[k]}")
    print("\n".join(errors[:20]))
    print(f"{len(ours)} keys, {sum(len(v) for v in ours.values())} values compared")
    sys.exit(1 if errors else 0)


if __name__ == "__main__":
    main()
