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

// A hostile package and its state before the run.
struct Hostile {
    std::string package;
    FileStamp before;
};

Hostile hostile(const ScratchDir& dir, const std::string& kind, const std::string& target = {}) {
    std::string package = hostilePackage(dir, kind, target.empty() ? dir / "unused" : target);
    return {package, stampOf(package)};
}

std::string openFailure(const std::string& package) {
    return "Failed to open: " + package + " (invalid file format).";
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
        Hostile h = hostile(dir, kind, target);
        std::string tmp = dir / "tmp";
        fs::create_directories(tmp);
        MeasuredRun run = editDisplayName(h.package, tmp);
        expectRefused(run, h.package, h.before, openFailure(h.package));
        EXPECT_EQ(filesBelow(dir.path()), std::vector<std::string>{std::string(kind) + ".appv"});
    }
}

TEST(HostilePackage, EntriesDifferingOnlyInCaseAreRefused) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    // A second manifest and a second notes file, each spelt in another case: which one the
    // client would read is up to the order of writing.
    Hostile h = hostile(dir, "case-twins");
    MeasuredRun run = editDisplayName(h.package);
    expectRefused(run, h.package, h.before, openFailure(h.package) + "\nCause: entries \"");
    EXPECT_TRUE(contains(run.output, "differ only in case")) << run.output;
}

TEST(HostilePackage, ManifestWithAnExternalEntityIsRefusedWithoutReadingIt) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    std::string secret = dir / "secret.txt";
    writeFile(secret, "TOP-SECRET-CONTENT");
    Hostile h = hostile(dir, "external-entity", secret);
    MeasuredRun run = editDisplayName(h.package);
    expectRefused(run, h.package, h.before, "AppxManifest.xml");
    EXPECT_FALSE(contains(run.output, "TOP-SECRET-CONTENT")) << run.output;
}

TEST(HostilePackage, ManifestWithABillionLaughsIsRefusedInBoundedMemory) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    Hostile h = hostile(dir, "billion-laughs");
    // Reading the display name (the change line shows the old text) would expand 10^9 "lol"s.
    MeasuredRun run = editDisplayName(h.package);
    expectRefused(run, h.package, h.before, "AppxManifest.xml");
    EXPECT_LT(run.output.size(), 100000u);
}

TEST(HostilePackage, TenGibibyteZipBombIsStoppedAtItsDeclaredSize) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    // The entry declares one mebibyte and inflates to ten gibibytes. No edit touches it, so it is
    // found out when the save copies it.
    Hostile h = hostile(dir, "bomb-lying");
    ASSERT_LT(fs::file_size(h.package), 20u << 20) << "the bomb is crafted cheaply";
    MeasuredRun run = editDisplayName(h.package);
    expectRefused(run, h.package, h.before,
                  "The package is damaged: the data of \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\bomb.bin\" "
                  "do not match the package's directory. The package was not changed.\n"
                  "Cause: it holds more data than it declares");
    EXPECT_LT(run.seconds, 20.0);
}

TEST(HostilePackage, TenGibibyteZipBombDeclaredHonestlyIsRefusedBeforeFillingTheDisk) {
    // The declared size is checked against the free space of the temp folder's file system: a
    // small file system of its own makes the check independent of this machine's disk.
    if (geteuid() != 0 || runShell("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs /mnt'").exitCode != 0)
        GTEST_SKIP() << "needs root and mount namespaces";
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    Hostile h = hostile(dir, "bomb-honest");
    std::string tmp = dir / "tmp";
    fs::create_directories(tmp);
    std::string script = "mount -t tmpfs -o size=512m tmpfs " + shellQuote(tmp) + " && exec " +
                         shellQuote(quendleExe()) + " /Update " + shellQuote(h.package) +
                         " Set-NodeText AppxManifest.xml -xpath " + DisplayNameXPath + " -nodetext Edited";
    MeasuredRun run = runMeasured({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script}, tmp);
    expectRefused(run, h.package, h.before, openFailure(h.package));
    EXPECT_LT(run.seconds, 20.0);
}

TEST(HostilePackage, HiveWithASubkeyListLoopIsRefusedAsCorrupt) {
    ASSERT_FALSE(demoPackage().empty());
    ScratchDir dir;
    Hostile h = hostile(dir, "hive-loop");
    MeasuredRun run = runQuendleMeasured({"/Update", h.package, "Set-RegistryValue",
                                          "REGISTRY\\MACHINE\\SOFTWARE\\Quendle Demo\\Notes", "-valuename",
                                          "Width", "-type", "dword", "-value", "1"});
    expectRefused(run, h.package, h.before, "The registry is corrupted.");
}
