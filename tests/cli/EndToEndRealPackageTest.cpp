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

} // namespace

TEST(EndToEndRealPackage, SchemaBreakingEditsAreRefusedAndEditsReachTheManifestAndTheHiveLosingNothing) {
    if (!haveSamples())
        GTEST_SKIP() << "no samples at " << samplesDir();
    ScratchDir dir;
    const std::string package = samplePackage(dir.path(), "word.x-none.msi.16.x-none.vreg.dat", true);
    ASSERT_FALSE(package.empty());
    const std::string originalManifest = readFile(dir / "sample-source/AppxManifest.xml");
    auto savedHive = [&] {
        writeFile(dir / "saved.dat", entryBytes(package, "Registry.dat"));
        return dir / "saved.dat";
    };

    // An Entry without Long breaks the metadata schema.
    writeCommandFile(dir / "broken.txt",
                     {"Del-RegistryValue " + std::string(WordOptionsKey) + " CachingOptions",
                      "New-Element FilesystemMetadata.xml -xpath //appv:Filesystem/appv:Entry -elementname "
                      "Entry -namespaceURI http://schemas.microsoft.com/appv/2010/FilesystemMetadata"});
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
    RunResult wellFormed =
        runShell("unzip -p " + shellQuote(package) + " AppxManifest.xml | xmllint --noout -");
    EXPECT_EQ(wellFormed.exitCode, 0) << wellFormed.out;
    EXPECT_EQ(
        runProgram({"/usr/bin/hivexget", savedHive(), R"(REGISTRY\MACHINE\Software\Quendle Test)", "Marker"})
            .out,
        "written by the test\n");
    // Every key and value of the real hive is still there.
    std::set<std::string> old = lines(hivexExport(dir / "sample-source/Registry.dat")),
                          now = lines(hivexExport(savedHive()));
    EXPECT_TRUE(std::includes(now.begin(), now.end(), old.begin(), old.end()));
    EXPECT_EQ(now.size(), old.size() + 2) << "one new key and one new value";

    // A command file's edits are saved once.
    writeCommandFile(dir / "office.txt",
                     {"Set-ElementAttribute AppxManifest.xml -xpath //appx:Identity "
                      "-attributename Version -attributevalue 16.0.17328.20207",
                      "Del-RegistryValue " + std::string(WordOptionsKey) + " CachingOptions"});
    EXPECT_EQ(occurrences(succeeded({"/BatchFileUpdate", package, dir / "office.txt"}),
                          "Package updated successfully"),
              1u);
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_HAS(entryBytes(package, "AppxManifest.xml"), "Version=\"16.0.17328.20207\"");
    const std::string hive = savedHive();
    RunResult value = runProgram({"/usr/bin/hivexget", hive, WordOptionsKey, "CachingOptions"});
    EXPECT_NE(value.exitCode, 0) << "the value is gone: " << value.out;
    EXPECT_HAS(hivexExport(hive), "[\\" + std::string(WordOptionsKey) + "]") << "its key stays";
}
