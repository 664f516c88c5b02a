#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into OUT/<target>/.

    fuzz/make_corpus.py OUT [--demo-tool PATH] [--samples DIR]

The seeds are generated: small archives written with Python's zipfile (plain, ZIP64, with
folders, escapes and hostile names), command files and command lines in every form the reader
accepts, the demo package's XML parts with XPath expressions, and hives written by the
project's own demo-package tool (when --demo-tool names it). With --samples, the private
sample hives and manifests are added as seeds too (they stay in OUT, never in the repository).
The kept regression inputs under fuzz/regressions/<target>/ are copied in as well.
"""
import argparse
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
DEMO = ROOT / "demo"
sys.path.insert(0, str(ROOT / "tests" / "cli"))
import HostilePackages  # noqa: E402  the attacker's raw ZIP writer, shared with the hostile tests


def write(folder, name, data):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


def zip_bytes(entries, force_zip64=False, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as archive:
        for name, payload in entries:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 2, 3, 4, 6))
            info.compress_type = method
            with archive.open(info, "w", force_zip64=force_zip64) as f:
                f.write(payload)
    return buffer.getvalue()


def archive_seeds(out, demo_package):
    folder = out / "zip_fuzzer"
    parts = [(p.name, p.read_bytes()) for p in sorted(DEMO.glob("*.xml"))]
    write(folder, "parts-deflated", zip_bytes(parts))
    write(folder, "parts-stored", zip_bytes(parts, method=zipfile.ZIP_STORED))
    write(folder, "parts-zip64", zip_bytes(parts, force_zip64=True))
    write(folder, "folders-and-escapes", zip_bytes([
        ("Root/", b""),
        ("Root/VFS/ProgramFilesX86/App/a%20b.txt", b"hello " * 40),
        ("Root/VFS/ProgramFilesX86/App/%C3%A9t%C3%A9.dll", bytes(range(256)) * 4),
        ("Root\\Back\\slash.txt", b"back"),
        ("Scripts/empty.cmd", b""),
    ]))
    write(folder, "hostile-names", zip_bytes([
        ("ok.txt", b"fine"), ("../escape.txt", b"x"), ("/abs.txt", b"x"), ("C:/drive.txt", b"x"),
        ("a/%2E%2E/b.txt", b"x"),
    ]))
    write(folder, "case-twins", zip_bytes([("Root/A.txt", b"one"), ("Root/a.txt", b"two")]))
    write(folder, "compressible", zip_bytes([("zeros.bin", b"\0" * 300000)]))
    write(folder, "empty-archive", zip_bytes([]))
    if demo_package:
        write(folder, "demo.appv", demo_package)
    raw_seeds(folder)
    # The record-by-record reading of the inspection commands starts from the same archives.
    shutil.copytree(folder, out / "zip_directory_fuzzer", dirs_exist_ok=True)


def raw_archive(folder, name, build, overrun=0):
    """An archive written entry by entry by the raw writer, for what zipfile would refuse."""
    with tempfile.TemporaryDirectory() as scratch:
        path = pathlib.Path(scratch) / "seed.zip"
        archive = HostilePackages.RawZip(str(path))
        build(archive)
        archive.close(overrun=overrun)
        write(folder, name, path.read_bytes())


def raw_seeds(folder):
    def shared(archive):
        # Many central entries on one local header: a small file declaring far more content.
        archive.add_file("Root/zeros.bin", b"\0" * (1 << 20))
        archive.repeat_central(0, ["Root/zeros%02d.bin" % i for i in range(20)])

    raw_archive(folder, "shared-local-header", shared)
    raw_archive(folder, "into-central-directory", lambda a: a.add_file("Root/last.txt", b"last"), overrun=40)
    raw_archive(folder, "nul-name", lambda a: a.add_file("Root/a%00b.txt", b"x"))
    raw_archive(folder, "raw-nul-name", lambda a: a.add_file(b"Root/a\0b.txt", b"x"))
    raw_archive(folder, "control-name", lambda a: a.add_file("Root/line%0Abreak\x7f.txt", b"x"))
    raw_archive(folder, "non-utf8-name", lambda a: a.add_file(b"Root/bad\xff\xfe.txt", b"x", flags=0))

    def twins(archive):
        archive.add_file("Root/VFS/a.txt", b"one")
        archive.add_file("Root\\VFS\\a.txt", b"two")
        archive.add_file("Root/./VFS//b.txt", b"three")
        archive.add_file("Root/VFS/b.txt", b"four")

    raw_archive(folder, "separator-twins", twins)


def command_file_seeds(out):
    folder = out / "commandfile_fuzzer"
    lines = [
        ";qdc",
        "Add-File Root\\VFS\\ProgramFilesX86\\App\\a.txt /tmp/a.txt",
        "Del-File \"Root\\VFS\\Program Files\\b c.txt\"",
        "Set-NodeText AppxManifest.xml -xpath //appx:DisplayName -nodetext \"Say \"\"hi\"\"\"",
        "New-Element StreamMap.xml -xpath / -elementname Item -namespaceuri urn:x -text t -createifnotexist",
        "Set-RegistryValue REGISTRY\\MACHINE\\SOFTWARE\\X -valuename V -type dword -value -5",
        "Set-RegistryKey REGISTRY\\MACHINE\\SOFTWARE\\X -virtualizationlevel merge",
        "Update-PackageIdentity -packageid auto -versionid auto -version 1.2.3.4",
        "Add-File %QUENDLE_FUZZ% &QUENDLE_FUZZ& &UNSET& %UNSET%",
        "TransformManifest AppxManifest.xml t.xsl -p1 v1 --p2 v2",
        "Help",
        "Nonexistent-Command -x",
        "Del-File \"unterminated",
        "",
        "   \t  ",
    ]
    text = "\n".join(lines) + "\n"
    write(folder, "utf8-lf", text)
    write(folder, "utf8-crlf-nofail", text.replace("\n", "\r\n") + "\x01")
    write(folder, "utf16le", b"\xff\xfe" + text.encode("utf-16-le"))
    write(folder, "utf16be", b"\xfe\xff" + text.encode("utf-16-be"))
    write(folder, "ansi-cp1252", b";qdc\nAdd-File Root\\caf\xe9.txt /tmp/caf\xe9\n")
    write(folder, "marker-only", ";qdc")
    write(folder, "wrong-marker", ";xyz\nHelp\n")


def command_line_seeds(out):
    folder = out / "cmdline_fuzzer"
    lines = [
        ["/Help"],
        ["/Help", "Add-File"],
        ["/help", "set-registryvalue"],
        ["/Update", "p.appv", "Add-File", "Root\\a.txt", "/tmp/a", "/Del-File", "Root\\b.txt"],
        ["/Update", "p.appv", "/Set-NodeText", "AppxManifest.xml", "-xpath", "//x", "-nodetext", "t",
         "/Set-RegistryValue", "REGISTRY\\MACHINE\\X", "-valuename", "v", "-type", "binary", "-value", "0a0b"],
        ["/Update", "p.appv", "Update-PackageIdentity", "-packageid", "auto", "-version", "1.0.0.0"],
        ["/Update", "p.appv", "TransformManifest", "AppxManifest.xml", "t.xsl", "-a", "b"],
        ["/BatchFileUpdate", "p.appv", "cmd.txt", "-nofail"],
        ["/Updat", "p.appv"],
        ["/Update"],
        ["Update", "x"],
        ["/Update", "p.appv", "/Update", "q.appv", "/Help"],
        [],
    ]
    for i, argv in enumerate(lines):
        write(folder, "argv-%02d" % i, b"\0".join(a.encode("utf-8") for a in argv))


XPATHS = {
    "AppxManifest.xml": ["//appx:Properties/appx:DisplayName", "/appx:Package/appx:Identity",
                         "//appv:*[@Name]", "count(//*)"],
    "FilesystemMetadata.xml": ["//appv:Entry[@Long]", "/appv:Metadata/appv:Filesystem"],
    "PackageHistory.xml": ["//appv:PackageHistoryItem[1]", "//@Time"],
    "StreamMap.xml": ["/*", "//appv:*"],
    "[Content_Types].xml": ["//appv:Default[@Extension='xml']", "/appv:Types/node()"],
}


def xml_seeds(out, samples):
    folder = out / "xml_fuzzer"
    order = ["[Content_Types].xml", "AppxManifest.xml", "FilesystemMetadata.xml", "PackageHistory.xml",
             "StreamMap.xml"]
    for index, part in enumerate(order):
        document = (DEMO / part).read_bytes()
        for n, xpath in enumerate(XPATHS[part]):
            for write_back in (0, 0x80):
                selector = bytes([index | write_back])
                write(folder, "%s-%d-%x" % (part.strip("[]"), n, write_back),
                      selector + xpath.encode() + b"\n" + document)
    hostile = {
        "external-entity": b'<!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/passwd">]><r>&x;</r>',
        "laughs": b'<!DOCTYPE r [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
                  b'<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]><r>&c;</r>',
        "utf16": "\ufeff<?xml version='1.0' encoding='UTF-16'?><r a='1'>t\u00e9</r>".encode("utf-16-le"),
        "namespaces": b'<a:r xmlns:a="urn:a" xmlns="urn:d"><a:x/><y xmlns=""/></a:r>',
        "many-attributes": b"<r" + b"".join(b' a%d="%d"' % (i, i) for i in range(1001)) + b"/>",
        "entity-expansion": b'<!DOCTYPE r [<!ENTITY e "' + b"x" * 4096 + b'">]><r>' + b"&e;" * 300 + b"</r>",
        "entity-small": b'<!DOCTYPE r [<!ENTITY e "small">]><r a="&e;">&e; text</r>',
    }
    for name, document in hostile.items():
        write(folder, name, b"\x01//*\n" + document)
    # The namespace upgrade copies every attribute of the manifest's root: as many as allowed.
    manifest = (DEMO / "AppxManifest.xml").read_bytes()
    write(folder, "manifest-many-attributes",
          b"\x81//appx:Properties/appx:DisplayName\n" +
          HostilePackages.with_attributes(manifest, b"Package ", 990))
    if samples:
        for n, path in enumerate(sorted(samples.rglob("*.xml"))):
            data = path.read_bytes()
            if len(data) < 200000:
                part = 1 if "manifest" in path.name.lower() else 2
                write(folder, "sample-%02d" % n, bytes([part | 0x80]) + b"//*[1]\n" + data)


RICH_REGISTRY = """key REGISTRY\\MACHINE\\SOFTWARE\\Fuzz\\Empty
value REGISTRY\\MACHINE\\SOFTWARE\\Fuzz | Small | dword | 7
value REGISTRY\\MACHINE\\SOFTWARE\\Fuzz | Text | sz | %s
value REGISTRY\\MACHINE\\SOFTWARE\\Fuzz | Blob | binary | %s
value REGISTRY\\MACHINE\\SOFTWARE\\Fuzz | Path | expandsz | %%ProgramFiles%%\\X
""" % ("long text " * 200, "0a1b2c3d" * 64)


def build_demo(tool, source, target):
    result = subprocess.run([tool, str(source), str(target)], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("demo tool failed: " + result.stderr.decode(errors="replace"))
    return target.read_bytes()


def hive_seeds(out, tool, samples):
    folder_names = ["hive_fuzzer", "hive_edit_fuzzer"]
    hives = {}
    demo_package = None
    if tool:
        with tempfile.TemporaryDirectory() as scratch:
            scratch = pathlib.Path(scratch)
            demo_package = build_demo(tool, DEMO, scratch / "demo.appv")
            with zipfile.ZipFile(io.BytesIO(demo_package)) as archive:
                hives["demo"] = archive.read("Registry.dat")
            rich = scratch / "rich"
            shutil.copytree(DEMO, rich)
            with open(rich / "Registry.txt", "a") as f:
                f.write(RICH_REGISTRY)
                for i in range(40):
                    f.write("key REGISTRY\\MACHINE\\SOFTWARE\\Fuzz\\Many\\K%02d\n" % i)
            with zipfile.ZipFile(io.BytesIO(build_demo(tool, rich, scratch / "rich.appv"))) as archive:
                hives["rich"] = archive.read("Registry.dat")
    if samples:
        for path in sorted(samples.rglob("*.dat")):
            if path.stat().st_size < 4 << 20:
                hives["sample-" + path.stem] = path.read_bytes()
    if "demo" in hives:
        # Free bins after the hive's own: scanned, never kept.
        hives["free-bins"] = b"".join(HostilePackages.hive_with_free_space(hives["demo"], [4096] * 64))
    for name in folder_names:
        for hive_name, data in hives.items():
            write(out / name, hive_name, data)
    return demo_package


def regfile_seeds(out):
    folder = out / "regfile_fuzzer"
    body = ('[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\r\n"Name"="a \\"quoted\\" C:\\\\path"\r\n'
            '@=dword:0000ffff\r\n"Bin"=hex:01,02,\\\r\n  03\r\n"Q"=hex(b):01,00,00,00,00,00,00,00\r\n'
            '"Gone"=-\r\n[-HKCU\\Software\\Old]\r\n')
    write(folder, "version5-utf16.reg", ("Windows Registry Editor Version 5.00\r\n\r\n" + body).encode("utf-16"))
    write(folder, "regedit4.reg", ("REGEDIT4\r\n\r\n" + body + '"E"=hex(2):41,e9,00\r\n').encode("latin-1"))


def regressions(out):
    base = HERE / "regressions"
    if not base.is_dir():
        return
    for target in base.iterdir():
        for item in target.iterdir():
            write(out / target.name, "regression-" + item.name, item.read_bytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("--demo-tool")
    parser.add_argument("--samples", type=pathlib.Path)
    args = parser.parse_args()
    samples = args.samples if args.samples and args.samples.is_dir() else None
    demo_package = hive_seeds(args.out, args.demo_tool, samples)
    archive_seeds(args.out, demo_package)
    command_file_seeds(args.out)
    command_line_seeds(args.out)
    xml_seeds(args.out, samples)
    regfile_seeds(args.out)
    regressions(args.out)
    for target in sorted(p for p in args.out.iterdir() if p.is_dir()):
        print("%-20s %d seeds" % (target.name, len(list(target.iterdir()))))


if __name__ == "__main__":
    main()
