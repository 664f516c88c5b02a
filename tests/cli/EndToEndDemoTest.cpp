// Edits of the demo package through the command line and command files, and edits that must
// never be lost or misapplied: names that differ only in case, scripts, command files that run
// themselves, bytes that are not UTF-8, signatures. Each is checked on the saved package with
// tools that share no code with Quendle (unzip, 7-Zip, Python's zipfile, the block-map verifier,
// hivex).
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace quendle::test;

namespace {

const char* const StreamMapNs = "http://schemas.microsoft.com/appv/2010/streammap";
const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";
// unzip reads "[...]" in an entry name as a pattern.
const char* const Types = "\\[Content_Types\\].xml";

// Runs start in the test folder, which holds two source files.
class EndToEndDemo : public DemoPackageTest {
  protected:
    void SetUp() override {
        DemoPackageTest::SetUp();
        runOptions.workingDir = dir.path();
        writeFile(dir / "new.txt", "new\n");
        writeFile(dir / "setup.cmd", "@echo off\r\n");
    }
};

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
    std::string notZip = dir / "notes.appv", noManifest = dir / "nomanifest.appv",
                folder = dir / "folder.appv";
    writeFile(notZip, "this is not a ZIP archive\n");
    ASSERT_TRUE(zipOf(noManifest, {"StreamMap.xml", "<StreamMap/>", "Root/a.txt", "a"}));
    fs::create_directories(folder + "/inside");
    // A folder has no bytes to compare: it must still hold what it held.
    auto stamp = [&](const std::string& target) { return target == folder ? FileStamp{} : stampOf(target); };
    for (const std::string& target : {notZip, noManifest, folder}) {
        FileStamp before = stamp(target);
        QuendleRun run = quendle({"/Update", target, "Del-Nodes", "StreamMap.xml", "-xpath", "//x"});
        EXPECT_EQ(run.result.exitCode, 100);
        EXPECT_HAS(run.result.out, "Failed to open: " + target + " (invalid file format).\n");
        EXPECT_TRUE(stamp(target) == before);
    }
    EXPECT_TRUE(fs::is_directory(folder + "/inside"));
    // With -nofail every line meets the same refusal; nothing is saved.
    writeCommandFile(dir / "commands.txt",
                     {"Del-Nodes StreamMap.xml -xpath //x", "Del-Nodes StreamMap.xml -xpath //y"});
    FileStamp before = stampOf(noManifest);
    QuendleRun batch = quendle({"/BatchFileUpdate", noManifest, dir / "commands.txt", "-nofail"});
    EXPECT_EQ(batch.result.exitCode, 0);
    EXPECT_EQ(occurrences(batch.result.out, "Failed to open: " + noManifest + " (invalid file format).\n"),
              2u)
        << batch.result.out;
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
    // source path holds; the first one's report, permissions and entry order are checked too.
    runOptions.workingDir = sourceDir();
    ::chmod(package.c_str(), 0604);
    const std::string out = saved(update(
        "Set-NodeText AppxManifest.xml -xpath " + std::string(DisplayNameXPath) +
        " -nodetext Demo+Notes+2 /Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity "
        R"(-attributename Version -attributevalue 1.0.1.0 /Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\)"
        "Quendle+Demo\\Notes -valuename WindowWidth -type dword -value 1024"));
    EXPECT_HAS(out, "Replaced text \"Demo Notes\" with text \"Demo Notes 2\" in node \"DisplayName\".\n");
    EXPECT_HAS(out, "Set XML attribute \"Version\" from element \"Identity\" to value \"1.0.1.0\". "
                    "Old value was \"1.0.0.0\".\n");
    EXPECT_EQ(std::count(out.begin(), out.end(), '%'), 0)
        << "no percentages when the output is not a terminal";
    EXPECT_HAS(out, "Extracting files...\n");
    EXPECT_HAS(out, "Packing files...\nPackage updated successfully\n");
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(stampOf(package).mode & 07777, 0604u) << "the package keeps its permissions";
    EXPECT_EQ(
        entryNames(package),
        (std::vector<std::string>{"Registry.dat", "Root/VFS/ProgramFilesX86/Demo%20Notes/config/settings.ini",
                                  "Root/VFS/ProgramFilesX86/Demo%20Notes/notes.txt",
                                  "Root/VFS/ProgramFilesX86/Demo%20Notes/readme.md", "FilesystemMetadata.xml",
                                  "StreamMap.xml", "PackageHistory.xml", "AppxManifest.xml",
                                  "AppxBlockMap.xml", "[Content_Types].xml"}))
        << "entries keep their order";
    EXPECT_EQ(occurrences(saved({"/BatchFileUpdate", package, "demo/commands.txt"}),
                          "Package updated successfully"),
              1u);
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/changes.txt"),
              readFile(demoDir() + "/extra/changes.txt"));
    std::string manifest = entryBytes(package, "AppxManifest.xml");
    EXPECT_HAS(manifest, "<DisplayName>Demo Notes 2</DisplayName>");
    EXPECT_HAS(manifest, "<Description>Edited by the Quendle demo</Description>");
    std::string hive = dir / "Registry.dat";
    writeFile(hive, entryBytes(package, "Registry.dat"));
    const char* notes = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes)";
    EXPECT_EQ(runProgram({"/usr/bin/hivexget", hive, notes, "WindowWidth"}).out, "1024\n");
    EXPECT_EQ(runProgram({"/usr/bin/hivexget", hive, notes, "LastEditedBy"}).out, "Quendle\n");
    EXPECT_NE(runProgram({"/usr/bin/hivexget", hive, std::string(notes) + "\\Fonts", "Editor"}).exitCode, 0);
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
}

TEST_F(EndToEndDemo, UpdateScriptFileOfANewScriptAddsItLikeAddScriptFile) {
    EXPECT_HAS(saved({"/Update", "demo.appv", "Update-ScriptFile", "setup.cmd", "setup.cmd"}),
               "Added file \"Scripts\\setup.cmd\" to package.\n");
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(entryBytes(package, "Scripts/setup.cmd"), "@echo off\r\n");
    EXPECT_LACKS(entryBytes(package, "FilesystemMetadata.xml"), "Scripts");
    EXPECT_HAS(entryBytes(package, Types), "Extension=\"cmd\"");
}

TEST_F(EndToEndDemo, ACommandFileThatRunsItselfIsRefused) {
    writeCommandFile(dir / "cself", {"BatchFileUpdate demo.appv cself"});
    QuendleRun run = quendle({"/BatchFileUpdate", "demo.appv", "cself"});
    EXPECT_EQ(run.result.exitCode, 100) << run.result.out << run.result.err;
    EXPECT_HAS(run.result.out + run.result.err, "is already being run") << run.result.out;
    EXPECT_LACKS(run.result.out + run.result.err, "STACK_OVERFLOW");

    // Through another file, with -nofail: that line fails, the next one still runs.
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

TEST_F(EndToEndDemo, APackageNameWithPercentDigitsIsThatFileAndNeedsNoCause) {
    fs::copy_file(package, dir / "50%41.appv");
    EXPECT_LACKS(saved({"/Update", "50%41.appv", "Add-File", Notes + R"(\new.txt)", "new.txt"}), "Cause:");
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
