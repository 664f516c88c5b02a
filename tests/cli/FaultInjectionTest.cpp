// Faults around a run: a full or read-only file system, a source file that vanishes before the
// save. Each ends with a clear message and the failure code, the package file as it was, and no
// workspace left. (Signals and kill -9 are covered by the interruption tests.)
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

// A shell script that starts a command-file run reading from a pipe, feeds it `lines`, waits for
// `waitFor` in its output, runs `meanwhile`, then ends the command file and waits for the run.
// Prints the run's output followed by "exit=<code>".
std::string pipedRun(const std::string& dir, const std::string& tmp, const std::string& package,
                     const std::string& lines, const std::string& waitFor, const std::string& meanwhile) {
    std::string d = shellQuote(dir);
    return "cd " + d + " || exit 1; mkfifo commands || exit 1; (TMPDIR=" + shellQuote(tmp) + " NO_COLOR=1 " +
           shellQuote(quendleExe()) + " /BatchFileUpdate " + shellQuote(package) +
           " commands >out.txt 2>&1; echo \"exit=$?\" >>out.txt) & exec 3>" + d + "/commands; printf '%s' " +
           shellQuote(";qdc\n" + lines) + " >&3; i=0; until grep -q " + shellQuote(waitFor) +
           " out.txt || [ $i -gt 600 ]; do sleep 0.05; i=$((i+1)); done; " + meanwhile +
           "; exec 3>&-; wait; cat out.txt";
}

} // namespace

// A small file system of its own, mounted in a private mount namespace (which needs root), at the
// temp folder or at the package's folder; full, filled up during the run, or read-only.
TEST(FaultInjection, AFullOrReadOnlyFileSystemKeepsThePackageAndLeavesNothing) {
    if (!canMountPrivately())
        GTEST_SKIP() << "needs root and mount namespaces";
    struct Case {
        const char* name;
        size_t payload;
        bool atTemp;                                   // else at the package's folder
        std::string size;                              // of the file system; empty: just room for the package
        std::string waitFor, meanwhile, message, more; // "@" stands for the temp folder, "%" the package
    };
    const Case cases[] = {
        // The declared sizes do not fit: refused before the first byte is written.
        {"temp folder full before extracting", 2 << 20, true, "1m", "exit=", "true",
         "Failed to open: % (invalid file format).\nCause: ", "bytes that may be extracted into @/{"},
        // Extracted and edited with room to spare; then the temp folder's file system is filled up,
        // and only then does the command file end and the save begin. The archive goes beside the
        // package; what fails is the block map, the one file the save writes in the temp folder.
        {"temp folder filled before saving", 1 << 20, true, "300m", "Replaced text",
         "dd if=/dev/zero of=@/filler bs=1M 2>/dev/null", "File \"@/{",
         "/AppxBlockMap.xml\" could not be written.\n"},
        // The new archive is written straight beside the package: the entry being written names it.
        {"package folder full", 96 << 10, false, "", "Replaced text", "true",
         "Cause: There is not enough space on the disk.", ""},
        {"package folder read-only", 96 << 10, false, "1m", "Replaced text",
         "mount -o remount,ro $(dirname %)",
         "Unable to save App-V 5.x package. The media is write protected.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string original = packageWithPayload(dir, c.payload, "original.appv"), tmp = dir / "tmp",
                          folder = dir / "pkg", package = folder + "/pkg.appv";
        fs::create_directories(tmp);
        fs::create_directories(folder);
        auto fill = [&](std::string text) {
            for (auto [mark, with] : {std::pair{"@", tmp}, std::pair{"%", package}})
                for (size_t at; (at = text.find(mark)) != std::string::npos;)
                    text.replace(at, 1, with);
            return text;
        };
        const std::string size =
            c.size.empty() ? std::to_string((fs::file_size(original) + 4095) / 4096 * 4 + 8) + "k" : c.size;
        std::string script =
            "mount -t tmpfs -o size=" + size + " tmpfs " + shellQuote(c.atTemp ? tmp : folder) + " && cp " +
            shellQuote(original) + " " + shellQuote(package) + " && " +
            pipedRun(dir.path(), tmp, package,
                     std::string("Set-NodeText AppxManifest.xml -xpath ") + DisplayNameXPath +
                         " -nodetext Full\n",
                     c.waitFor, fill(c.meanwhile)) +
            "; rm -f " + shellQuote(tmp + "/filler") + "; cmp -s " + shellQuote(original) + " " +
            shellQuote(package) + " && echo same; ls -A " + shellQuote(folder) + " " + shellQuote(tmp);
        RunResult r = runProgram({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script + " 2>&1"});
        EXPECT_HAS(r.out, fill(c.message));
        EXPECT_HAS(r.out, fill(c.more));
        EXPECT_LACKS(r.out, "Package updated successfully");
        EXPECT_HAS(r.out, "exit=100\nsame\n" + folder + ":\npkg.appv\n\n" + tmp + ":\n")
            << "the package as it was, nothing left beside it or in the temp folder";
        EXPECT_TRUE(r.out.ends_with(tmp + ":\n")) << r.out;
    }
}

TEST(FaultInjection, SourceFileThatVanishesBeforeTheSaveFailsItAndKeepsThePackage) {
    ScratchDir dir, tmp;
    std::string package = packageWithPayload(dir, 1000);
    FileStamp before = stampOf(package);
    std::string source = dir / "added.txt";
    writeFile(source, "soon gone");
    std::string script =
        pipedRun(dir.path(), tmp.path(), package,
                 "Add-File \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\added.txt\" " + source + "\n",
                 "Added file", "rm " + shellQuote(source));
    RunResult r = runShell(script);
    EXPECT_HAS(r.out, "Unable to add file to package: \"" + source + "\".");
    EXPECT_LACKS(r.out, "Package updated successfully");
    EXPECT_TRUE(r.out.ends_with("exit=100\n")) << r.out;
    EXPECT_TRUE(stampOf(package) == before);
    EXPECT_TRUE(leftovers(tmp.path()).empty());
}
