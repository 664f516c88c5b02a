#!/usr/bin/python3
"""Independent check of a package's FilesystemMetadata.xml and [Content_Types].xml.

Usage: verify_metadata.py PACKAGE      exit 0 when everything agrees, 1 otherwise (reasons on stdout)

Checks, with nothing but Python's zipfile and ElementTree:
- every file below Root/ has its chain of Entry elements (Long names, exact);
- no Entry stands for nothing: each one is a file of the package or a folder holding one;
- each Short is a valid 8.3 name, short names are unique among siblings, and each is the one
  the 8.3 rules give an entry appended after its earlier siblings ("~1", "~2", ... per folder;
  a long name that is already a valid 8.3 name may keep a short name it came with);
- every file has its content type (Default by lower-case extension, else an Override by part
  name), and no Default or Override is left without a file (xml and dat belong to the parts).
"""
import re
import sys
import urllib.parse
import xml.etree.ElementTree as ET
import zipfile

FSM = "{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}"
CT = "{http://schemas.openxmlformats.org/package/2006/content-types}"
DROPPED = ". "
REPLACED = "+,;=[]"
SHORT_NAME = re.compile(r"^[^ .]{1,8}(\.[^ .]{1,3})?$")


def split_name(name):
    dot = name.rfind(".")
    return (name, "") if dot < 0 else (name[:dot], name[dot + 1:])


def clean(text):
    return not any(c in DROPPED or c in REPLACED for c in text)


def part(text, maximum):
    return "".join("_" if c in REPLACED else c.upper() for c in text if c not in DROPPED)[:maximum]


def expected_short(long_name, taken, first_free):
    """first_free: first candidate -> a number below which every candidate is taken (a cache
    that only skips numbers already found taken; the answer is that of counting from 1)."""
    stem, ext = split_name(long_name)
    if len(stem) <= 8 and len(ext) <= 3 and clean(stem) and clean(ext):
        return None
    key = (part(stem, 6), part(ext, 3))
    n = first_free.get(key, 1)
    while True:
        suffix = "~%d" % n
        candidate = suffix if len(suffix) >= 8 else \
            part(stem, 8 - len(suffix)) + suffix + ("." + part(ext, 3) if part(ext, 3) else "")
        if candidate not in taken:
            first_free[key] = n
            return candidate
        n += 1


def main(path):
    problems = []
    z = zipfile.ZipFile(path)
    names = [urllib.parse.unquote(n) for n in z.namelist()]
    files = [n.split("/") for n in names if n.startswith("Root/")]
    parts = set("/" + n for n in z.namelist())

    root = ET.fromstring(z.read("FilesystemMetadata.xml"))
    filesystem = root.find(FSM + "Filesystem")
    children = {}  # element -> its first child entry of each long name

    def child(node, long_name):
        if node not in children:
            children[node] = {e.get("Long"): e for e in reversed(node.findall(FSM + "Entry"))}
        return children[node].get(long_name)

    prefixes = set()
    for components in files:
        for i in range(1, len(components) + 1):
            prefixes.add(tuple(components[:i]))
        node = filesystem
        for component in components:
            node = child(node, component)
            if node is None:
                problems.append("no entry chain for " + "/".join(components))
                break

    def walk(node, chain):
        taken, first_free, seen_short = set(), {}, set()
        for entry in node.findall(FSM + "Entry"):
            long_name = entry.get("Long") or ""
            here = chain + (long_name,)
            where = "\\".join(here)
            if not long_name:
                problems.append("entry without a long name below " + "\\".join(chain))
            if here not in prefixes:
                problems.append("orphan entry " + where)
            short = entry.get("Short")
            if short is not None:
                if not SHORT_NAME.match(short) or not clean(short.replace(".", "", 1)):
                    problems.append("invalid short name %s of %s" % (short, where))
                if short.upper() in seen_short:
                    problems.append("duplicate short name %s in %s" % (short, "\\".join(chain)))
                seen_short.add(short.upper())
            want = expected_short(long_name, taken, first_free)
            # A valid 8.3 long name may still carry a short name that an earlier tool gave it.
            if want != short and want is not None:
                problems.append("short name of %s is %s, the rules give %s" % (where, short, want))
            if short is not None:
                taken.add(short)
            walk(entry, here)

    walk(filesystem, ())

    types = ET.fromstring(z.read("[Content_Types].xml"))
    defaults = {d.get("Extension") for d in types.findall(CT + "Default")}
    overrides = {o.get("PartName") for o in types.findall(CT + "Override")}
    used = {"xml", "dat"}
    for name, raw in zip(names, z.namelist()):
        if not (name.startswith("Root/") or name.startswith("Scripts/")):
            continue
        last = name.rsplit("/", 1)[-1]
        ext = last.rsplit(".", 1)[1].lower() if "." in last else ""
        if ext:
            used.add(ext)
            if ext not in defaults:
                problems.append("no content type for " + name)
        elif "/" + raw not in overrides:
            problems.append("no override for " + name)
    problems += ["content type for unused extension " + e for e in sorted(defaults - used)]
    problems += ["override for a missing part " + n for n in sorted(overrides - parts)]

    for p in problems[:50]:
        print(p)
    if len(problems) > 50:
        print("... and %d more" % (len(problems) - 50))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
