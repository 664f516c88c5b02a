// The save copies the compressed bytes of every entry no edit touched, checked block by block
// against the old block map. Checked with tools that share no code with Quendle: unzip, 7-Zip,
// Python's zipfile and the block-map verifier, which inflates every block on its own.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const char* const BigEntry = "Root/VFS/ProgramFilesX86/Demo%20Notes/big.txt";
const char* const BigPath = "Root\\VFS\\ProgramFilesX86\\Demo Notes\\big.txt";
// An entry of one block: those are checked ahead, many at a time. Its "&" is "&amp;" in the old
// block map, and must still find the entry there.
const char* const SmallEntry = "Root/VFS/ProgramFilesX86/Demo%20Notes/a%26b.txt";
const char* const SmallPath = "Root\\VFS\\ProgramFilesX86\\Demo Notes\\a&b.txt";

class UnchangedEntries : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string source = dir / "source";
        fs::copy(demoDir(), source, fs::copy_options::recursive);
        // Several blocks of text (the last one short) and a block of noise.
        std::string text;
        for (int i = 0; text.size() < 300000; ++i)
            text += "line " + std::to_string(i) + " of the big file\n";
        writeFile(source + "/Root/VFS/ProgramFilesX86/Demo Notes/big.txt", text);
        writeFile(source + "/Root/VFS/ProgramFilesX86/Demo Notes/noise.bin", randomBytes(70000, 5));
        writeFile(source + "/Root/VFS/ProgramFilesX86/Demo Notes/a&b.txt", text.substr(0, 30000));
        good = dir / "good.appv";
        ASSERT_TRUE(makePackage(source, good));
        added = dir / "added.txt";
        std::string addedText;
        for (int i = 0; addedText.size() < 200000; ++i)
            addedText += "added line " + std::to_string(i * 7) + "\n";
        writeFile(added, addedText);
    }

    // A copy of the good package with one defect planted by the independent helper.
    std::string altered(const std::vector<std::string>& defect, const std::string& from = {}) {
        return damagedCopy(from.empty() ? good : from, dir / (defect[0] + std::to_string(made++) + ".appv"),
                           defect);
    }

    // The compressed bytes of an entry, cut out by the helper.
    std::string rawBytes(const std::string& package, const std::string& entry = BigEntry) {
        return readFile(altered({"raw", entry}, package));
    }

    QuendleRun addOneFile(const std::string& package, const RunOptions& options = {}) {
        QuendleRun run = runQuendle({"/Update", package, "Add-File", "Root\\VFS\\added.txt", added}, options);
        EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
        return run;
    }

    ScratchDir dir;
    std::string good, added;
    int made = 0;
};

const char* const DatesScript = R"(
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename, "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time))";

} // namespace

TEST_F(UnchangedEntries, AreCopiedAsTheyWereWithTheirDatesAndTheSameEditGivesTheSameBytesOnAnyThreads) {
    std::string before = rawBytes(good);
    std::string datesBefore = pythonRun(DatesScript, {good});
    std::string a = dir / "a.appv", b = dir / "b.appv";
    fs::copy_file(good, a);
    fs::copy_file(good, b);
    // Far from UTC, so that a date taken as local time in one place and as UTC in another shows.
    RunOptions options{
        {{"TZ", "America/New_York"}, {"SOURCE_DATE_EPOCH", "1700000000"}, {"QUENDLE_THREADS", "1"}}, {}};
    ASSERT_EQ(addOneFile(a, options).result.exitCode, 0);
    ::sleep(1);
    options.env["QUENDLE_THREADS"] = "3";
    ASSERT_EQ(addOneFile(b, options).result.exitCode, 0);
    EXPECT_EQ(verifyPackage(a), "");
    EXPECT_EQ(readFile(a), readFile(b)) << "the same edit of the same package gives the same bytes";
    EXPECT_EQ(rawBytes(a), before) << "an untouched entry keeps its compressed bytes";

    std::string datesAfter = pythonRun(DatesScript, {a});
    for (const char* untouched : {BigEntry, "Registry.dat", "AppxManifest.xml", "StreamMap.xml"}) {
        size_t at = datesBefore.find(std::string(untouched) + " ");
        EXPECT_HAS(datesAfter, datesBefore.substr(at, datesBefore.find('\n', at) + 1 - at));
    }
    // 1700000000 is 2023-11-14 22:13:20 UTC.
    for (const char* changed : {"Root/VFS/added.txt", "FilesystemMetadata.xml", "AppxBlockMap.xml"})
        EXPECT_HAS(datesAfter, std::string(changed) + " 2023-11-14 22:13:20\n");

    // The hive's own times (its header, a changed key) follow SOURCE_DATE_EPOCH too.
    for (const std::string& package : {a, b}) {
        ::sleep(1);
        succeeded({"/Update", package, "Set-RegistryValue", "REGISTRY\\MACHINE\\SOFTWARE\\Same", "-valuename",
                   "V", "-type", "sz", "-value", "v"},
                  options);
    }
    EXPECT_EQ(readFile(a), readFile(b)) << "the same registry edit gives the same bytes";
}

// A flipped byte is refused naming the entry, the package as it was with no temporary beside it;
// blocks that do not line up are compressed again, and a wrong old hash is corrected.
TEST_F(UnchangedEntries, AFlippedByteIsRefusedAndBlocksThatDoNotLineUpOrHaveAWrongOldHashAreMadeRight) {
    size_t leftBehind = 4; // the source folder, the good package, the added file and the damaged one
    for (auto [kind, entry] : {std::pair{"flip-payload", BigEntry}, std::pair{"flip-payload", SmallEntry},
                               std::pair{"ordinary", BigEntry}, std::pair{"block-size", BigEntry},
                               std::pair{"block-hash", BigEntry}, std::pair{"block-hash", SmallEntry}}) {
        SCOPED_TRACE(std::string(kind) + " " + entry);
        const std::string package = altered({kind, entry}), path = entry == BigEntry ? BigPath : SmallPath;
        const FileStamp before = stampOf(package);
        QuendleRun run = addOneFile(package);
        if (std::string(kind) == "flip-payload") {
            EXPECT_EQ(run.result.exitCode, 100) << run.result.out;
            EXPECT_HAS(run.result.err, "The package is damaged: the data of \"" + path +
                                           "\" do not match the package's directory.");
            EXPECT_LACKS(run.result.out, "Package updated successfully");
            EXPECT_TRUE(stampOf(package) == before) << "the package file changed";
            EXPECT_EQ(leftovers(dir.path()).size(), leftBehind++);
            continue;
        }
        EXPECT_EQ(run.result.exitCode, 0) << run.result.out;
        EXPECT_HAS(run.result.out, "Package updated successfully");
        EXPECT_EQ(verifyPackage(package), "");
        bool wrongHash = std::string(kind) == "block-hash";
        EXPECT_EQ(contains(run.result.err, "The old block map had 1 wrong block hashes (the first in \"" +
                                               path + "\"); the new one has the right ones.\n"),
                  wrongHash)
            << run.result.err;
        EXPECT_TRUE(!wrongHash || rawBytes(package, entry) == rawBytes(good, entry)) << "still copied";
    }
}
