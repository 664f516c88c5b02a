// Hostile packages through the whole program: each is refused with a clear message, nothing is
// written outside the workspace, the package file is untouched, and time and memory stay bounded.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

// Far more than a good run needs (a few megabytes), far less than any of the payloads.
long memoryBoundKiB() {
    return sanitizedBuild() ? 600 * 1024 : 200 * 1024;
}

// A hostile variant of the demo package, written by the attacker's script, and its state before
// the run.
struct Hostile {
    std::string package;
    FileStamp before;
};

Hostile hostile(const ScratchDir& dir, const std::string& kind, const std::string& target = {}) {
    std::string out = dir / (kind + ".appv");
    RunResult r = runProgram({"/usr/bin/python3", sourceDir() + "/tests/cli/HostilePackages.py",
                              demoPackage(), kind, out, target.empty() ? dir / "unused" : target});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    return {out, stampOf(out)};
}

// A value edit reaches the hive.
MeasuredRun setWidth(const std::string& package) {
    return runQuendleMeasured({"/Update", package, "Set-RegistryValue",
                               "REGISTRY\\MACHINE\\SOFTWARE\\Quendle Demo\\Notes", "-valuename", "Width",
                               "-type", "dword", "-value", "1"});
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
    EXPECT_HAS(run.output, message);
    EXPECT_LACKS(run.output, "Package updated successfully");
    EXPECT_TRUE(stampOf(package) == before) << "the package file changed";
    EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
    EXPECT_LT(run.seconds, 60.0);
    EXPECT_LT(run.peakKiB, memoryBoundKiB());
}

} // namespace

// Each refusal leaves nothing written outside the workspace, nor anything read from outside it.
TEST(HostilePackage, EachAttackIsRefusedWithItsOwnCauseInBoundedTimeAndMemory) {
    ASSERT_FALSE(demoPackage().empty());
    struct Case {
        const char* kind;
        std::string message;       // the refusal
        std::string cause;         // a further part of the output
        bool editsTheHive = false; // else the display name
    };
    const Case cases[] = {
        // Names that climb out of the workspace to the secret file beside the package, or name it.
        {"slip", "", ""},
        {"slip-backslash", "", ""},
        {"slip-escaped", "", ""},
        {"absolute", "", ""},
        // A second manifest and a second notes file, each spelt in another case: which one the
        // client would read is up to the order of writing.
        {"case-twins", "\nCause: entries \"", "differ only in case"},
        // The entity names a secret file beside the package, which must never be read.
        {"external-entity", "AppxManifest.xml", ""},
        // Reading the display name (the change line shows the old text) would expand 10^9 "lol"s.
        {"billion-laughs", "AppxManifest.xml", ""},
        // The entry declares one mebibyte and inflates to ten gibibytes. No edit touches it, so it
        // is found out when the save copies it.
        {"bomb-lying",
         "The package is damaged: the data of \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\bomb.bin\" do not "
         "match the package's directory. The package was not changed.\nCause: it holds more data than it "
         "declares",
         ""},
        {"hive-loop", "The registry is corrupted.", "", true},
        // One bin of 1 GiB of free space: the format allows it, no real hive needs it.
        {"hive-free-bin", "The registry is corrupted.", "", true},
        // 200 entries on one local header of 64 MiB of zeros would extract 12.5 GiB.
        {"shared-local-header", "\nCause: ", "\" share the local header at offset "},
        {"into-central-directory", "\nCause: ", ") runs into the central directory at offset "},
        {"nul-name", "\nCause: ", "a%00b.txt\" has a NUL character in its name"},
        {"raw-nul-name", "\nCause: ", "a\\x00b.txt\" has a NUL character in its name"},
        {"control-name", "\nCause: ", "line%0Abreak.txt\" has a control character (U+000A) in its name"},
        {"non-utf8-name", "\nCause: ", "bad\\xFF\\xFE.txt\" has a name that is not UTF-8"},
        {"separator-twins", "\nCause: ", "name the same file: their names differ only in separators"},
        {"attributes-manifest", "Element \"Package\" has more than 1000 attributes.", ""},
        // 50,000 references to an entity of 50 kB: 2.5 GB if the edited text were expanded.
        {"entity-expansion", "Entity references expand to more than 1048576 bytes.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ScratchDir dir;
        std::string secret = dir / "secret.txt";
        writeFile(secret, "TOP-SECRET-CONTENT");
        Hostile h = hostile(dir, c.kind, secret);
        ASSERT_LT(fs::file_size(h.package), 20u << 20) << "each attack is crafted cheaply";
        MeasuredRun run = c.editsTheHive ? setWidth(h.package) : editDisplayName(h.package);
        std::string message =
            c.message.empty() || c.message[0] == '\n' ? openFailure(h.package) + c.message : c.message;
        expectRefused(run, h.package, h.before, message);
        EXPECT_HAS(run.output, c.cause);
        EXPECT_LACKS(run.output, "TOP-SECRET-CONTENT");
        EXPECT_EQ(readFile(secret), "TOP-SECRET-CONTENT");
        EXPECT_EQ(filesBelow(dir.path()), 2u) << "the package and secret.txt only";
        EXPECT_LT(run.seconds, 20.0);
        EXPECT_LT(run.output.size(), 100000u);
    }
}

TEST(HostilePackage, TenGibibyteZipBombDeclaredHonestlyIsRefusedBeforeFillingTheDisk) {
    // The declared size is checked against the free space of the temp folder's file system: a
    // small file system of its own makes the check independent of this machine's disk.
    if (!canMountPrivately())
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

TEST(HostilePackage, HiveFreeSpaceCostsNoMemory) {
    ASSERT_FALSE(demoPackage().empty());
    // 256 MiB of one-page bins, each a free cell: scanned, never held, and not saved again.
    ScratchDir dir;
    Hostile h = hostile(dir, "hive-free-bins");
    MeasuredRun run = setWidth(h.package);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_LT(run.peakKiB, memoryBoundKiB());
    EXPECT_LT(run.seconds, 20.0);
    EXPECT_TRUE(run.tempLeftovers.empty());
    EXPECT_EQ(runShell("unzip -tq " + shellQuote(h.package)).exitCode, 0);
    EXPECT_LT(entryBytes(h.package, "Registry.dat").size(), 1u << 20);
    EXPECT_HAS(hivexExport(h.package), "\"Width\"=dword:00000001");
}
