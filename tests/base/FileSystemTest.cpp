#include "os/FileSystem.h"
#include "core/Exception.h"
#include "os/StaleLeftovers.h"
#include "os/TempFileTracker.h"
#include "package/PackageTestSupport.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <utime.h>

using namespace quendle;
using namespace quendle::test;

namespace {

// A scratch folder with shorthands for making files and folders in it.
struct ScratchFolder : test::ScratchDir {
    std::string make(const std::string& relative, const std::string& content = "x") const {
        test::writeFile(*this / relative, content);
        return *this / relative;
    }
    std::string folder(const std::string& relative) const {
        std::filesystem::create_directory(*this / relative);
        return *this / relative;
    }
};

// Which of `paths` are there (links not followed), as one digit each: 1 present, 0 absent.
std::string present(std::initializer_list<std::string> paths) {
    std::string digits;
    for (const std::string& p : paths)
        digits += fs::exists(fs::symlink_status(p)) ? '1' : '0';
    return digits;
}

} // namespace

TEST(HostPath, NormalizeJoinAndSplitKeepTheRootOfAnAbsolutePath) {
    using P = std::pair<std::string, std::string>;
    for (const auto& [in, out] :
         {P{"/home/a/", "/home/a"}, P{"///", "/"}, P{"rel/dir//", "rel/dir"}, P{"", ""}})
        EXPECT_EQ(hostpath::normalizePath(in), out) << in;
    EXPECT_EQ(hostpath::joinPath("/ws", "/res/"), "/ws/res");
    EXPECT_EQ(hostpath::joinPath("/ws/", "res"), "/ws/res");
    EXPECT_EQ(hostpath::joinPath("/", "tmp"), "/tmp");
    EXPECT_EQ(hostpath::joinPath("/ws", ""), "/ws");
    EXPECT_EQ(hostpath::joinPath("", "a"), "a");
    EXPECT_EQ(hostpath::fileNameOf("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(hostpath::fileNameOf("dir\\c.txt"), "dir\\c.txt"); // a backslash is a character here
    EXPECT_EQ(hostpath::folderOf("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(hostpath::folderOf("/c.txt"), "/");
    EXPECT_EQ(hostpath::absolutePath("/a/./b/../c/"), "/a/c");
    EXPECT_EQ(hostpath::absolutePath("x/../y.txt"), test::fs::current_path().string() + "/y.txt");
}

TEST(HostPath, TempFolderFollowsTmpdirWithoutTrailingSeparator) {
    {
        test::ScopedEnv tmp("TMPDIR", "/var/tmp/");
        EXPECT_EQ(hostpath::tempFolderPath(), "/var/tmp");
    }
    test::ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(hostpath::tempFolderPath(), "/tmp");
}

TEST(PackagePath, NormalizeAndJoinUseBackslashes) {
    EXPECT_EQ(packagepath::normalizePath("\\\\?\\C:\\dir\\"), "C:\\dir");
    EXPECT_EQ(packagepath::normalizePath("\\Root\\a.txt\\\\"), "Root\\a.txt");
    EXPECT_EQ(packagepath::normalizePath("\\\\\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(packagepath::normalizePath("\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(packagepath::normalizePath("\\\\\\"), ""); // trailing ones go first
    EXPECT_EQ(packagepath::normalizePath(""), "");
    EXPECT_EQ(packagepath::joinPath("Scripts", "\\run.ps1\\"), "Scripts\\run.ps1");
    EXPECT_EQ(packagepath::joinPath("Root\\", "a"), "Root\\\\a"); // the folder is not examined
    EXPECT_EQ(packagepath::joinPath("Root", ""), "Root");
    EXPECT_EQ(packagepath::joinPath("", "a"), "a");
    EXPECT_EQ(packagepath::fileNameOf("Root\\VFS\\a.dll"), "a.dll");
    EXPECT_EQ(packagepath::fileNameOf("Root/VFS/a.dll"), "Root/VFS/a.dll");
}

TEST(HostFiles, ExistenceAndSmallFileReading) {
    ScratchFolder dir;
    ASSERT_FALSE(dir.path().empty());
    std::string file = dir.make("f.txt", std::string("a\0b", 3));
    EXPECT_EQ(
        std::vector<bool>({hostpath::fileExists(file), hostpath::folderExists(file),
                           hostpath::folderExists(dir.path()), hostpath::pathExists(dir.path()),
                           hostpath::fileExists(dir.path()), hostpath::pathExists(dir.path() + "/missing"),
                           hostpath::pathExists(std::string("f.txt\0x", 7))}),
        std::vector<bool>({true, false, true, true, false, false, false}));
    EXPECT_EQ(hostpath::readSmallFile(file), std::string("a\0b", 3));
    EXPECT_EQ(hostpath::fileSize(file), 3u);
    EXPECT_THROW(hostpath::readSmallFile(file, 2), Exception);
    for (const auto& [path, code] : {std::pair{dir.path() + "/missing", 2u}, std::pair{dir.path(), 5u}}) {
        try {
            hostpath::readSmallFile(path);
            ADD_FAILURE() << path;
        } catch (const WindowsException& e) {
            EXPECT_EQ(e.code(), code);
        }
    }
}

TEST(HostFiles, DeleteFolderTreeRemovesReadOnlyEntriesOrOnlyEmptyFoldersButNotTheFolderItself) {
    ScratchFolder dir;
    std::string top = dir.folder("top");
    dir.folder("top/a");
    dir.folder("top/a/b");
    std::string ro = dir.make("top/a/b/ro.txt");
    ::chmod(ro.c_str(), 0400);
    ::chmod((top + "/a/b").c_str(), 0500); // read-only folder holding a file
    dir.make("top/f.txt");
    // A link to a folder outside the tree is removed as a link, its target is left alone.
    std::string outside = dir.folder("outside");
    std::string kept = dir.make("outside/keep.txt");
    ASSERT_EQ(::symlink(outside.c_str(), (top + "/link").c_str()), 0);

    hostpath::deleteFolderTree(top, true);
    EXPECT_EQ(present({top, top + "/a", top + "/f.txt", top + "/link", kept}), "10001");

    // Without files, only the folders that hold none go.
    dir.folder("top/empty");
    dir.folder("top/empty/nested");
    dir.folder("top/full");
    std::string file = dir.make("top/full/f.txt");
    hostpath::deleteFolderTree(top, false);
    EXPECT_EQ(present({top + "/empty", file}), "01");
}

TEST(TempFileTracker, CleansFilesWildcardsFoldersAndTreesAtDestruction) {
    ScratchFolder dir;
    std::string single = dir.make("one.tmp");
    std::string m1 = dir.make("blk1.part"), m2 = dir.make("blk2.part"), other = dir.make("keep.txt");
    std::string matchingFolder = dir.folder("dir.part");
    std::string emptyFolder = dir.folder("empty");
    std::string busyFolder = dir.folder("busy");
    std::string busyFile = dir.make("busy/f");
    std::string tree = dir.folder("ws");
    dir.folder("ws/res");
    dir.make("ws/res/x.bin");
    {
        TempFileTracker tracker;
        tracker.addFile(single);
        tracker.addFile(single); // duplicates are harmless
        tracker.addFile(dir.path() + "/*.part");
        tracker.addFolder(emptyFolder);
        tracker.addFolder(busyFolder);
        tracker.addFolderTree(tree);
        tracker.addFile(dir.path() + "/never-existed");
        tracker.deleteFiles();
        EXPECT_FALSE(hostpath::pathExists(single));
        EXPECT_TRUE(tracker.files().empty());
        EXPECT_TRUE(hostpath::folderExists(tree)); // trees wait for the end
    }
    EXPECT_EQ(present({m1, m2, other, matchingFolder, emptyFolder, busyFile, tree}), "0011010");
}

// Leftovers of killed runs: only what no living run holds, only what looks like ours.
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
    EXPECT_EQ(
        present({a + lockName, b, tmp / "{22222222-2222-3333-4444-555555555555}/res", tmp / "not-a-guid",
                 tmp / "{33333333-2222-3333-4444-555555555555}", tmp / "victim/res"}),
        "101111");

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
