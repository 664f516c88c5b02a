// quendle.exe against what Windows has in place of the POSIX cases of tests/os/posix and tests/cli:
// another process holding the package or keeping it open, long and non-ASCII paths, Ctrl+C.
#include "os/PackageLock.h"
#include "os/StaleLeftovers.h"
#include "package/PackageTestSupport.h"

#include <thread>
#include <windows.h>

using namespace quendle;
using namespace quendle::test;

static const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes\)";

// With the prefix that lifts MAX_PATH.
static std::wstring longPath(const std::string& s) {
    return L"\\\\?\\" + fs::u8path(s).make_preferred().wstring();
}

struct WindowsPackage : ::testing::Test {
    void SetUp() override {
        package = packageWithPayload(dir, 64 << 10);
        ASSERT_FALSE(package.empty());
        writeFile(dir / "new.txt", "new");
    }
    QuendleRun addFile(const std::string& to, const RunOptions& options = {}) {
        return runQuendle({"/Update", to, "Add-File", Notes + "new.txt", dir / "new.txt"}, options);
    }
    ScratchDir dir;
    std::string package;
};

TEST_F(WindowsPackage, ALockHeldByAnotherProcessMakesARunWaitThenGiveUpAndChangeNothing) {
    FileStamp before = stampOf(package);
    {
        PackageLock lock;
        std::string holder;
        ASSERT_TRUE(lock.acquire(package, 0, {}, holder));
        QuendleRun run = addFile(package, RunOptions{{{"QUENDLE_LOCK_WAIT", "1"}}, {}});
        const std::string out = run.result.out + run.result.err;
        EXPECT_EQ(run.result.exitCode, static_cast<int>(0xE0010064)) << out; // the full code Windows shows
        EXPECT_HAS(out, "Waiting for another run");
        EXPECT_HAS(out, "is in use by another run");
        EXPECT_TRUE(run.tempLeftovers.empty());
    }
    EXPECT_TRUE(stampOf(package) == before);
    // Once let go, the same run goes through.
    QuendleRun run = addFile(package);
    EXPECT_EQ(run.result.exitCode, 0) << run.result.out << run.result.err;
    EXPECT_EQ(verifyPackage(package), "");
}

TEST_F(WindowsPackage, APackageOpenWithoutDeleteSharingIsNotReplacedAndStaysWhole) {
    FileStamp before = stampOf(package);
    // As an editor or a virus scanner may hold it: reading allowed, renaming over it not.
    HANDLE other = CreateFileW(fs::u8path(package).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    QuendleRun run = addFile(package);
    CloseHandle(other);
    EXPECT_NE(run.result.exitCode, 0) << run.result.out;
    EXPECT_HAS(run.result.err, "Unable to");
    EXPECT_TRUE(stampOf(package) == before);
    EXPECT_TRUE(run.tempLeftovers.empty());
    EXPECT_EQ(leftovers(dir.path()), (std::vector<std::string>{"new.txt", "pkg.appv"}))
        << "no temporary beside the package";
}

TEST_F(WindowsPackage, PathsBeyondMaxPathAndWithNonAsciiLettersAreEditedLikeAnyOther) {
    std::string deep = dir.path();
    while (deep.size() < 300)
        deep += "/a-folder-name-of-some-length";
    std::string names[] = {deep + "/pkg.appv", dir / "Ünïcødé пакет 包.appv"};
    fs::create_directories(longPath(deep));
    for (const std::string& to : names) {
        SCOPED_TRACE(to);
        ASSERT_TRUE(CopyFileW(longPath(package).c_str(), longPath(to).c_str(), TRUE));
        QuendleRun run = addFile(to);
        EXPECT_EQ(run.result.exitCode, 0) << run.result.out << run.result.err;
        EXPECT_TRUE(run.tempLeftovers.empty());
        EXPECT_EQ(runQuendle({"/Info", to}).result.exitCode, 0);
    }
    // The non-ASCII one is checked by the Linux verifiers too (the deep one is beyond their reach
    // only through Wine's path limit, not theirs).
    EXPECT_EQ(verifyPackage(names[1]), "");
}

TEST_F(WindowsPackage, CtrlCInTheMiddleOfARunRemovesItsWorkspaceAndLeavesThePackage) {
    if (DWORD mode; !GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        GTEST_SKIP() << "Ctrl+C reaches programs on a console only (run-windows-tests.sh gives this one a console)";
    FileStamp before = stampOf(package);
    ScratchDir tmp;
    // Commands through a pipe kept open: the run waits mid-work, the package edited, nothing saved.
    const std::string pipe = "\\\\.\\pipe\\quendle-test-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 0, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    RunResult result;
    std::thread run([&] {
        result = runRouted({quendleExe(), "/BatchFileUpdate", package, pipe}, {{{"TMP", tmp.path()}, {"TEMP", tmp.path()}}, {}});
    });
    // Overlapped, so that a run that never opens the pipe fails the test rather than hangs it.
    OVERLAPPED io{};
    io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool connected = ConnectNamedPipe(server, &io) || GetLastError() == ERROR_PIPE_CONNECTED ||
                           (GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(io.hEvent, 60000) == WAIT_OBJECT_0);
    ASSERT_TRUE(connected) << "the run never opened its command file"; // (and the test ends here)
    const std::string commands = ";qdc\nSet-NodeText AppxManifest.xml -xpath " + std::string(DisplayNameXPath) + " -nodetext Stop\n";
    DWORD written = 0;
    if (!WriteFile(server, commands.data(), static_cast<DWORD>(commands.size()), nullptr, &io))
        GetOverlappedResult(server, &io, &written, TRUE);
    for (int i = 0; i < 2000 && leftovers(tmp.path()).empty(); ++i)
        Sleep(10);
    EXPECT_FALSE(leftovers(tmp.path()).empty()) << "the workspace exists while the run works";
    Sleep(1000); // extracted and waiting for more commands: a run still writing is not stopped first
    SetConsoleCtrlHandler(nullptr, TRUE); // not this program
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    run.join();
    SetConsoleCtrlHandler(nullptr, FALSE), CloseHandle(server), CloseHandle(io.hEvent);
    EXPECT_EQ(static_cast<DWORD>(result.exitCode), STATUS_CONTROL_C_EXIT) << result.out << result.err;
    EXPECT_TRUE(stampOf(package) == before);
    EXPECT_TRUE(leftovers(tmp.path()).empty()) << "workspace left: " << leftovers(tmp.path()).front();
    EXPECT_EQ(leftovers(dir.path()), (std::vector<std::string>{"new.txt", "pkg.appv"}));
}

// What a run left in the temp folder (its workspace, or what Ctrl+C's clean-up moved out beside it
// and could not delete as the run ended) goes with a later run's sweep once no lock of it is held.
TEST(WindowsLeftovers, WhatAnEndedRunLeftGoesWithTheNextSweep) {
    ScratchDir tmp;
    const std::string live = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", ended = "{1A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
    StaleLeftovers::WorkspaceHandles living;
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), live, living));
    for (const std::string& guid : {live, ended})
        writeFile(tmp / guid + ".gone/Root/big.bin", "payload"), writeFile(tmp / guid + ".gone-lock", "");
    writeFile(tmp / "{not-a-guid}.gone/a", ""); // another program's
    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp.path()), 2);
    EXPECT_EQ(leftovers(tmp.path()), (std::vector<std::string>{live, live + ".gone", live + ".gone-lock", "{not-a-guid}.gone"}));
    living = {}; // ended without its clean-up
    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp.path()), 3);
    EXPECT_EQ(leftovers(tmp.path()), std::vector<std::string>{"{not-a-guid}.gone"});
    writeFile(tmp / ".pkg.appv.0123abcd", "partial"); // what a killed save left beside its package
    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(tmp / "pkg.appv", 0), 1);
}
