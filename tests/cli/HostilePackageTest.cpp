// Hostile packages through the whole program: each is refused with a clear message, nothing is
// written outside the workspace, the package file is untouched, and time and memory stay bounded.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const char* const DisplayNameXPath = "//appx:Properties/appx:DisplayName";

// Far more than a good run needs (a few megabytes), far less than any of the payloads.
long memoryBoundKiB() {
    return sanitizedBuild() ? 600 * 1024 : 200 * 1024;
}

// A hostile variant of the demo package, written by the attacker's script.
std::string hostilePackage(const ScratchDir& dir, const std::string& kind, const std::string& target) {
    std::string out = dir / (kind + ".appv");
    RunResult r = runProgram({"/usr/bin/python3", sourceDir() + "/tests/cli/HostilePackages.py",
                              demoPackage(), kind, out, target});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    return out;
}

MeasuredRun editDisplayName(const std::string& package, const std::string& tempFolder = {}) {
    return runQuendleMeasured({"/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath",
                               DisplayNameXPath, "-nodetext", "Edited"},
                              tempFolder);
}

// What every refusal must show: the message, the failure code, an untouched package, no workspace
// left, and bounded time and memory.
void expectRefused(const MeasuredRun& run, const std::string& package, const FileStamp& before,
                   const std::string& message) {
    EXPECT_EQ(run.exitCode, 100) << run.output;
    EXPECT_TRUE(contains(run.output, message)) << run.output;
    EXPECT_FALSE(contains(run.output, "Package updated successfully")) << run.output;
    EXPECT_TRUE(stampOf(package) == before) << "the package file changed";
    EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
    EXPECT_LT(run.seconds, 60.0);
    EXPECT_LT(run.peakKiB, memoryBoundKiB());
}

} // namespace

TEST(HostilePackage, NamesClimbingOutOrAbsoluteAreRefusedAndNothingIsWrittenOutside) {
    ASSERT_FALSE(demoPackage().empty());
    for (const char* kind : {"slip", "slip-backslash", "slip-escaped", "absolute"}) {
        SCOPED_TRACE(kind);
        ScratchDir dir;
        // The file each hostile name aims at, by climbing out of the workspace or directly.
        std::string target = dir / "escaped.txt";
        std::string package = hostilePackage(dir, kind, target);
        FileStamp before = stampOf(package);
        std::string tmp = dir / "tmp";
        fs::create_directories(tmp);
        MeasuredRun run = editDisplayName(package, tmp);
        expectRefused(run, package, before, "Failed to open: " + package + " (invalid file format).");
        EXPECT_EQ(filesBelow(dir.path()), std::vector<std::string>{std::string(kind) + ".appv"});
    }
}

TEST(HostilePackage, EntriesDifferingOnlyInCaseAreRefused) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    // A second manifest and a second notes file, each spelt in another case: which one the
    // client would read is up to the order of writing.
    std::string package = hostilePackage(dir, "case-twins", dir / "unused");
    FileStamp before = stampOf(package);
    MeasuredRun run = editDisplayName(package);
    expectRefused(run, package, before, "Failed to open: " + package + " (invalid file format).\nCause: entries \"");
    EXPECT_TRUE(contains(run.output, "differ only in case")) << run.output;
}

TEST(HostilePackage, ManifestWithAnExternalEntityIsRefusedWithoutReadingIt) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    std::string secret = dir / "secret.txt";
    writeFile(secret, "TOP-SECRET-CONTENT");
    std::string package = hostilePackage(dir, "external-entity", secret);
    FileStamp before = stampOf(package);
    MeasuredRun run = editDisplayName(package);
    expectRefused(run, package, before, "AppxManifest.xml");
    EXPECT_FALSE(contains(run.output, "TOP-SECRET-CONTENT")) << run.output;
}

TEST(HostilePackage, ManifestWithABillionLaughsIsRefusedInBoundedMemory) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    std::string package = hostilePackage(dir, "billion-laughs", dir / "unused");
    FileStamp before = stampOf(package);
    // Reading the display name (the change line shows the old text) would expand 10^9 "lol"s.
    MeasuredRun run = editDisplayName(package);
    expectRefused(run, package, before, "AppxManifest.xml");
    EXPECT_LT(run.output.size(), 100000u);
}

TEST(HostilePackage, TenGibibyteZipBombIsStoppedAtItsDeclaredSize) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    // The entry declares one mebibyte and inflates to ten gibibytes.
    std::string package = hostilePackage(dir, "bomb-lying", dir / "unused");
    ASSERT_LT(fs::file_size(package), 20u << 20) << "the bomb is crafted cheaply";
    FileStamp before = stampOf(package);
    MeasuredRun run = editDisplayName(package);
    expectRefused(run, package, before, "Failed to open: " + package + " (invalid file format).");
    EXPECT_LT(run.seconds, 20.0);
}

TEST(HostilePackage, TenGibibyteZipBombDeclaredHonestlyIsRefusedBeforeFillingTheDisk) {
    // The declared size is checked against the free space of the temp folder's file system: a
    // small file system of its own makes the check independent of this machine's disk.
    if (geteuid() != 0 || runShell("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs /mnt'").exitCode != 0)
        GTEST_SKIP() << "needs root and mount namespaces";
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    std::string package = hostilePackage(dir, "bomb-honest", dir / "unused");
    FileStamp before = stampOf(package);
    std::string tmp = dir / "tmp";
    fs::create_directories(tmp);
    std::string script = "mount -t tmpfs -o size=512m tmpfs " + shellQuote(tmp) + " && exec " +
                         shellQuote(quendleExe()) + " /Update " + shellQuote(package) +
                         " Set-NodeText AppxManifest.xml -xpath " + DisplayNameXPath + " -nodetext Edited";
    MeasuredRun run = runMeasured({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script}, tmp);
    expectRefused(run, package, before, "Failed to open: " + package + " (invalid file format).");
    EXPECT_LT(run.seconds, 20.0);
}

TEST(HostilePackage, HiveWithASubkeyListLoopIsRefusedAsCorrupt) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    std::string package = hostilePackage(dir, "hive-loop", dir / "unused");
    FileStamp before = stampOf(package);
    MeasuredRun run = runQuendleMeasured({"/Update", package, "Set-RegistryValue",
                                          "REGISTRY\\MACHINE\\SOFTWARE\\Quendle Demo\\Notes", "-valuename",
                                          "Width", "-type", "dword", "-value", "1"});
    expectRefused(run, package, before, "The registry is corrupted.");
}
