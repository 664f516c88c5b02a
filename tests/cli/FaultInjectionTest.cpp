// Faults around a run: signals and kill -9 at any moment, a full or read-only file system, a
// source file that vanishes before the save. Never a partial package; each refusal ends with a
// clear message and the failure code, the package file as it was, and (except after SIGKILL) no
// workspace left.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace quendle::test;

namespace {

// A running quendle with its own temp folder and captured output.
class Child {
  public:
    Child(const std::vector<std::string>& args, const std::string& tempFolder, const std::string& outPath) {
        std::vector<std::string> argv{quendleExe()};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            setenv("TMPDIR", tempFolder.c_str(), 1);
            setenv("NO_COLOR", "1", 1);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> raw;
            for (auto& a : argv)
                raw.push_back(a.data());
            raw.push_back(nullptr);
            execv(raw[0], raw.data());
            _exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void signal(int sig) { kill(pid_, sig); }
    // The signal that ended the child, or 0 when it exited.
    int waitForSignal() {
        int status = 0;
        waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

  private:
    pid_t pid_ = -1;
};

bool waitForText(const std::string& path, const std::string& text, std::chrono::seconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (contains(readFile(path), text))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

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

TEST(EndToEndInterrupt, SignalsAndFaultsRemoveTheWorkspaceAndLeaveThePackage) {
    // SIGSEGV stands for a hardware fault: reported by the fault handler, which then exits.
    // Every signal that ends a process by default and can be caught cleans up alike; what
    // SIGKILL leaves, and a hidden temporary of an older killed save, the next run removes.
    for (int sig : {SIGTERM, SIGINT, SIGSEGV, SIGUSR1, SIGALRM, SIGXCPU, SIGRTMIN + 3, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        ScratchDir dir, tmp;
        std::string package = dir / "demo.appv";
        ASSERT_TRUE(makePackage(demoDir(), package));
        FileStamp before = stampOf(package);
        // The run reads its commands from a pipe that stays open, so it is caught in the middle
        // of its work: the package extracted and edited in memory, nothing saved yet.
        std::string fifo = dir / "commands";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::string out = dir / "out.txt";
        Child child({"/BatchFileUpdate", package, fifo}, tmp.path(), out);
        int writer = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(writer, 0);
        std::string lines = std::string(";qdc\nSet-NodeText AppxManifest.xml -xpath ") + DisplayNameXPath +
                            " -nodetext Interrupted\n";
        ASSERT_EQ(write(writer, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
        ASSERT_TRUE(waitForText(out, "Replaced text", std::chrono::seconds(20))) << readFile(out);
        EXPECT_FALSE(leftovers(tmp.path()).empty()) << "the workspace exists while the run works";

        child.signal(sig);
        int endedBy = child.waitForSignal();
        if (sig == SIGSEGV)
            EXPECT_HAS(readFile(out), "ACCESS_VIOLATION");
        else
            EXPECT_EQ(endedBy, sig) << "the run ends by the signal, as the caller expects";
        close(writer);
        EXPECT_TRUE(stampOf(package) == before);
        if (sig == SIGKILL) {
            EXPECT_FALSE(leftovers(tmp.path()).empty()) << "a killed run cannot clean up";
            writeFile(dir / ".demo.appv.0badf00d", "half");
            fs::last_write_time(dir / ".demo.appv.0badf00d",
                                fs::file_time_type::clock::now() - std::chrono::hours(1));
            RunResult next = runProgram({quendleExe(), "/Update", package, "Set-NodeText", "AppxManifest.xml",
                                         "-xpath", DisplayNameXPath, "-nodetext", "Next"},
                                        {{{"TMPDIR", tmp.path()}, {"NO_COLOR", "1"}}, ""});
            EXPECT_EQ(next.exitCode, 0) << next.out;
            EXPECT_FALSE(fs::exists(dir / ".demo.appv.0badf00d"));
            EXPECT_HAS(entryBytes(package, "AppxManifest.xml"), "<DisplayName>Next</DisplayName>");
        }
        EXPECT_TRUE(leftovers(tmp.path()).empty()) << "workspace left: " << leftovers(tmp.path()).front();
    }
}

TEST(EndToEndInterrupt, KillDashNineAtAnyMomentLeavesTheOldOrACompleteNewPackage) {
    ScratchDir dir;
    // A payload big enough that packing takes a while, so the kills land at different stages.
    std::string pristine = packageWithPayload(dir, 4 << 20, "pristine.appv");
    ASSERT_FALSE(pristine.empty());
    const std::string oldBytes = readFile(pristine);
    std::mt19937 random(20261206);

    int oldSeen = 0, newSeen = 0;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScratchDir work, tmp;
        std::string package = work / "pkg.appv";
        fs::copy_file(pristine, package);
        Child child({"/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath", DisplayNameXPath,
                     "-nodetext", "Killed"},
                    tmp.path(), work / "out.txt");
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 700)(random)));
        child.signal(SIGKILL);
        child.waitForSignal();

        std::string bytes = readFile(package);
        if (bytes == oldBytes) {
            ++oldSeen;
            continue;
        }
        ++newSeen;
        EXPECT_EQ(verifyPackage(package), "") << "a changed package must be complete";
        EXPECT_HAS(entryBytes(package, "AppxManifest.xml"), "<DisplayName>Killed</DisplayName>");
    }
    std::printf("killed runs: %d left the old package, %d a new one\n", oldSeen, newSeen);
}
