// /Diff: a package against copies of it edited by one command of each kind reports exactly that
// edit. Python's zipfile and ElementTree judge, from the two files alone, which sections may hold
// something (an entry's CRC, an XML part's tree, the hive's bytes) and its json module reads the
// document.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

// Sections of the JSON that must hold something exactly when the two packages differ there.
const char* Oracle = R"py(import json, sys, zipfile
import xml.etree.ElementTree as ET
d = json.load(open(sys.argv[1], encoding='utf-8'))
a, b = zipfile.ZipFile(sys.argv[2]), zipfile.ZipFile(sys.argv[3])
parts = ['[Content_Types].xml', 'AppxBlockMap.xml', 'AppxManifest.xml', 'FilesystemMetadata.xml',
         'PackageHistory.xml', 'StreamMap.xml', 'Registry.dat']
crc = lambda z: {i.filename: i.CRC for i in z.infolist() if i.filename not in parts}
ca, cb = crc(a), crc(b)
files = sorted(n.replace('%20', ' ').replace('/', '\\') for n in set(ca) | set(cb) if ca.get(n) != cb.get(n))
got = sorted(f['path'] for f in d['files'] + d['scripts'])
assert got == files, (got, files)
def tree(z, part):
    e = ET.fromstring(z.read(part))
    for x in e.iter():
        x.text = (x.text or '').strip()
        x.tail = None
    return ET.tostring(e)
for part, keys in (('AppxManifest.xml', ['identity', 'manifest']), ('StreamMap.xml', ['streamMap']),
                   ('FilesystemMetadata.xml', ['shortNames', 'filesystemMetadata']),
                   ('[Content_Types].xml', ['contentTypes']), ('PackageHistory.xml', ['history'])):
    assert (tree(a, part) != tree(b, part)) == any(d[k] for k in keys), (part, keys)
assert (a.read('Registry.dat') != b.read('Registry.dat')) == bool(d['registry'])
assert d['identical'] == (d['differences'] == 0)
assert d['differences'] == sum(len(v) for v in d.values() if isinstance(v, list))
print(d['differences'])
)py";

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes\)";
const std::string Key = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes)";

struct Case {
    std::string edit;     // one sub-command, "+" for a space inside a word
    std::string expected; // the report without its last line
};

TEST_F(DemoPackageTest, DiffReportsExactlyTheOneEditOfEachCommand) {
    runOptions.workingDir = dir.path();
    writeFile(dir / "new.txt", "hello\n");
    writeFile(dir / "setup.cmd", "@echo off\r\n");
    fs::create_directories(dir / "src/sub");
    writeFile(dir / "src/sub/two.txt", "two\n");
    writeFile(dir / "r.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                             "Imported]\r\n\"N\"=dword:00000010\r\n");
    writeFile(dir / "t.xsl",
              R"x(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:a="http://schemas.microsoft.com/appx/2010/manifest">
  <xsl:template match="@*|node()"><xsl:copy><xsl:apply-templates select="@*|node()"/></xsl:copy></xsl:template>
  <xsl:template match="a:Description/text()">New</xsl:template></xsl:stylesheet>)x");
    saved(update("Add-ScriptFile setup.cmd"));
    fs::copy_file(package, dir / "base.appv");

    const std::string N = Notes + "notes.txt", K = Key;
    const Case cases[] = {
        {"Add-File " + Notes + "new.dll new.txt",
         "Files:\n  + " + Notes + "new.dll  6 bytes\nShort names (FilesystemMetadata.xml):\n  + " + Notes +
             "new.dll  (none)\nContent types ([Content_Types].xml):\n"
             "  + /appv:Types/appv:Default[7]  ContentType=\"appv/vfs-file\" Extension=\"dll\"\n"},
        {"Update-File " + N + " new.txt", "Files:\n  ~ " + N + "  178 -> 6 bytes, 1 of 1 blocks differ\n"},
        {"Del-File " + Notes + "readme.md",
         "Files:\n  - " + Notes + "readme.md  97 bytes\nShort names (FilesystemMetadata.xml):\n  - " + Notes +
             "readme.md  (none)\nContent types ([Content_Types].xml):\n"
             "  - /appv:Types/appv:Default[2]  ContentType=\"appv/vfs-file\" Extension=\"md\"\n"},
        {"Update-ScriptFile setup.cmd new.txt",
         "Scripts:\n  ~ Scripts\\setup.cmd  11 -> 6 bytes, 1 of 1 blocks differ\n"},
        {"Del-ScriptFile setup.cmd",
         "Scripts:\n  - Scripts\\setup.cmd  11 bytes\nContent types ([Content_Types].xml):\n"
         "  - /appv:Types/appv:Default[6]  ContentType=\"appv/vfs-file\" Extension=\"cmd\"\n"},
        {"Update-PackageIdentity -version 2.0.0.0",
         "Identity:\n  ~ version     \"1.0.0.0\" -> \"2.0.0.0\"\n"},
        {"Update-PackageIdentity -packageid 3F2B8C41-6D0E-4A57-9B13-7C5E2A90D419",
         "Identity:\n  ~ packageId   \"3F2B8C41-6D0E-4A57-9B13-7C5E2A90D418\" -> "
         "\"3F2B8C41-6D0E-4A57-9B13-7C5E2A90D419\"\n"},
        {"Update-PackageHistory -packagingengine Bot -sequencerversion 2.0",
         "History (PackageHistory.xml):\n  + /appv:PackageHistory/appv:PackageHistoryItem[2]  Time="},
        {"Set-NodeText AppxManifest.xml -xpath //appx:DisplayName -nodetext Two",
         "Manifest (AppxManifest.xml):\n  ~ /appx:Package/appx:Properties/appx:DisplayName  \"Demo Notes\" "
         "-> \"Two\"\n"},
        {"New-Element AppxManifest.xml -xpath //appx:Resources -elementname Resource -namespaceURI "
         "http://schemas.microsoft.com/appx/2010/manifest",
         "Manifest (AppxManifest.xml):\n  + /appx:Package/appx:Resources/appx:Resource[2]\n"},
        {"Set-ElementAttribute AppxManifest.xml -xpath //appv:Application -attributename Origin "
         "-attributevalue Machine",
         "Manifest (AppxManifest.xml):\n  ~ /appx:Package/appv:Applications/appv:Application[1]/@Origin  "
         "\"User\" -> "
         "\"Machine\"\n"},
        {"Set-ElementAttribute StreamMap.xml -xpath //appv:PrimaryFeatureBlock -attributename X "
         "-attributevalue 1",
         "Stream map (StreamMap.xml):\n  + /appv:StreamMap/appv:PrimaryFeatureBlock/@X  \"1\"\n"},
        {"Del-SingleNode AppxManifest.xml -xpath //appx:Logo",
         "Manifest (AppxManifest.xml):\n  - /appx:Package/appx:Properties/appx:Logo  \"notes.png\"\n"},
        {"Del-Nodes FilesystemMetadata.xml -xpath //appv:OpaqueDirectories",
         "File-system metadata (FilesystemMetadata.xml):\n  - /appv:Metadata/appv:OpaqueDirectories\n"},
        {"Set-NodeText FilesystemMetadata.xml -xpath //appv:Entry[@Long='settings.ini']/@Short -nodetext "
         "SETTIN~2.INI",
         "Short names (FilesystemMetadata.xml):\n  ~ " + Notes +
             "config\\settings.ini  SETTIN~1.INI -> SETTIN~2.INI\n"},
        {"TransformManifest AppxManifest.xml t.xsl",
         "Manifest (AppxManifest.xml):\n  ~ /appx:Package/appx:Properties/"
         "appx:Description  \"A small package that the Quendle demo "
         "edits\" -> \"New\"\n"},
        {"Set-RegistryKey " + K + " -virtualizationlevel overwrite",
         "Registry (Registry.dat):\n  ~ " + K + "  level merge -> overwrite\n"},
        {"Set-RegistryKey " + K + "\\New -virtualizationlevel deleted",
         "Registry (Registry.dat):\n  + " + K + "\\New  [deleted]\n"},
        {"Set-RegistryValue " + K + " -valuename WindowWidth -type dword -value 1024",
         "Registry (Registry.dat):\n  ~ " + K + "  \"WindowWidth\" = REG_DWORD 800 -> REG_DWORD 1024\n"},
        {"Set-RegistryValue " + K + " -valuename P -type expandsz -value %X% -pathvariable",
         "Registry (Registry.dat):\n  + " + K + "  \"P\" = REG_EXPAND_SZ \"%X%\" [pathvariable]\n"},
        {"Set-VirtualizeRegValueDeleted " + K + " Gone",
         "Registry (Registry.dat):\n  + " + K + "  \"Gone\" = REG_NONE 00000000 [deleted]\n"},
        {"Del-RegistryValue " + K + " InstallFolder",
         "Registry (Registry.dat):\n  - " + K +
             "  \"InstallFolder\" = REG_SZ \"[{ProgramFilesX86}]\\Demo Notes\"\n"},
        {"Del-RegistryKey " + K + "\\Fonts", "Registry (Registry.dat):\n  - " + K + "\\Fonts  [merge]\n  - " +
                                                 K + "\\Fonts  \"Editor\" = REG_SZ \"Consolas\"\n"},
        {"Del-RegistryKeyAndSubkeys " + K,
         "Registry (Registry.dat):\n  - " + K + "  [merge]\n  - " + K +
             "  \"InstallFolder\" = REG_SZ \"[{ProgramFilesX86}]\\Demo Notes\"\n  - " + K +
             "  \"WindowWidth\" = REG_DWORD 800\n  - " + K + "\\Fonts  [merge]\n  - " + K +
             "\\Fonts  \"Editor\" = REG_SZ \"Consolas\"\n"},
        {"Import-Registry r.reg",
         "Registry (Registry.dat):\n  + REGISTRY\\MACHINE\\SOFTWARE\\Imported  [merge]\n"
         "  + REGISTRY\\MACHINE\\SOFTWARE\\Imported  \"N\" = REG_DWORD 16\n"},
        {"Add-Folder " + Notes + "x src",
         "Files:\n  + " + Notes + "x\\sub\\two.txt  4 bytes\nShort names (FilesystemMetadata.xml):\n  + " +
             Notes + "x              (none)\n  + " + Notes + "x\\sub          (none)\n  + " + Notes +
             "x\\sub\\two.txt  (none)\n"},
        {"Del-Folder " + Notes + "config",
         "Files:\n  - " + Notes +
             "config\\settings.ini  32 bytes\nShort names (FilesystemMetadata.xml):\n  - " + Notes +
             "config               (none)\n  - " + Notes +
             "config\\settings.ini  SETTIN~1.INI\nContent types ([Content_Types].xml):\n"
             "  - /appv:Types/appv:Default[3]  ContentType=\"appv/vfs-file\" Extension=\"ini\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edit);
        fs::copy_file(dir / "base.appv", package, fs::copy_options::overwrite_existing);
        std::string line = c.edit; // the spaces of the demo's names are inside words
        for (const std::string name : {"Demo Notes", "Quendle Demo"})
            for (size_t at; (at = line.find(name)) != std::string::npos;)
                line[at + name.find(' ')] = '+';
        saved(update(line));
        QuendleRun run = quendle({"/Diff", "base.appv", "demo.appv"});
        EXPECT_EQ(run.result.exitCode, 1);
        std::string text = run.result.out, last = "differences between \"base.appv\" and \"demo.appv\".\n";
        EXPECT_TRUE(text.ends_with(last) ||
                    text.ends_with("1 difference between \"base.appv\" and \"demo.appv\".\n"))
            << text;
        std::string body = text.substr(0, text.rfind('\n', text.size() - 2) + 1);
        EXPECT_EQ(body.substr(0, c.expected.size()), c.expected);
        EXPECT_EQ(std::count(body.begin(), body.end(), '\n'),
                  std::count(c.expected.begin(), c.expected.end(), '\n') + !c.expected.ends_with('\n'));
        writeFile(dir / "diff.json", quendle({"/Diff", "base.appv", "demo.appv", "-json"}).result.out);
        // One line per difference, below the section titles.
        EXPECT_EQ(pythonRun(Oracle, {dir / "diff.json", dir / "base.appv", package}),
                  std::to_string(occurrences(body, "\n  ")) + "\n");
    }
    QuendleRun same = quendle({"/Diff", "base.appv", "base.appv"});
    EXPECT_EQ(same.result.exitCode, 0);
    EXPECT_EQ(same.result.out + same.result.err, "") << "no banner, no report";
    writeFile(dir / "diff.json", quendle({"/Diff", "base.appv", "base.appv", "-json"}).result.out);
    EXPECT_EQ(pythonRun(Oracle, {dir / "diff.json", dir / "base.appv", dir / "base.appv"}), "0\n");
    EXPECT_EQ(quendle({"/Diff", "base.appv", "missing.appv"}).result.exitCode, 100);
    writeFile(dir / "not.appv", "not a package");
    EXPECT_HAS(quendle({"/Diff", "not.appv", "base.appv"}).result.err, "Failed to open: not.appv");
}

} // namespace
