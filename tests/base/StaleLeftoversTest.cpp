// Leftovers of killed runs: only what no living run holds, only what looks like ours.
#include "os/StaleLeftovers.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <utime.h>

using namespace quendle;
using namespace quendle::test;

namespace {

const char* const WorkspaceA = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
const char* const WorkspaceB = "{11111111-2222-3333-4444-555555555555}";

void makeOld(const std::string& path) {
    utimbuf times{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

} // namespace

TEST(StaleLeftovers, OnlyWorkspacesNoLivingRunHoldsAreRemoved) {
    ScratchDir tmp;
    const std::string a = tmp / WorkspaceA, b = tmp / WorkspaceB;
    const std::string lockName = std::string("/") + StaleLeftovers::LockFileName;
    // A living run's workspace (its lock held by a descriptor of this process), one of a run
    // that died (lock released), and look-alikes that are not ours.
    StaleLeftovers::WorkspaceHandles living, dead, again;
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceA, living));
    EXPECT_EQ((fs::status(a).permissions() & fs::perms::all), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_directory(a + "/res"));
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceB, dead));
    dead = {};
    writeFile(b + "/res/Root/big.bin", "gigabytes");
    EXPECT_FALSE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceB, again));
    EXPECT_EQ(errno, EEXIST) << "an existing workspace is never reused";
    fs::create_directories(tmp / "{22222222-2222-3333-4444-555555555555}/res"); // no lock file
    fs::create_directories(tmp / "not-a-guid");
    writeFile(tmp / "not-a-guid" + lockName, "");
    writeFile(tmp / "{33333333-2222-3333-4444-555555555555}", "a file, not a folder");
    // A link named like a workspace, to a folder that looks abandoned: never followed.
    fs::create_directories(tmp / "victim/res");
    writeFile(tmp / "victim" + lockName, "");
    fs::create_directory_symlink(tmp / "victim", tmp / "{66666666-2222-3333-4444-555555555555}");

    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp.path()), 1);
    EXPECT_TRUE(fs::exists(a + lockName));
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(fs::exists(tmp / "{22222222-2222-3333-4444-555555555555}/res"));
    EXPECT_TRUE(fs::exists(tmp / "not-a-guid"));
    EXPECT_TRUE(fs::exists(tmp / "{33333333-2222-3333-4444-555555555555}"));
    EXPECT_TRUE(fs::exists(tmp / "victim/res"));

    // The living run ends without cleaning up (as under SIGKILL): the next sweep takes it.
    living = {};
    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp.path()), 1);
    EXPECT_FALSE(fs::exists(a));
    // A temp folder that is not there is no error.
    EXPECT_EQ(StaleLeftovers::removeAbandonedWorkspaces(tmp / "missing"), 0);
    // A name taken by a planted link is refused, not followed.
    StaleLeftovers::WorkspaceHandles planted;
    EXPECT_FALSE(
        StaleLeftovers::createWorkspace(tmp.path(), "{66666666-2222-3333-4444-555555555555}", planted));
    EXPECT_EQ(errno, EEXIST);
}

TEST(StaleLeftovers, RemovingAWorkspaceTakesEverythingAtAnyDepthAndFollowsNoLink) {
    ScratchDir tmp;
    const std::string w = tmp / WorkspaceA;
    StaleLeftovers::WorkspaceHandles workspace;
    ASSERT_TRUE(StaleLeftovers::createWorkspace(tmp.path(), WorkspaceA, workspace));
    fs::create_directories(w + "/res/Root/deep/er");
    writeFile(w + "/res/Root/deep/er/f.txt", "x");
    writeFile(w + "/new.appv", "y");
    fs::create_directories(tmp / "outside");
    writeFile(tmp / "outside/keep.txt", "not the workspace's");
    fs::create_directory_symlink(tmp / "outside", w + "/res/link");
    fs::create_symlink(tmp / "outside/keep.txt", w + "/res/Root/file-link");
    // Far deeper than PATH_MAX: made relative to each new folder, as the extractor does.
    int fd = ::open((w + "/res").c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 1500 && fd >= 0; ++depth) {
        ASSERT_EQ(::mkdirat(fd, "level-of-some-length", 0700), 0);
        int next = ::openat(fd, "level-of-some-length", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(::openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0600), 0);
    ::close(fd);
    fs::permissions(w + "/res/Root/deep", fs::perms::owner_read | fs::perms::owner_exec);

    StaleLeftovers::removeWorkspace(workspace, WorkspaceA);
    EXPECT_FALSE(fs::exists(w));
    EXPECT_EQ(readFile(tmp / "outside/keep.txt"), "not the workspace's") << "links are not followed";
}

TEST(StaleLeftovers, OnlyOldUnlockedTemporariesOfThisPackageAreRemoved) {
    ScratchDir dir;
    std::string package = dir / "pkg.appv";
    writeFile(package, "the package");
    auto temporary = [&](const std::string& name, bool old) {
        writeFile(dir / name, "half a package");
        if (old)
            makeOld(dir / name);
        return dir / name;
    };
    std::string abandoned = temporary(".pkg.appv.0123abcd", true);
    std::string fresh = temporary(".pkg.appv.89ABCDEF", false);
    std::string held = temporary(".pkg.appv.deadbeef", true);
    UniqueFd holder(::open(held.c_str(), O_RDONLY));
    ASSERT_TRUE(StaleLeftovers::lockTemporary(holder.get()));
    std::vector<std::string> others = {
        temporary(".pkg.appv.0123abc", true), temporary(".pkg.appv.0123abcg", true),
        temporary(".other.appv.0123abcd", true), temporary("pkg.appv.0123abcd", true)};
    fs::create_directories(dir / ".pkg.appv.00000000");
    ::utimbuf times{0, 0};
    ::utime((dir / ".pkg.appv.00000000").c_str(), &times);

    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(package), 1);
    EXPECT_FALSE(fs::exists(abandoned));
    for (const std::string& kept : others)
        EXPECT_TRUE(fs::exists(kept)) << kept;
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::is_directory(dir / ".pkg.appv.00000000"));
    EXPECT_EQ(readFile(package), "the package");

    holder.reset();
    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(package), 1);
    EXPECT_FALSE(fs::exists(held));
    EXPECT_EQ(StaleLeftovers::removeAbandonedTemporaries(package, 0), 1)
        << "no age asked: the fresh one goes";
}
