// The sub-commands as a packaging engineer types them: one command file with every one of the
// twenty and quoted paths (the run saves once), every refusal (which changes nothing), and edits
// that must never be lost or misapplied: names that differ only in case, scripts, command files
// that run themselves, bytes that are not UTF-8, signatures. Each is checked on the saved package
// with tools that share no code with Quendle (unzip, 7-Zip, Python's zipfile, the block-map
// verifier, hivex), on the demo package and on one assembled from real App-V material (the 3.7 MB
// Office manifest, its file-system metadata and a real registry hive from ../shared/samples).
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

using namespace quendle::test;

namespace {

const char* const StreamMapNs = "http://schemas.microsoft.com/appv/2010/streammap";
const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";
const std::string Key = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo)";
// unzip reads "[...]" in an entry name as a pattern.
const char* const Types = "\\[Content_Types\\].xml";

// Runs start in the test folder, which holds a few source files.
class EndToEndDemo : public DemoPackageTest {
  protected:
    void SetUp() override {
        DemoPackageTest::SetUp();
        runOptions = {{{"USER", "builder"}, {"LANG", "en_US.UTF-8"}}, dir.path()};
        writeFile(dir / "new.txt", "new\n");
        writeFile(dir / "setup.cmd", "@echo off\r\n");
        writeFile(dir / "build/LICENSE", "license\n");
        writeFile(dir / "scripts/setup.cmd", "@echo off\r\n");
    }
};

const char* const WordOptionsKey =
    R"(REGISTRY\MACHINE\SYSTEM\CurrentControlSet\services\adsi\Options\winword.exe)";

std::set<std::string> lines(const std::string& text) {
    std::set<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.insert(line);
    return out;
}

} // namespace

// Edits that find nothing to change save nothing; -createifnotexist finds its own element.
TEST_F(EndToEndDemo, EditsThatChangeNothingLeaveTheFileAsItWas) {
    EXPECT_LACKS(saved(update("Set-NodeText AppxManifest.xml -xpath //appx:NoSuchNode -nodetext x "
                              "/Del-Nodes StreamMap.xml -xpath //appv:FeatureBlock /New-Element "
                              "AppxManifest.xml -xpath //appx:NoSuchParent -elementname Extra "
                              "-namespaceURI http://schemas.microsoft.com/appx/2010/manifest")),
                 "Packing files");
    expectUntouched();

    std::vector<std::string> add =
        update("New-Element StreamMap.xml -elementname FeatureBlock -namespaceURI " +
               std::string(StreamMapNs) + " -createifnotexist");
    saved(add);
    original = stampOf(package);
    EXPECT_LACKS(saved(add), "Created XML element");
    expectUntouched();

    // Without the switch a duplicate is appended; both then go away with one Del-Nodes.
    add.pop_back();
    saved(add);
    EXPECT_EQ(occurrences(entryBytes(package, "StreamMap.xml"), "<FeatureBlock/>"), 2u);
    EXPECT_EQ(occurrences(
                  saved({"/Update", package, "Del-Nodes", "StreamMap.xml", "-xpath", "//appv:FeatureBlock"}),
                  "Removed XML node \"FeatureBlock\" from parent \"StreamMap\".\n"),
              2u);
    EXPECT_LACKS(entryBytes(package, "StreamMap.xml"), "<FeatureBlock");
    EXPECT_EQ(verifyPackage(package), "");
}

TEST_F(EndToEndDemo, PackagesThatCannotBeOpenedAreReportedAndLeftAlone) {
    std::string notZip = dir / "notes.appv", noManifest = dir / "nomanifest.appv";
    writeFile(notZip, "this is not a ZIP archive\n");
    ASSERT_TRUE(zipOf(noManifest, {"StreamMap.xml", "<StreamMap/>", "Root/a.txt", "a"}));
    for (const std::string& target : {notZip, noManifest}) {
        FileStamp before = stampOf(target);
        QuendleRun run = quendle({"/Update", target, "Del-Nodes", "StreamMap.xml", "-xpath", "//x"});
        EXPECT_EQ(run.result.exitCode, 100);
        EXPECT_HAS(run.result.err, "Failed to open: " + target + " (invalid file format).\n");
        EXPECT_TRUE(stampOf(target) == before);
    }
    // With -nofail every line meets the same refusal; nothing is saved.
    writeCommandFile(dir / "commands.txt",
                     {"Del-Nodes StreamMap.xml -xpath //x", "Del-Nodes StreamMap.xml -xpath //y"});
    FileStamp before = stampOf(noManifest);
    EXPECT_EQ(occurrences(saved({"/BatchFileUpdate", noManifest, dir / "commands.txt", "-nofail"}),
                          "Failed to open: " + noManifest + " (invalid file format).\n"),
              2u);
    EXPECT_TRUE(stampOf(noManifest) == before);
}

TEST_F(EndToEndDemo, ARootPartStoredInOtherLetterCaseIsFoundAndSavedUnderItsOwnName) {
    std::string renamed = dir / "lower.appv";
    const char* script = R"py(import sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
names = {'AppxManifest.xml': 'appxmanifest.XML', 'StreamMap.xml': 'STREAMMAP.xml'}
with zipfile.ZipFile(sys.argv[2], 'w') as z:
    for i in src.infolist(): z.writestr(names.get(i.filename, i.filename), src.read(i.filename))
)py";
    ASSERT_EQ(pythonRun(script, {package, renamed}), "");
    saved({"/Update", renamed, "Set-NodeText", "AppxManifest.xml", "-xpath", DisplayNameXPath, "-nodetext",
           "Found", "/New-Element", "streammap.XML", "-elementname", "FeatureBlock", "-namespaceURI",
           StreamMapNs});
    EXPECT_EQ(entryNames(renamed), entryNames(package)) << "each in its place, under its own name";
    EXPECT_HAS(entryBytes(renamed, "AppxManifest.xml"), "<DisplayName>Found</DisplayName>");
    EXPECT_HAS(entryBytes(renamed, "StreamMap.xml"), "FeatureBlock");
    EXPECT_EQ(verifyPackage(renamed), "");
}

TEST_F(EndToEndDemo, TheReadmeDemoRunsAsWritten) {
    // The same two runs as demo.sh, from the repository root where the command file's relative
    // source path holds; the first one's progress lines, permissions and entry order too.
    runOptions.workingDir = sourceDir();
    ::chmod(package.c_str(), 0604);
    const std::vector<std::string> names = entryNames(package);
    const QuendleRun run = quendle(update(
        "Set-NodeText AppxManifest.xml -xpath " + std::string(DisplayNameXPath) +
        " -nodetext Demo+Notes+2 /Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity "
        R"(-attributename Version -attributevalue 1.0.1.0 /Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\)"
        "Quendle+Demo\\Notes -valuename WindowWidth -type dword -value 1024"));
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
    // A quick save into a pipe: the two titles on standard error, no figures.
    EXPECT_EQ(run.result.err, "Extracting files...\nPacking files...\n");
    EXPECT_TRUE(run.result.out.ends_with("to value \"1024\"\nPackage updated successfully\n"))
        << run.result.out;
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_TRUE(!builtHere() || (stampOf(package).mode & fs::perms::mask) == fs::perms(0604))
        << "the package keeps its permissions (POSIX bits: the Linux build only)";
    EXPECT_EQ(entryNames(package), names) << "entries keep their order";
    EXPECT_EQ(occurrences(saved({"/BatchFileUpdate", package, "demo/commands.txt"}),
                          "Package updated successfully"),
              1u);
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/changes.txt"),
              readFile(demoDir() + "/extra/changes.txt"));
    std::string manifest = entryBytes(package, "AppxManifest.xml");
    EXPECT_HAS(manifest, "<DisplayName>Demo Notes 2</DisplayName>");
    EXPECT_HAS(manifest, "<Description>Edited by the Quendle demo</Description>");
    const std::string reg = hivexExport(package);
    EXPECT_HAS(reg, "\"WindowWidth\"=dword:00000400\n");
    // hivexregedit writes strings as UTF-16LE hex; "Quendle" and its terminator.
    EXPECT_HAS(reg, "\"LastEditedBy\"=hex(1):51,00,75,00,65,00,6e,00,64,00,6c,00,65,00,00,00\n");
    EXPECT_LACKS(reg, "\"Editor\"");
}

TEST_F(EndToEndDemo, EditsReportEachChangeWithTheValuesItReplaced) {
    const std::string out = saved(
        update("Set-NodeText FilesystemMetadata.xml -xpath //appv:Entry/@Short -nodetext "
               "SHORT~1 /Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity "
               "-attributename ResourceId -attributevalue demo /New-Element "
               "PackageHistory.xml -elementname Note -namespaceURI "
               "http://schemas.microsoft.com/appv/2010/PackageHistory -elementtext appended+to+the+root"));
    for (const char* old : {"PROGRA~1", "DEMONO~1", "SETTIN~1.INI"})
        EXPECT_HAS(out,
                   "Replaced text \"" + std::string(old) + "\" with text \"SHORT~1\" in node \"Short\".\n")
            << old;
    EXPECT_HAS(out, "Set XML attribute \"ResourceId\" from element \"Identity\" to value \"demo\". Old value "
                    "was \"\".\n");
    EXPECT_HAS(out, "Created XML element \"Note\" with text \"appended to the root\" in parent "
                    "\"PackageHistory\".\n");
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(occurrences(entryBytes(package, "FilesystemMetadata.xml"), "Short=\"SHORT~1\""), 3u);
    EXPECT_HAS(entryBytes(package, "PackageHistory.xml"),
               "<Note>appended to the root</Note>\n</PackageHistory>");
}

TEST_F(EndToEndDemo, NamesThatDifferOnlyInCaseAreOneFileOrFolder) {
    saved({"/Update", "demo.appv", "Del-File", R"(Root\VFS\PROGRAMFILESX86\DEMO NOTES\README.MD)",
           "/Add-File", R"(Root\VFS\programfilesx86\demo notes\new.txt)", "new.txt"});
    EXPECT_EQ(verifyPackage(package), "");
    // The deleted file keeps no entry, and the new one went into the existing folder entry.
    EXPECT_EQ(
        queryPart(
            package, "FilesystemMetadata.xml",
            "ns='{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}'\n"
            "print([e.get('Long') for e in r.iter(ns+'Entry') if e.get('Long') in ('readme.md', 'new.txt')],"
            " [e.get('Long') for e in r.iter(ns+'Entry') if any(c.get('Long')=='new.txt' for c in e)])"),
        "['new.txt'] ['Demo Notes']\n");
    EXPECT_LACKS(entryBytes(package, Types), "Extension=\"md\"");
    // A package name with percent digits is that file, not an escape.
    fs::copy_file(package, dir / "50%41.appv");
    EXPECT_LACKS(saved({"/Update", "50%41.appv", "Add-File", Notes + R"(\new2.txt)", "new.txt"}), "Cause:");
}

// A command file that runs itself is refused (EveryRefusal); through another file, with -nofail,
// that line fails and the next one still runs.
TEST_F(EndToEndDemo, ACommandFileThatRunsItselfThroughAnotherFailsThatLineOnly) {
    writeCommandFile(dir / "outer", {"BatchFileUpdate demo.appv inner -nofail",
                                     "Add-File \"" + Notes + R"(\new.txt" new.txt)"});
    writeCommandFile(dir / "inner", {"BatchFileUpdate demo.appv outer -nofail"});
    EXPECT_HAS(saved({"/BatchFileUpdate", "demo.appv", "outer", "-nofail"}), "is already being run");
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/new.txt"), "new\n");
}

TEST_F(EndToEndDemo, BytesThatAreNotUtf8AreReadAsInCommandFilesAndStdoutStaysUtf8) {
    const std::string name = "Caf\xE9 \xFF";
    writeFile(dir / "stdout.txt", saved({"/Update", "demo.appv", "Set-NodeText", "AppxManifest.xml", "-xpath",
                                         DisplayNameXPath, "-nodetext", name}));
    EXPECT_EQ(pythonRun("import sys; open(sys.argv[1], 'rb').read().decode('utf-8')", {dir / "stdout.txt"}),
              "")
        << "standard output is not UTF-8";
    EXPECT_EQ(queryPart(package, "AppxManifest.xml",
                        "print([e.text for e in r.iter() if e.tag.endswith('DisplayName')]"
                        "[0].encode('utf-8').hex())"),
              "436166c3a920c3bf\n")
        << "the same Windows-1252 reading as in command files";
}

TEST_F(EndToEndDemo, ASignatureIsRemovedWithOneLineSinceTheEditInvalidatesIt) {
    // Signed as a real package is: the signature entry with its own Override.
    const char* script = R"py(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as a, zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as b:
  for i in a.infolist():
    data = a.read(i)
    if i.filename == '[Content_Types].xml':
      data = data.replace(b'</Types>', b'<Override PartName="/AppxSignature.p7x" '
                          b'ContentType="application/vnd.ms-appx.signature" /></Types>')
      b.writestr('AppxSignature.p7x', b'PKCX' + bytes(200))
    b.writestr(i, data)
)py";
    std::string signedPackage = dir / "signed.appv";
    ASSERT_EQ(pythonRun(script, {package, signedPackage}), "");
    EXPECT_HAS(saved({"/Update", "signed.appv", "Add-File", Notes + R"(\new.txt)", "new.txt"}),
               "Removed the package signature \"AppxSignature.p7x\"");
    EXPECT_EQ(verifyPackage(signedPackage), "");
    for (const std::string& name : entryNames(signedPackage))
        EXPECT_NE(name, "AppxSignature.p7x");
    EXPECT_LACKS(entryBytes(signedPackage, Types), "AppxSignature");
    EXPECT_LACKS(entryBytes(signedPackage, "AppxBlockMap.xml"), "AppxSignature");
}

TEST_F(EndToEndDemo, OneCommandFileWithEveryCommandSavesOnceIntoAValidPackage) {
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
         // Of a script the package lacks: added like Add-ScriptFile, with its content type.
         "Update-ScriptFile start.ps1 build/setup2.cmd", "Del-ScriptFile cleanup.bat",
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
    EXPECT_HAS(out, "Added file \"Scripts\\start.ps1\" to package.\n");
    EXPECT_HAS(out, "Removed file \"Scripts\\cleanup.bat\" from package.\nRemoved element from "
                    "[Content_Types].xml:\n<Default ContentType=\"appv/vfs-file\" Extension=\"bat\"/>\n");
    for (const char* once : {"Extracting files...", "Packing files...", "Package updated successfully"})
        EXPECT_EQ(occurrences(out, once), 1u) << once << " in:\n" << out;

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
                     "Scripts/LICENSE Scripts/start.ps1 ");
    EXPECT_EQ(entryBytes(package, notes + "bin/tool.exe"), std::string(150000, 'x'));
    EXPECT_EQ(entryBytes(package, notes + "notes.txt"), "new notes\n");
    EXPECT_EQ(entryBytes(package, "Scripts/setup.cmd"), "@echo setup 2\r\n");
    EXPECT_EQ(entryBytes(package, "Scripts/LICENSE"), "license\n");
    EXPECT_EQ(entryBytes(package, "Scripts/start.ps1"), "@echo setup 2\r\n");
    EXPECT_LACKS(entryBytes(package, "FilesystemMetadata.xml"), "Scripts") << "scripts have no metadata";
    const std::string ct = "{http://schemas.openxmlformats.org/package/2006/content-types}";
    EXPECT_EQ(queryPart(package, "[Content_Types].xml",
                        "print(sorted(e.get('Extension') for e in r.findall('" + ct +
                            "Default')))\n"
                            "print([e.get('PartName') for e in r.findall('" +
                            ct + "Override')][2:])\n"),
              "['cmd', 'dat', 'exe', 'ini', 'ps1', 'txt', 'xml']\n['/Scripts/LICENSE']\n")
        << "an extension-less script is registered by its part name";

    // Registry, read back by hivex.
    const std::string reg = hivexExport(package);
    // hivexregedit writes strings as UTF-16LE hex; "Dark" and its terminator.
    EXPECT_HAS(reg, "\"Theme\"=hex(1):44,00,61,00,72,00,6b,00,00,00");
    EXPECT_HAS(reg, "\"Legacy\"");
    EXPECT_HAS(reg, "\"InstallFolder\"") << "an untouched value stays";
    for (const char* gone : {"\"WindowWidth\"", "\\Notes\\Fonts]", "\\Old"})
        EXPECT_LACKS(reg, gone);

    // What Quendle saves, Verify passes, changing nothing.
    original = stampOf(package);
    EXPECT_HAS(saved({"/Verify", package}), "Package verified: " + package + " is sound.");
    expectUntouched();
}

// Every refusal of a bad value, path, file or edit: its message and exit code, no save, the
// package byte for byte as it was, and (where a check needs no package) not even an extraction.
TEST_F(EndToEndDemo, EveryRefusalNamesItsCauseAndLeavesThePackageAsItWas) {
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
    writeCommandFile(dir / "cself", {"BatchFileUpdate demo.appv cself"});
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
        {"Update-PackageIdentity -packageid 1234",
         "Invalid parameter value: \"1234\". Expected \"auto\" or <guid_string>.", 1},
        {"Add-File Root/VFS/a.txt build/LICENSE",
         "Invalid package path: \"Root/VFS/a.txt\". Expecting a backslash path.", 0},
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
        {"/BatchFileUpdate demo.appv cself", "is already being run"},
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
        {"Del-Folder Root", "\": Root and Root\\VFS hold the whole package; remove the folders below them"},
        {R"(Del-Folder Root\VFS\)", "Root and Root\\VFS hold the whole package"},
        {R"(Del-Folder Root\vfs)", "Root and Root\\VFS hold the whole package"},
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

// The real hive and manifest kept whole through the program; each sample hive alone is
// verify_hive.py's, the manifest alone the XML tests' (BigSample, ManifestWriteBack).
TEST(EndToEndRealPackage, SchemaBreakingEditsAreRefusedAndEditsReachTheManifestAndTheHiveLosingNothing) {
    if (!haveSamples())
        GTEST_SKIP() << "no samples at " << samplesDir();
    ScratchDir dir;
    const std::string package = samplePackage(dir.path(), "word.x-none.msi.16.x-none.vreg.dat", true);
    ASSERT_FALSE(package.empty());
    const std::string originalManifest = readFile(dir / "sample-source/AppxManifest.xml");

    // An Entry without Long breaks the metadata schema; the edit before it is not saved either.
    writeCommandFile(dir / "broken.txt",
                     {"Del-RegistryValue " + std::string(WordOptionsKey) + " CachingOptions",
                      "New-Element FilesystemMetadata.xml -xpath //appv:Filesystem/appv:Entry -elementname "
                      "Entry -namespaceURI http://schemas.microsoft.com/appv/2010/FilesystemMetadata"});
    FileStamp before = stampOf(package);
    QuendleRun refused = runQuendle({"/BatchFileUpdate", package, dir / "broken.txt"});
    EXPECT_EQ(refused.result.exitCode, 100) << refused.result.out;
    EXPECT_HAS(refused.result.err, "\nValidation failed on FilesystemMetadata.xml\n");
    EXPECT_TRUE(stampOf(package) == before) << "the real package stays byte-identical";
    EXPECT_TRUE(refused.tempLeftovers.empty());

    succeeded({"/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath", DisplayNameXPath,
               "-nodetext", "Office, edited", "/Set-RegistryValue",
               R"(REGISTRY\MACHINE\Software\Quendle Test)", "-valuename", "Marker", "-type", "sz", "-value",
               "written by the test"});
    EXPECT_EQ(verifyPackage(package), "");
    std::string manifest = entryBytes(package, "AppxManifest.xml");
    EXPECT_HAS(manifest, "<DisplayName>Office, edited</DisplayName>");
    for (const char* marker :
         {"Category=\"AppV.COM\"", "Category=\"AppV.FileTypeAssociation\"", "<appv:Extension "})
        EXPECT_EQ(occurrences(manifest, marker), occurrences(originalManifest, marker)) << marker;
    // Every key and value of the real hive is still there, beside the new ones.
    std::set<std::string> old = lines(hivexExport(dir / "sample-source/Registry.dat")),
                          now = lines(hivexExport(package));
    EXPECT_TRUE(std::includes(now.begin(), now.end(), old.begin(), old.end()));
    EXPECT_EQ(now.size(), old.size() + 2) << "one new key and one new value";
    EXPECT_HAS(hivexExport(package), "\"Marker\"=hex(1):");
}
