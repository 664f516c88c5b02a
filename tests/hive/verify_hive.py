#!/usr/bin/python3
"""Reads hives written by Quendle's hive engine back with hivex, libregf and reglookup.

Each sample hive opened and saved must read back as it was; the largest sample and new hives in
formats 1.3 and 1.5 get registry edits through the edit helper, and each reader must show exactly
what an independent model of the edits predicts (docs/registry.md, "Verification").
Run with Debian's /usr/bin/python3: python3-hivex and python3-libregf load only there.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77

try:
    import hivex
    import pyregf
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(SKIP)

PATH = "REGISTRY\\MACHINE\\Software"
failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message)


# ---- the readers -------------------------------------------------------------------------

def dump_hivex(path):
    """{key path tuple: [(value name, type, data), ...]} and the root's name."""
    h = hivex.Hivex(path)
    keys = {}

    def walk(node, at):
        keys[at] = [(h.value_key(v), t & 0xFFFFFFFF, bytes(d))
                    for v in h.node_values(node) for t, d in [h.value_value(v)]]
        for child in h.node_children(node):
            walk(child, at + (h.node_name(child),))

    walk(h.root(), ())
    return h.node_name(h.root()), keys


def dump_libregf(path):
    f = pyregf.file()
    f.open(path)
    keys = {}
    flags = {}

    def walk(key, at):
        # This libregf build flags keys of hives written by Windows as corrupt too, so the flag is
        # compared with the original's rather than required to be clear.
        flags[at] = key.is_corrupted()
        keys[at] = [(v.name or "", v.type & 0xFFFFFFFF, bytes(v.data or b""))
                    for v in map(key.get_value, range(key.number_of_values))]
        for i in range(key.number_of_sub_keys):
            sub = key.get_sub_key(i)
            walk(sub, at + (sub.name,))

    root = f.get_root_key()
    walk(root, ())
    f.close()
    dump_libregf.flags = flags
    return root.name, keys


def reglookup_lines(path):
    # Through files: the tool writes in small pieces, which a pipe makes slow.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(["reglookup", "-H", path], stdout=out, stderr=err).returncode
        out.seek(0)
        err.seek(0)
        out, err = out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")
    # reglookup warns about every name outside US-ASCII, and about data of types with App-V
    # bits (check_reglookup counts those against the model); that is all it may say.
    complaints = [l for l in err.splitlines()
                  if l.strip() and "to encoding US-ASCII" not in l and "Data could not be interpreted" not in l]
    if code != 0 or complaints:
        fail(f"reglookup {path}: exit {code}: {' '.join(complaints)[:300]}")
    reglookup_lines.uninterpreted = err.count("Data could not be interpreted")
    return out.splitlines()


# ---- an independent model of the registry edits -------------------------------------------

class Model:
    def __init__(self, keys):
        self.keys = {k: list(v) for k, v in keys.items()}
        self.index = {tuple(p.upper() for p in k): k for k in self.keys}  # names compare ignoring case
        self.touched = set()  # keys whose own line may change (values, subkeys, time)
        self.removed = []

    def find(self, path, create=False):
        at, upper = (), ()
        for part in [p for p in path.split("\\") if p]:
            upper += (part.upper(),)
            match = self.index.get(upper)
            if match is None:
                if not create:
                    return None
                self.touched.update((at, at + (part,)))
                match = self.index[upper] = at + (part,)
                self.keys[match] = []
            at = match
        return at

    def below(self, key):
        return [k for k in self.keys if len(k) > len(key) and k[: len(key)] == key]

    def get(self, key, name):
        return next((v for v in self.keys[key] if v[0].upper() == name.upper()), None)

    def set(self, key, name, type_, data):
        self.touched.add(key)
        values = self.keys[key]
        for i, v in enumerate(values):
            if v[0].upper() == name.upper():
                values[i] = (v[0], type_, data)
                return
        values.append((name, type_, data))

    def delete_value(self, key, name):
        self.touched.add(key)
        self.keys[key] = [v for v in self.keys[key] if v[0].upper() != name.upper()]

    def delete_tree(self, key):
        self.touched.add(key[:-1])
        for k in self.below(key) + [key]:
            del self.keys[k]
            del self.index[tuple(p.upper() for p in k)]


def value_type(text):
    return {"sz": 1, "expandsz": 2, "dword": 4, "multisz": 7, "binary": 3}.get(text, 0)


def text_data(vtype, text):
    if vtype in (1, 2):
        return text.encode("utf-16le") + b"\0\0"
    if vtype == 3:
        return bytes.fromhex(text)
    if vtype == 7:
        return b"".join(p.encode("utf-16le") + b"\0\0" for p in text.split("\r\n") if p) + b"\0\0"
    sign, digits = re.match(r"[ \t]*([+-]?)([0-9]*)", text).groups()
    n = int(digits or 0) * (-1 if sign == "-" else 1)
    return struct.pack("<i", max(-2**31, min(2**31 - 1, n)))


def apply(model, op):
    kind, args = op[0], op[1:]
    if kind == "SetRegistryKey":
        key = model.find(args[0], True)
        old = model.get(key, "")
        t, d = (old[1], old[2]) if old else (0, b"")
        if args[1] == "overwrite":
            model.set(key, "", (t & ~0x10000) | 0x40000, d)
        elif args[1] == "deleted":
            model.set(key, "", 0x10000, b"\0" * 4)
        elif args[1] == "merge" and old:
            t &= ~0x50000
            if t == 0 and not d:
                model.delete_value(key, "")
            else:
                model.set(key, "", t, d)
    elif kind == "SetRegistryValue":
        key = model.find(args[0], True)
        old = model.get(key, args[1])
        flags = (old[1] & ~0xFFFF & ~0x20000) if old else 0
        if args[4] == "true":
            flags |= 0x400000
        vt = value_type(args[2])
        model.set(key, args[1], vt | flags, text_data(vt, args[3]))
    elif kind == "SetVirtualizeRegValueDeleted":
        model.set(model.find(args[0], True), args[1], 0x20000, b"\0" * 4)
    elif kind == "DeleteRegistryValue":
        key = model.find(args[0])
        assert key is not None and model.get(key, args[1]), op
        model.delete_value(key, args[1])
    elif kind in ("DeleteRegistryKey", "DeleteRegistryKeyTree"):
        key = model.find(args[0])
        assert key is not None and (kind.endswith("Tree") or not model.below(key)), op
        model.delete_tree(key)
    elif kind == "SetRawValue":
        model.set(model.find(args[0], True), args[1], int(args[2]), bytes.fromhex(args[3]))
    elif kind == "CreateKeys":
        for i in range(int(args[2])):
            model.find(args[0] + "\\" + args[1] + str(i), True)
    else:
        raise ValueError(kind)


def run_helper(helper, source, target, ops, workdir):
    # Each field ends at 0x1F and each operation at 0x1E: no edit text holds either.
    edits = os.path.join(workdir, "edits.txt")
    with open(edits, "w", encoding="utf-8", newline="") as f:
        f.write("".join("".join(field + "\x1f" for field in op) + "\x1e" for op in ops))
    r = subprocess.run([helper, source, target, edits], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        fail(f"helper failed on {source}: {r.stderr.decode(errors='replace')}")
    return r.returncode == 0


# ---- comparisons ----------------------------------------------------------------------------

def compare_dumps(reader, expected_root, expected, got):
    root, keys = got
    if root != expected_root:
        fail(f"{reader}: root key {root!r}, expected {expected_root!r}")
    missing = set(expected) - set(keys)
    extra = set(keys) - set(expected)
    if missing or extra:
        fail(f"{reader}: keys missing {sorted(missing)[:5]} ({len(missing)}), unexpected {sorted(extra)[:5]} ({len(extra)})")
    wrong = [k for k in expected if k in keys and keys[k] != expected[k]]
    for k in wrong[:5]:
        exp = [(n, hex(t), len(d)) for n, t, d in expected[k]]
        act = [(n, hex(t), len(d)) for n, t, d in keys[k]]
        fail(f"{reader}: values of {k}: expected {exp}, read {act}")


def reglookup_key(line):
    path, kind = line.split(",", 2)[:2]
    return path if kind == "KEY" else path.rsplit("/", 1)[0] or "/"


def render(key):
    """A key path as reglookup prints it, for the ASCII names the checks need."""
    plain = lambda c: 0x20 <= ord(c) < 0x7F and c not in ',"\\/%'
    return "/" + "/".join("".join(c if plain(c) else "".join(f"%{b:02X}" for b in c.encode()) for c in part)
                          for part in key)


def check_reglookup(original_lines, path, model):
    lines = reglookup_lines(path)
    keys = sum(1 for l in lines if l.split(",", 2)[1] == "KEY")
    counts, expected = (keys, len(lines) - keys), (len(model.keys), sum(map(len, model.keys.values())))
    if counts != expected:
        fail(f"reglookup {path}: (keys, values) {counts}, expected {expected}")
    marked = sum(1 for values in model.keys.values() for _, t, _ in values if t > 0xFFFF)
    if reglookup_lines.uninterpreted > marked:
        fail(f"reglookup {path}: {reglookup_lines.uninterpreted} values it cannot interpret, only {marked} "
             "carry App-V type bits")
    changed = {render(k) for k in model.touched}
    deleted = [render(k) for k in model.removed]
    got = set(lines)
    for line in original_lines:
        key = reglookup_key(line)
        if not (key in changed or any(key == d or key.startswith(d + "/") for d in deleted) or line in got):
            fail(f"reglookup {path}: unchanged line lost or altered: {line[:200]}")
            break


def verify(path, root_name, model, original_lines, ops, libregf_original=None):
    compare_dumps("hivex", root_name, model.keys, dump_hivex(path))
    # Each reader is held to its own reading of the original: this libregf build reads inline
    # data shorter than four bytes differently from hivex, in Windows-written hives too.
    libregf_model = model
    if libregf_original is not None:
        libregf_model = Model(libregf_original)
        for op in ops:
            apply(libregf_model, op)
    compare_dumps("libregf", root_name, libregf_model.keys, dump_libregf(path))
    check_reglookup(original_lines, path, model)


# ---- scenarios ------------------------------------------------------------------------------

def open_and_save(helper, sample, workdir):
    name = os.path.basename(sample)
    out = os.path.join(workdir, "saved-" + name)
    if not run_helper(helper, sample, out, [], workdir):
        return
    libregf = lambda p: (dump_libregf(p), dump_libregf.flags)
    for reader, read in (("hivex", dump_hivex), ("libregf (with corrupt flags)", libregf),
                         ("reglookup (with times)", reglookup_lines)):
        if read(sample) != read(out):
            fail(f"{reader}: {name} reads differently after open and save")


def first_value(keys, vtype, exclude):
    return next((k, name) for k in sorted(keys) if not any(k[: len(e)] == e for e in exclude)
                for name, t, _ in keys[k] if t == vtype and name)


def edit_scenario(helper, sample, workdir):
    root_name, keys = dump_hivex(sample)
    kids = {}
    for k in sorted(keys):
        kids.setdefault(k[:-1], []).append(k)
    sub = lambda k: kids.get(k, [])
    machine = ("REGISTRY", "MACHINE", "Software")
    interface = machine + ("Classes", "Interface")
    components = machine + ("Microsoft", "Windows", "CurrentVersion", "Installer", "UserData", "S-1-5-18", "Components")
    as_path = lambda k: "\\".join(k)
    # Interface and Components use "li" lists in this hive.
    emptied = next(k for k in sub(interface) if sub(k) and not any(sub(j) for j in sub(k)))
    tree = next(k for k in sub(interface) if k != emptied and sub(k))
    component = next(k for k in sub(components) if not sub(k))
    protected = [interface, components]
    sz_key, sz_name = first_value(keys, 1, protected)
    dw_key, dw_name = first_value(keys, 4, protected + [sz_key])
    bin_key, bin_name = first_value(keys, 3, protected + [sz_key, dw_key])
    default_key = next(k for k in sorted(keys) if any(n == "" and t == 1 for n, t, _ in keys[k])
                       and k not in (sz_key, dw_key, bin_key) and not any(k[: len(p)] == p for p in protected))
    big = bytes((i * 131 + i // 977) & 0xFF for i in range(1 << 20)).hex().upper()
    test = PATH + "\\Quendle Test"
    unicode_key = PATH + "\\Ünïcødé Ключ\\日本語"
    ops = [
        *[("DeleteRegistryKey", as_path(g)) for g in sub(emptied)],
        ("DeleteRegistryKey", as_path(emptied)),
        ("DeleteRegistryKeyTree", as_path(tree)),
        ("DeleteRegistryKey", as_path(component)),
        ("SetRegistryValue", as_path(sz_key), sz_name, "sz", "[{AppVPackageRoot}]\\x.dll", "true"),
        ("SetVirtualizeRegValueDeleted", as_path(dw_key), dw_name),
        ("DeleteRegistryValue", as_path(bin_key), bin_name),
        ("SetRegistryKey", as_path(default_key), "overwrite"),
        ("SetRegistryKey", as_path(machine + ("Classes",)), "deleted"),
        ("SetRegistryKey", test, "merge"),
        ("SetRegistryValue", test, "Big", "binary", big, "false"),
        ("SetRegistryValue", test, "Saturated", "dword", "4294967295", "false"),
        ("SetRegistryValue", test, "Negative", "DWORD", "-5", "false"),
        ("SetRegistryValue", test, "List", "multisz", "a\r\n\r\nb", "false"),
        ("SetRegistryValue", test, "Path", "expandsz", "[{ProgramFilesX86}]\\A", "true"),
        ("SetRegistryValue", unicode_key, "Wert Größe", "sz", "Grüße 世界", "false"),
        ("SetRegistryValue", unicode_key, "", "sz", "Vorgabe", "false"),
        ("SetRegistryKey", unicode_key, "overwrite"),
        ("SetRegistryKey", "REGISTRY\\USER\\Quendle", "overwrite"),
        ("CreateKeys", test + "\\Many", "k", "1200"),
        ("DeleteRegistryKey", test + "\\Many\\k7"),
    ]
    model = Model(keys)
    model.removed = [emptied, tree, component]
    for op in ops:
        apply(model, op)
    out = os.path.join(workdir, "edited.dat")
    original_lines = reglookup_lines(sample)
    if run_helper(helper, sample, out, ops, workdir):
        verify(out, root_name, model, original_lines, ops, dump_libregf(sample)[1])
        # Saving the edited hive again changes nothing in its content.
        again = os.path.join(workdir, "edited-again.dat")
        if run_helper(helper, out, again, [], workdir):
            compare_dumps("hivex (second save)", root_name, model.keys, dump_hivex(again))


# Steps of one key's values through the levels and markers; key n of "Levels" takes the first n + 1
# of them, so that every state on the way is read back.
LEVEL_STEPS = [("SetRegistryKey", "overwrite"), ("SetRegistryKey", "merge"), ("SetRegistryKey", "none"),
               ("SetRegistryValue", "", "sz", "x", "false"), ("SetRegistryKey", "overwrite"),
               ("SetRegistryValue", "", "multisz", "a", "false"), ("SetRegistryKey", "merge"),
               ("SetRegistryKey", "deleted"), ("SetRegistryKey", "overwrite"), ("SetRegistryKey", "deleted"),
               ("SetRegistryKey", "merge"), ("SetRegistryValue", "p", "expandsz", "[{Windows}]", "true"),
               ("SetRegistryValue", "p", "sz", "plain", "false"), ("SetVirtualizeRegValueDeleted", "p"),
               ("SetRegistryValue", "p", "dword", "1", "false")]
# Every type bit, empty data, and sizes up to the largest value one cell holds (16,344) and beyond,
# with last segments of 1 and 9 bytes (these readers stop four bytes before a segment's cell ends).
RAW_VALUES = [(0x40001, b"d\0\0\0"), (0x10000, b"\0" * 4), (0x20000, b"\0" * 4), (0x40000, b""),
              (0x400001, "C:".encode("utf-16le") + b"\0\0"), (0xFFFFFFFF, b"\7\0\0\0"), (3, b"\x09" * 5),
              (3, b"\1" * 16344), (3, b"\5" * 16345), (3, b"\6" * 16353), (3, b"\3" * 40000),
              (3, bytes(i % 251 for i in range(1 << 20)))]


def new_hive_scenario(helper, minor, workdir):
    app = "REGISTRY\\MACHINE\\Software\\Vendor\\App"
    ops = [
        ("SetRegistryValue", app, "Big", "binary", bytes(range(256)).hex() * 300, "false"),
        ("SetRegistryValue", app, "Version", "sz", "1.0", "false"),
        # The value texts, here too, for a run without the samples.
        ("SetRegistryValue", app, "Text", "sz", "Grüße 世界 €", "false"),
        ("SetRegistryValue", app, "Saturated", "dword", "4294967295", "false"),
        ("SetRegistryValue", app, "Negative", "DWORD", "-5", "false"),
        ("SetRegistryValue", app, "List", "multisz", "a\r\n\r\nb", "false"),
        ("SetRegistryValue", "REGISTRY\\MACHINE\\Software\\Vendor\\Ключ", "Größe", "dword", "7", "true"),
        ("SetVirtualizeRegValueDeleted", "REGISTRY\\USER\\New\\Key", "v"),
        ("CreateKeys", "REGISTRY\\USER\\Many", "Key", "777"),
        *[(kind, f"{PATH}\\Levels\\{n}", *rest) for n in range(len(LEVEL_STEPS))
          for kind, *rest in LEVEL_STEPS[: n + 1]],
        *[("SetRawValue", PATH + "\\Types", f"v{i}" if i else "", str(t), d.hex()) for i, (t, d) in enumerate(RAW_VALUES)],
    ]
    model = Model({(): []})
    for op in ops:
        apply(model, op)
    out = os.path.join(workdir, f"new-1.{minor}.dat")
    if run_helper(helper, f"new:{minor}:{{root-{minor}}}", out, ops, workdir):
        verify(out, f"{{root-{minor}}}", model, [], ops)
        with open(out, "rb") as f:
            data = f.read()
        if struct.unpack_from("<II", data, 20) != (1, minor):
            fail(f"new 1.{minor} hive is version {struct.unpack_from('<II', data, 20)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--helper", required=True)
    parser.add_argument("--samples", required=True)
    args = parser.parse_args()
    if not shutil.which("reglookup"):
        print("skipped: reglookup missing")
        return SKIP
    with tempfile.TemporaryDirectory(prefix="quendle-hive-verify-") as workdir:
        for minor in (3, 5):
            new_hive_scenario(args.helper, minor, workdir)
        if os.path.isdir(args.samples):
            samples = sorted(os.path.join(args.samples, n) for n in os.listdir(args.samples) if n.endswith(".dat"))
            for sample in samples:
                open_and_save(args.helper, sample, workdir)
            edit_scenario(args.helper, max(samples, key=os.path.getsize), workdir)
        else:
            print("samples absent: only new hives checked")
    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print("all hives read back as expected by hivex, libregf and reglookup")
    return 0


if __name__ == "__main__":
    sys.exit(main())
