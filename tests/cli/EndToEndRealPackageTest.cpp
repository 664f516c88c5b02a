// Edits of a package assembled from real App-V material (the 3.7 MB Office manifest, its
// file-system metadata and a real registry hive from ../shared/samples), read back with
// independent tools.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

using namespace quendle::test;

namespace {

const char* const WordOptionsKey =
    R"(REGISTRY\MACHINE\SYSTEM\CurrentControlSet\services\adsi\Options\winword.exe)";

std::set<std::string> lines(const std::string& text) {
    std::set<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.insert(line);
    return out;
}

class EndToEndRealPackage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!haveSamples())
            GTEST_SKIP() << "no samples at " << samplesDir();
        package = samplePackage(dir.path(), "word.x-none.msi.16.x-none.vreg.dat", true);
        ASSERT_FALSE(package.empty());
        std::string source = dir / "sample-source";
        originalManifest = readFile(source + "/AppxManifest.xml");
        originalHive = source + "/Registry.dat";
    }

    std::string savedHive() {
        std::string path = dir / "saved.dat";
        writeFile(path, entryBytes(package, "Registry.dat"));
        return path;
    }

    ScratchDir dir;
    std::string package;
    std::string originalManifest;
    std::string originalHive;
};

} // namespace

TEST_F(EndToEndRealPackage, CommandLineEditsReachTheManifestAndTheHiveAndNothingElseIsLost) {
    EXPECT_HAS(succeeded({"/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath", DisplayNameXPath,
                          "-nodetext", "Office, edited", "/Set-RegistryValue",
                          R"(REGISTRY\MACHINE\Software\Quendle Test)", "-valuename", "Marker", "-type", "sz",
                          "-value", "written by the test"}),
               "Package updated successfully");
    EXPECT_EQ(verifyPackage(package), "");

    std::string manifest = entryBytes(package, "AppxManifest.xml");
    EXPECT_HAS(manifest, "<DisplayName>Office, edited</DisplayName>");
    for (const char* marker :
         {"Category=\"AppV.COM\"", "Category=\"AppV.FileTypeAssociation\"", "<appv:Extension "})
        EXPECT_EQ(occurrences(manifest, marker), occurrences(originalManifest, marker)) << marker;
    RunResult wellFormed =
        runShell("unzip -p " + shellQuote(package) + " AppxManifest.xml | xmllint --noout -");
    EXPECT_EQ(wellFormed.exitCode, 0) << wellFormed.out;

    std::string hive = savedHive();
    EXPECT_EQ(
        runProgram({"/usr/bin/hivexget", hive, R"(REGISTRY\MACHINE\Software\Quendle Test)", "Marker"}).out,
        "written by the test\n");
    // Every key and value of the real hive is still there.
    std::set<std::string> before = lines(hivexExport(originalHive)), after = lines(hivexExport(hive));
    EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()));
    EXPECT_EQ(after.size(), before.size() + 2) << "one new key and one new value";
}

TEST_F(EndToEndRealPackage, SchemaBreakingEditsAreRefusedAndCommandFileEditsAreSavedOnce) {
    const std::vector<std::string> edits{"Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity "
                                         "-attributename Version -attributevalue 16.0.17328.20207",
                                         std::string("Del-RegistryValue ") + WordOptionsKey +
                                             " CachingOptions"};
    std::vector<std::string> broken = edits;
    // An Entry without Long breaks the metadata schema.
    broken.push_back("New-Element FilesystemMetadata.xml -xpath //appv:Filesystem/appv:Entry -elementname "
                     "Entry -namespaceURI http://schemas.microsoft.com/appv/2010/FilesystemMetadata");
    writeCommandFile(dir / "broken.txt", broken);
    FileStamp before = stampOf(package);
    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"/Update", package, "Del-SingleNode", "AppxManifest.xml", "-xpath", "//appx:Identity"},
         "\nValidation failed on AppxManifest.xml\n"},
        {{"/BatchFileUpdate", package, dir / "broken.txt"},
         "\nValidation failed on FilesystemMetadata.xml\n"}};
    for (const auto& [args, message] : refusals) {
        QuendleRun run = runQuendle(args);
        EXPECT_EQ(run.result.exitCode, 100) << run.result.out;
        EXPECT_HAS(run.result.out, message);
        EXPECT_TRUE(stampOf(package) == before) << "the real package stays byte-identical";
        EXPECT_TRUE(run.tempLeftovers.empty());
    }

    writeCommandFile(dir / "office.txt", edits);
    EXPECT_EQ(occurrences(succeeded({"/BatchFileUpdate", package, dir / "office.txt"}),
                          "Package updated successfully"),
              1u);
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_HAS(entryBytes(package, "AppxManifest.xml"), "Version=\"16.0.17328.20207\"");
    std::string hive = savedHive();
    RunResult value = runProgram({"/usr/bin/hivexget", hive, WordOptionsKey, "CachingOptions"});
    EXPECT_NE(value.exitCode, 0) << "the value is gone: " << value.out;
    EXPECT_HAS(hivexExport(hive), "[\\" + std::string(WordOptionsKey) + "]") << "its key stays";
}
