#include "os/FileSystem.h"
#include "os/BackgroundRelease.h"
#include "core/Exception.h"
#include "os/StaleLeftovers.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

using namespace quendle;
using namespace quendle::test;

namespace {

// Which of `paths` are there (links not followed), as one digit each: 1 present, 0 absent.
std::string present(std::initializer_list<std::string> paths) {
    std::string digits;
    for (const std::string& p : paths)
        digits += fs::exists(fs::symlink_status(p)) ? '1' : '0';
    return digits;
}

} // namespace

TEST(Paths, HostPathsKeepTheRoot) {
    EXPECT_EQ(each(hostpath::normalizePath, {"/home/a/", "///", "rel/dir//", ""}), "/home/a|/|rel/dir|");
    auto join = [](const std::string& s) {
        return hostpath::joinPath(s.substr(0, s.find(' ')), s.substr(s.find(' ') + 1));
    };
    EXPECT_EQ(each(join, {"/ws /res/", "/ws/ res", "/ tmp", "/ws ", " a"}), "/ws/res|/ws/res|/tmp|/ws|a");
    // A backslash is a character on the host.
    EXPECT_EQ(each(hostpath::fileNameOf, {"/a/b/c.txt", "dir\\c.txt"}), "c.txt|dir\\c.txt");
    EXPECT_EQ(each(hostpath::folderOf, {"/a/b/c.txt", "/c.txt"}), "/a/b|/");
    EXPECT_EQ(hostpath::absolutePath("/a/./b/../c/"), "/a/c");
    EXPECT_EQ(hostpath::absolutePath("x/../y.txt"), fs::current_path().string() + "/y.txt");

    {
        ScopedEnv tmp("TMPDIR", "/var/tmp/");
        EXPECT_EQ(hostpath::tempFolderPath(), "/var/tmp");
    }
    ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(hostpath::tempFolderPath(), "/tmp");
}

TEST(HostFiles, ExistenceAndSmallFileReading) {
    ScratchDir dir;
    const std::string file = dir / "f.txt", missing = dir / "missing";
    writeFile(file, std::string("a\0b", 3));
    EXPECT_EQ(std::vector<bool>({hostpath::fileExists(file), hostpath::folderExists(file),
                                 hostpath::folderExists(dir.path()), hostpath::pathExists(dir.path()),
                                 hostpath::fileExists(dir.path()), hostpath::pathExists(missing),
                                 hostpath::pathExists(std::string("f.txt\0x", 7))}),
              std::vector<bool>({true, false, true, true, false, false, false}));
    EXPECT_EQ(hostpath::readSmallFile(file), std::string("a\0b", 3));
    EXPECT_EQ(hostpath::fileSize(file), 3u);
    EXPECT_THROW(hostpath::readSmallFile(file, 2), Exception);
    for (const auto& [path, code] : {std::pair{missing, 2u}, std::pair{dir.path(), 5u}})
        EXPECT_EQ(thrown<WindowsException>([&] { hostpath::readSmallFile(path); }).code(), code) << path;
}

// Leftovers of killed runs: only what no living run holds, only what looks like ours. Lock-less
// look-alikes and links to folders without a lock are the isolation tests' part.
namespace {

const char* const WorkspaceA = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
const char* const WorkspaceB = "{11111111-2222-3333-4444-555555555555}";

} // namespace

TEST(StaleLeftovers, OnlyWorkspacesNoLivingRunHoldsAreRemoved) {
    ScratchDir tmp;
    const std::string a = tmp / WorkspaceA, b = tmp / WorkspaceB;
    const std::string lockName = std::string("/") + StaleLeftovers::LockFileName;
    StaleLeftovers::WorkspaceHandles living, dead, again;
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceA, living));
    EXPECT_EQ((fs::status(a).permissions() & fs::perms::all), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_directory(a + "/res"));
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceB, dead));
    dead = {};
    writeFile(b + "/res/Root/big.bin", "gigabytes");
    EXPECT_FALSE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceB, again));
    EXPECT_EQ(errno, EEXIST) << "an existing workspace is never reused";
    // Ours by their lock file but not by their name: a folder that is no GUID, a GUID that is a file.
    writeFile(tmp / "not-a-guid" + lockName, "");
    writeFile(tmp / "{33333333-2222-3333-4444-555555555555}", "a file, not a folder");
    // A link named like a workspace, to a folder that looks abandoned: never followed.
    writeFile(tmp / "victim" + lockName, "");
    fs::create_directory_symlink(tmp / "victim", tmp / "{66666666-2222-3333-4444-555555555555}");
    // A run of the Windows build under Wine: its lock is a record lock on one byte far out (held
    // here as an open file description's, which this process's own probes cannot drop).
    const std::string wineLock = tmp / "{77777777-2222-3333-4444-555555555555}" + lockName;
    writeFile(wineLock, "");
    struct flock byte = {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = INT64_MAX - 1, .l_len = 1, .l_pid = 0};
    ASSERT_EQ(::fcntl(::open(wineLock.c_str(), O_RDWR | O_CLOEXEC), F_OFD_SETLK, &byte), 0);

    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp.path()), 1);
    EXPECT_EQ(present({a + lockName, b, tmp / "not-a-guid", tmp / "{33333333-2222-3333-4444-555555555555}",
                       tmp / "victim" + lockName, wineLock}),
              "101111");
    // The living run ends without cleaning up (as under SIGKILL): the next sweep takes it.
    living = {};
    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp.path()), 1);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp / "missing"), 0);

    // Read-only folders and files inside are no obstacle.
    StaleLeftovers::WorkspaceHandles workspace;
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceA, workspace));
    writeFile(a + "/res/Root/deep/er/f.txt", "x");
    fs::permissions(a + "/res/Root/deep/er/f.txt", fs::perms::owner_read);
    fs::permissions(a + "/res/Root/deep", fs::perms::owner_read | fs::perms::owner_exec);
    StaleLeftovers::removeWorkspace(workspace, WorkspaceA);
    EXPECT_FALSE(fs::exists(a));
}

TEST(StaleLeftovers, OnlyOldUnlockedTemporariesOfThisPackageAreRemoved) {
    ScratchDir dir;
    std::string package = dir / "pkg.appv";
    writeFile(package, "the package");
    auto temporary = [&](const std::string& name, bool old) {
        writeFile(dir / name, "half a package");
        utimbuf times{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
        if (old && ::utime((dir / name).c_str(), &times) != 0)
            ADD_FAILURE() << name;
        return dir / name;
    };
    std::string abandoned = temporary(".pkg.appv.0123abcd", true);
    std::string fresh = temporary(".pkg.appv.89ABCDEF", false);
    std::string held = temporary(".pkg.appv.deadbeef", true);
    FileHandle holder = FileHandle::openForReading(held);
    ASSERT_TRUE(StaleLeftovers::lockTemporary(holder));
    std::vector<std::string> others = {
        temporary(".pkg.appv.0123abc", true), temporary(".pkg.appv.0123abcg", true),
        temporary(".other.appv.0123abcd", true), temporary("pkg.appv.0123abcd", true)};
    fs::create_directories(dir / ".pkg.appv.00000000");
    ::utimbuf times{0, 0};
    ::utime((dir / ".pkg.appv.00000000").c_str(), &times);

    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(package), 1);
    EXPECT_EQ(present({abandoned, fresh, held, dir / ".pkg.appv.00000000", others[0], others[1], others[2],
                       others[3]}),
              "01111111");
    EXPECT_EQ(readFile(package), "the package");

    holder.reset();
    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(package), 1);
    EXPECT_FALSE(fs::exists(held));
    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(package, 0), 1)
        << "no age asked: the fresh one goes";
}

namespace {

// How many processes, this one included, hold a handle of the file once named `path`.
int holdersOf(const std::string& path) {
    int holders = 0;
    std::error_code ignored;
    for (const auto& process : fs::directory_iterator("/proc", ignored)) {
        if (!std::isdigit(static_cast<unsigned char>(process.path().filename().string()[0])))
            continue; // "self" is this process once more
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", ignored))
            if (fs::read_symlink(fd.path(), ignored).string() == path + " (deleted)") {
                ++holders;
                break;
            }
    }
    return holders;
}

} // namespace

// The child that frees a replaced package must let it go, and this process may keep no handle.
TEST(BackgroundRelease, AnUnlinkedFileIsLetGoByEveryProcessSoon) {
    ScratchDir tmp;
    const std::string path = tmp / "old.appv";
    writeFile(path, std::string(1 << 20, 'x'));
    FileHandle fd = FileHandle::openForReading(path);
    ASSERT_TRUE(fd);
    fs::remove(path);
    ASSERT_EQ(holdersOf(path), 1);
    releaseInBackground(std::move(fd), 0);
    int holders = 1;
    for (int i = 0; i < 500 && holders > 0; ++i, usleep(10000))
        holders = holdersOf(path);
    EXPECT_EQ(holders, 0);
}
