// Faults around a run: a full temp folder while extracting and while saving, a source file that
// cannot be read or vanishes before the save. Each ends with a clear message and the failure
// code, the package file as it was, and no workspace left. (A full or read-only package folder,
// signals and kill -9 are covered by the interruption tests.)
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

TEST(FaultInjection, AFullTempFolderWhileExtractingOrSavingKeepsThePackageAndLeavesNothing) {
    if (!canMountPrivately())
        GTEST_SKIP() << "needs root and mount namespaces";
    struct Case {
        const char* name;
        size_t payload;
        const char* tmpfsSize;
        std::string waitFor, meanwhile;
        std::vector<std::string> messages; // "@" stands for the temp folder, "%" for the package
    };
    const Case cases[] = {
        // The declared sizes do not fit: refused before the first byte is written.
        {"extracting",
         2 << 20,
         "1m",
         "exit=",
         "true",
         {"Failed to open: % (invalid file format).\nCause: ", "bytes that may be extracted into @/{"}},
        // Extracted and edited with room to spare; then the temp folder's file system is filled up,
        // and only then does the command file end and the save begin. The archive goes beside the
        // package; what fails is the block map, the one file the save writes in the temp folder.
        {"saving",
         1 << 20,
         "300m",
         "Replaced text",
         "dd if=/dev/zero of=@/filler bs=1M 2>/dev/null",
         {"File \"@/{", "/AppxBlockMap.xml\" could not be written.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        std::string package = packageWithPayload(dir, c.payload);
        FileStamp before = stampOf(package);
        std::string tmp = dir / "tmp";
        fs::create_directories(tmp);
        auto fill = [&](std::string text) {
            for (auto [mark, with] : {std::pair{"@", tmp}, std::pair{"%", package}})
                for (size_t at; (at = text.find(mark)) != std::string::npos;)
                    text.replace(at, 1, with);
            return text;
        };
        std::string script = "mount -t tmpfs -o size=" + std::string(c.tmpfsSize) + " tmpfs " +
                             shellQuote(tmp) + " && " +
                             pipedRun(dir.path(), tmp, package,
                                      std::string("Set-NodeText AppxManifest.xml -xpath ") +
                                          DisplayNameXPath + " -nodetext Full\n",
                                      c.waitFor, fill(c.meanwhile)) +
                             "; rm -f " + shellQuote(tmp + "/filler") + "; ls -A " + shellQuote(tmp);
        RunResult r = runProgram({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script + " 2>&1"});
        for (const std::string& message : c.messages)
            EXPECT_HAS(r.out, fill(message));
        EXPECT_LACKS(r.out, "Package updated successfully");
        EXPECT_TRUE(r.out.ends_with("exit=100\n")) << "nothing left in the temp folder:\n" << r.out;
        EXPECT_TRUE(stampOf(package) == before);
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

TEST(FaultInjection, UnreadableSourceFileFailsTheSaveAndKeepsThePackage) {
    // Root reads every file whatever its permissions: run as nobody then.
    std::vector<std::string> prefix;
    if (geteuid() == 0) {
        if (runShell("setpriv --reuid=65534 --regid=65534 --clear-groups true").exitCode != 0)
            GTEST_SKIP() << "cannot run as an unprivileged user";
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    ScratchDir dir;
    std::string package = packageWithPayload(dir, 1000);
    std::string tmp = dir / "tmp";
    fs::create_directories(tmp);
    std::string source = dir / "secret.txt";
    writeFile(source, "nobody may read this");
    ::chmod(source.c_str(), 0);
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(tmp.c_str(), 0777);
    ::chmod(package.c_str(), 0666);
    FileStamp before = stampOf(package);

    std::vector<std::string> argv = prefix;
    for (const std::string& a : {quendleExe(), std::string("/Update"), package, std::string("Add-File"),
                                 std::string("Root\\VFS\\ProgramFilesX86\\Demo Notes\\secret.txt"), source})
        argv.push_back(a);
    MeasuredRun run = runMeasured(argv, tmp);
    EXPECT_EQ(run.exitCode, 100) << run.output;
    EXPECT_HAS(run.output, "secret.txt");
    EXPECT_LACKS(run.output, "Package updated successfully");
    EXPECT_LACKS(run.output, "nobody may read this");
    EXPECT_TRUE(stampOf(package) == before);
    EXPECT_TRUE(run.tempLeftovers.empty());
}
