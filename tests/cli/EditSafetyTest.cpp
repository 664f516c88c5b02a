// Edits that must never be lost or misapplied: names that differ only in case, scripts, command
// files that run themselves, bytes that are not UTF-8, causes, signatures, versions. Each case
// is checked on the saved package with tools that share no code with Quendle.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";

class EditSafety : public DemoPackageTest {
  protected:
    // The demo package with an extension-less file; runs start in the test folder.
    void SetUp() override {
        runOptions.workingDir = dir.path();
        std::string source = dir / "source";
        fs::copy(demoDir(), source, fs::copy_options::recursive);
        // An extension-less file, registered by its own Override, as real packages do.
        writeFile(source + "/Root/VFS/ProgramFilesX86/Demo Notes/LICENSE", "license\n");
        replaceInFile(source + "/[Content_Types].xml", "</Types>",
                      "  <Override PartName=\"/Root/VFS/ProgramFilesX86/Demo%20Notes/LICENSE\" "
                      "ContentType=\"appv/vfs-file\" />\n</Types>");
        replaceInFile(source + "/FilesystemMetadata.xml", "<Entry Long=\"readme.md\" />",
                      "<Entry Long=\"readme.md\" />\n<Entry Long=\"LICENSE\" Short=\"LICENSE\" />");
        package = dir / "demo.appv";
        ASSERT_TRUE(makePackage(source, package));
        writeFile(dir / "new.txt", "new\n");
        writeFile(dir / "setup.cmd", "@echo off\r\n");
    }

    std::string query(const std::string& part, const std::string& code) {
        return queryPart(package, part, code);
    }
};

// unzip reads "[...]" in an entry name as a pattern.
const char* const Types = "\\[Content_Types\\].xml";

} // namespace

TEST_F(EditSafety, NamesThatDifferOnlyInCaseAreOneFileOrFolder) {
    saved({"/Update", "demo.appv", "Del-File", R"(Root\VFS\PROGRAMFILESX86\DEMO NOTES\license)", "/Add-File",
           R"(Root\VFS\programfilesx86\demo notes\new.txt)", "new.txt"});
    EXPECT_EQ(verifyPackage(package), "");
    // The deleted file keeps no entry, and the new one went into the existing folder entry.
    EXPECT_EQ(
        query("FilesystemMetadata.xml",
              "ns='{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}'\n"
              "print([e.get('Long') for e in r.iter(ns+'Entry') if e.get('Long') in ('LICENSE', 'new.txt')],"
              " [e.get('Long') for e in r.iter(ns+'Entry') if any(c.get('Long')=='new.txt' for c in e)])"),
        "['new.txt'] ['Demo Notes']\n");
    EXPECT_LACKS(entryBytes(package, Types), "LICENSE");
}

TEST_F(EditSafety, UpdateScriptFileOfANewScriptAddsItLikeAddScriptFile) {
    EXPECT_HAS(saved({"/Update", "demo.appv", "Update-ScriptFile", "setup.cmd", "setup.cmd"}),
               "Added file \"Scripts\\setup.cmd\" to package.\n");
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(entryBytes(package, "Scripts/setup.cmd"), "@echo off\r\n");
    EXPECT_LACKS(entryBytes(package, "FilesystemMetadata.xml"), "Scripts");
    EXPECT_HAS(entryBytes(package, Types), "Extension=\"cmd\"");
}

TEST_F(EditSafety, ACommandFileThatRunsItselfIsRefused) {
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

TEST_F(EditSafety, BytesThatAreNotUtf8AreReadAsInCommandFilesAndStdoutStaysUtf8) {
    const std::string name = "Caf\xE9 \xFF";
    writeFile(dir / "stdout.txt", saved({"/Update", "demo.appv", "Set-NodeText", "AppxManifest.xml", "-xpath",
                                         DisplayNameXPath, "-nodetext", name}));
    EXPECT_EQ(pythonRun("import sys; open(sys.argv[1], 'rb').read().decode('utf-8')", {dir / "stdout.txt"}),
              "")
        << "standard output is not UTF-8";
    EXPECT_EQ(query("AppxManifest.xml", "print([e.text for e in r.iter() if e.tag.endswith('DisplayName')]"
                                        "[0].encode('utf-8').hex())"),
              "436166c3a920c3bf\n")
        << "the same Windows-1252 reading as in command files";
}

TEST_F(EditSafety, APackageNameWithPercentDigitsIsThatFileAndNeedsNoCause) {
    fs::copy_file(package, dir / "50%41.appv");
    EXPECT_LACKS(saved({"/Update", "50%41.appv", "Add-File", Notes + R"(\new.txt)", "new.txt"}), "Cause:");
}

TEST_F(EditSafety, ASignatureIsRemovedWithOneLineSinceTheEditInvalidatesIt) {
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
