// The sub-commands as a packaging engineer types them, checked on the saved package with tools
// that share no code with Quendle: one command file with every one of the twenty and quoted paths
// (the run saves once), and every refusal, which changes nothing.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";
const std::string Key = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo)";

class SubCommandCli : public DemoPackageTest {
  protected:
    void SetUp() override {
        DemoPackageTest::SetUp();
        runOptions = {{{"USER", "builder"}, {"LANG", "en_US.UTF-8"}}, dir.path()};
        writeFile(dir / "build/LICENSE", "license\n");
        writeFile(dir / "scripts/setup.cmd", "@echo off\r\n");
    }
};

} // namespace

TEST_F(SubCommandCli, OneCommandFileWithEveryCommandSavesOnceIntoAValidPackage) {
    writeFile(dir / "build/tool.exe", std::string(150000, 'x'));
    writeFile(dir / "build/notes.txt", "new notes\n");
    writeFile(dir / "scripts/setup.cmd", "@echo setup\r\n");
    writeFile(dir / "scripts/cleanup.bat", "@echo cleanup\r\n");
    writeFile(dir / "build/setup2.cmd", "@echo setup 2\r\n");
    writeFile(dir / "rename.xsl",
              R"xsl(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:appx="http://schemas.microsoft.com/appx/2010/manifest">
  <xsl:param name="name"/>
  <xsl:template match="@*|node()"><xsl:copy><xsl:apply-templates select="@*|node()"/></xsl:copy></xsl:template>
  <xsl:template match="appx:DisplayName/text()"><xsl:value-of select="$name"/></xsl:template>
</xsl:stylesheet>
)xsl");
    writeCommandFile(
        dir / "all.qdc",
        {"TransformManifest AppxManifest.xml rename.xsl -name \"Renamed Notes\"",
         // A later sub-command sees the transformed part.
         "Set-NodeText AppxManifest.xml -xpath //appx:Properties/appx:DisplayName -nodetext \"Renamed "
         "twice\"",
         "Set-NodeText AppxManifest.xml -xpath //appx:Properties/appx:Description -nodetext \"All twenty\"",
         "New-Element StreamMap.xml -elementname FeatureBlock -namespaceURI "
         "http://schemas.microsoft.com/appv/2010/streammap",
         "Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity -attributename Publisher "
         "-attributevalue \"CN=Edited\"",
         "Del-SingleNode AppxManifest.xml -xpath //appx:Properties/appx:Logo",
         "Del-Nodes AppxManifest.xml -xpath //appv:AppVPackageDescription",
         "Update-PackageIdentity -packageid auto -versionid auto -version 3.0.0.0",
         "Update-PackageHistory -packagingengine BuildBot -sequencerversion 5.1.0.0",
         "Add-File \"" + Notes + "\\bin\\tool.exe\" build/tool.exe",
         "Add-File \"" + Notes + "\\docs\\user guide.txt\" \"build/LICENSE\"",
         "Update-File \"" + Notes + "\\notes.txt\" build/notes.txt", "Del-File \"" + Notes + "\\readme.md\"",
         "Add-ScriptFile scripts/setup.cmd", "Add-ScriptFile scripts/cleanup.bat",
         "Add-ScriptFile build/LICENSE", "Update-ScriptFile setup.cmd build/setup2.cmd",
         "Del-ScriptFile cleanup.bat",
         "Set-RegistryKey \"" + Key + "\\Notes\" -virtualizationlevel overwrite",
         "Set-RegistryValue \"" + Key + "\\Notes\" -valuename Theme -type sz -value Dark",
         "Set-VirtualizeRegValueDeleted \"" + Key + "\\Notes\" Legacy",
         "Del-RegistryValue \"" + Key + "\\Notes\" WindowWidth",
         "Set-RegistryKey \"" + Key + "\\Old\\Sub\\Deeper\"", "Del-RegistryKey \"" + Key + "\\Notes\\Fonts\"",
         "Del-RegistryKeyAndSubkeys \"" + Key + "\\Old\""});

    const std::string out = saved({"/BatchFileUpdate", "demo.appv", "all.qdc"});
    EXPECT_HAS(out, "Transform \"" + dir / "rename.xsl" +
                        "\" applied without errors to manifest file \"AppxManifest.xml\".\n");
    EXPECT_HAS(out, "Replaced text \"Renamed Notes\" with text \"Renamed twice\"");
    EXPECT_HAS(out, "<Entry Long=\"user guide.txt\" Short=\"USERGU~1.TXT\"/>\n");
    EXPECT_HAS(out, "Updated file \"Scripts\\setup.cmd\" in package.\n");
    EXPECT_HAS(out, "Removed file \"Scripts\\cleanup.bat\" from package.\nRemoved element from "
                    "[Content_Types].xml:\n<Default ContentType=\"appv/vfs-file\" Extension=\"bat\"/>\n");
    EXPECT_EQ(occurrences(out, "Extracting files..."), 1u) << out;
    EXPECT_EQ(occurrences(out, "Packing files..."), 1u) << out;
    EXPECT_EQ(occurrences(out, "Package updated successfully"), 1u) << out;

    EXPECT_EQ(verifyPackage(package), "");

    // Manifest: transform, text, attribute, removed nodes and identity.
    EXPECT_EQ(queryPart(package, "AppxManifest.xml",
                        "a = '{http://schemas.microsoft.com/appx/2010/manifest}'\n"
                        "v = '{http://schemas.microsoft.com/appv/2010/manifest}'\n"
                        "p = r.find(a+'Properties'); i = r.find(a+'Identity')\n"
                        "print(p.find(a+'DisplayName').text, '|', p.find(a+'Description').text)\n"
                        "print(p.find(a+'Logo'), p.find(v+'AppVPackageDescription'))\n"
                        "print(i.get('Publisher'), i.get('Version'), len(i.get(v+'PackageId')))\n"),
              "Renamed twice | All twenty\nNone None\nCN=Edited 3.0.0.0 36\n");
    EXPECT_EQ(queryPart(package, "StreamMap.xml", "print([c.tag.split('}')[1] for c in r])\n"),
              "['PrimaryFeatureBlock', 'FeatureBlock']\n");
    EXPECT_EQ(
        queryPart(package, "PackageHistory.xml",
                  "i = list(r)[-1]\nprint(len(r), i.get('PackagingEngine'), i.get('SequencerVersion'))\n"),
        "2 BuildBot 5.1.0.0\n");
    EXPECT_EQ(queryPart(package, "PackageHistory.xml", "print(list(r)[-1].get('PackageVersion'))\n"),
              queryPart(package, "AppxManifest.xml",
                        "print(r.find('{http://schemas.microsoft.com/appx/2010/manifest}Identity')"
                        ".get('{http://schemas.microsoft.com/appv/2010/manifest}VersionId'))\n"))
        << "the history names the version the identity was given";

    // Files and scripts in archive order (the removed ones gone), with their content types.
    const std::string notes = "Root/VFS/ProgramFilesX86/Demo%20Notes/";
    std::string files;
    for (const std::string& name : entryNames(package))
        files += name.starts_with(notes)        ? name.substr(notes.size()) + " "
                 : name.starts_with("Scripts/") ? name + " "
                                                : "";
    EXPECT_EQ(files, "config/settings.ini notes.txt bin/tool.exe docs/user%20guide.txt Scripts/setup.cmd "
                     "Scripts/LICENSE ");
    EXPECT_EQ(entryBytes(package, notes + "bin/tool.exe"), std::string(150000, 'x'));
    EXPECT_EQ(entryBytes(package, notes + "notes.txt"), "new notes\n");
    EXPECT_EQ(entryBytes(package, "Scripts/setup.cmd"), "@echo setup 2\r\n");
    EXPECT_EQ(entryBytes(package, "Scripts/LICENSE"), "license\n");
    const std::string ct = "{http://schemas.openxmlformats.org/package/2006/content-types}";
    EXPECT_EQ(queryPart(package, "[Content_Types].xml",
                        "print(sorted(e.get('Extension') for e in r.findall('" + ct +
                            "Default')))\n"
                            "print([e.get('PartName') for e in r.findall('" +
                            ct + "Override')][2:])\n"),
              "['cmd', 'dat', 'exe', 'ini', 'txt', 'xml']\n['/Scripts/LICENSE']\n")
        << "an extension-less script is registered by its part name";

    // Registry, read back by hivex.
    const std::string reg = hivexExport(package);
    // hivexregedit writes strings as UTF-16LE hex; "Dark" and its terminator.
    EXPECT_HAS(reg, "\"Theme\"=hex(1):44,00,61,00,72,00,6b,00,00,00");
    EXPECT_HAS(reg, "\"Legacy\"");
    EXPECT_HAS(reg, "\"InstallFolder\"") << "an untouched value stays";
    for (const char* gone : {"\"WindowWidth\"", "\\Notes\\Fonts]", "\\Old"})
        EXPECT_LACKS(reg, gone);
}

// Every refusal of a bad value, path, file or edit: its message and exit code, no save, the
// package byte for byte as it was, and (where a check needs no package) not even an extraction.
TEST_F(SubCommandCli, EveryRefusalNamesItsCauseAndLeavesThePackageAsItWas) {
    writeFile(dir / "src/notes.txt", "would replace the package's own notes.txt");
    writeFile(dir / "clash/A.txt", "a");
    writeFile(dir / "clash/a.txt", "a");
    writeFile(dir / "plain.txt", "not a folder");
    fs::create_directories(dir / "empty/sub");
    fs::create_directories(dir / "srcdir");
    writeFile(dir / "broken.reg",
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Applied]\n"
              "\"Fine\"=dword:00000001\n\"Broken\"=hex:0g\n");
    writeFile(dir / "t.xsl",
              "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"/>");
    const std::string Set =
        "Set-NodeText AppxManifest.xml -xpath //appx:Properties/appx:DisplayName -nodetext x";
    // Without -nofail a failing line ends the command file before the save.
    writeCommandFile(dir / "halt.qdc", {Set, "Del-Nodes AppxManifest.xml -xpath //appx:Properties["});
    struct Case {
        std::string line; // after "/Update demo.appv" unless it names its command; "+" is a space
        std::string message;
        int opened = -1; // whether the package was extracted first: 1, 0, or -1 for either
        int exitCode = 100;
    };
    const Case cases[] = {
        {"Update-PackageHistory -packagingengine BuildBot",
         "Packaging engine and sequencer version are both mandatory when at lest one is specified.", 0},
        {"Update-PackageHistory -packagingengine BuildBot -sequencerversion 1.2.3.4.5",
         "Invalid sequencer version: \"1.2.3.4.5\".", 0},
        {"Update-PackageIdentity -packageid 1234",
         "Invalid parameter value: \"1234\". Expected \"auto\" or <guid_string>.", 1},
        {"Update-PackageIdentity -version 70000.0.0.0",
         "Invalid parameter value: \"70000.0.0.0\". Expected \"auto\" or <version_string>.", 1},
        {"Add-File Root/VFS/a.txt build/LICENSE",
         "Invalid package path: \"Root/VFS/a.txt\". Expecting a backslash path.", 0},
        {R"(Add-File Root\VFS\ build/LICENSE)", "Invalid file path: \"Root\\VFS\\\".", 0},
        {R"(Add-File Root\VFS\a.txt build/missing.txt)", "File not found: \"build/missing.txt\".", 0},
        {R"(Del-File Root\VFS\gone.txt)", "Unable to remove file \"Root\\VFS\\gone.txt\". File not found.",
         1},
        {R"(Add-File Root\VFS\x srcdir)", "Cause: srcdir is a folder, not a file."},
        {Set + " /Set-NodeText AppxManifest.xml -xpath //appx:[ -nodetext y",
         "Invalid XPath expression: \"//appx:[\"."},
        {"Del-SingleNode AppxManifest.xml -xpath //appx:Identity",
         "\nValidation failed on AppxManifest.xml\n=====================", 1},
        {Set + " /Del-Nodes AppxBlockMap.xml -xpath //x",
         "Invalid \"appv_manifest_file\" parameter value: \"AppxBlockMap.xml\"."},
        {"/BatchFileUpdate demo.appv missing.txt", "/missing.txt\".\n"},
        {"/BatchFileUpdate demo.appv halt.qdc", "Invalid XPath expression: \"//appx:Properties[\".", 1},
        {"TransformManifest AppxManifest.xml missing.xsl",
         "Win32 Error [2]: \"The system cannot find the file specified.\"", -1, 2},
        {"TransformManifest AppxManifest.xml t.xsl -a 1 b 2",
         "Transform parameter name expected. Parameter name marker '-' expected."},
        {"TransformManifest AppxManifest.xml t.xsl -a", "Transform parameter name value pair expected."},
        {R"(Add-Folder Root\VFS\ProgramFilesX86\Demo+Notes src)",
         "Unable to add file \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\notes.txt\" to package. File already "
         "exists."},
        {R"(Add-Folder Root\VFS\X clash)",
         "Unable to add file \"Root\\VFS\\X\\a.txt\" to package. File already exists."},
        {R"(Add-Folder Root\VFS\ProgramFilesX86\Demo+Notes\notes.txt\sub src)",
         "Unable to add folder \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\notes.txt\" to package. A file of "
         "that path exists."},
        {R"(Add-Folder Root\VFS\X plain.txt)", "Folder not found: \"plain.txt\"."},
        {R"(Add-Folder Root\VFS\X missing)", "File not found: \"missing\"."},
        {R"(Add-Folder Root\VFS\X empty)", "Folder \"empty\" holds no files to add."},
        {R"(Add-Folder VFS\X src)", "A package path must start with \"Root\"."},
        {R"(Del-Folder Root\VFS\Nowhere)",
         "Unable to remove folder \"Root\\VFS\\Nowhere\". Folder not found."},
        {R"(Del-Folder Root\VFS\ProgramFilesX86\Demo+Notes\notes.txt)",
         "Unable to remove folder \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\notes.txt\". Folder not found."},
        {"Del-Folder Root/VFS", "Expecting a backslash path."},
        {"Import-Registry broken.reg",
         "Invalid registry file \"broken.reg\", line 5: the hexadecimal bytes are not valid."},
        {"Import-Registry missing.reg", "File not found: \"missing.reg\"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        QuendleRun run = quendle(c.line[0] == '/' ? words(c.line) : update(c.line));
        const std::string out = run.result.out + run.result.err;
        EXPECT_EQ(run.result.exitCode, c.exitCode) << out;
        EXPECT_HAS(out, c.message);
        EXPECT_LACKS(out, "successfully");
        EXPECT_TRUE(c.opened < 0 || contains(out, "Extracting files...") == (c.opened == 1)) << out;
        expectUntouched();
    }
}
