// What a run leaves behind when it is interrupted or killed: never a partial package, and (except
// after SIGKILL) nothing in the temp folder.
#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
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

} // namespace

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
