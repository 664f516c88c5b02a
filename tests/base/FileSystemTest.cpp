#include "os/FileSystem.h"
#include "core/Exception.h"
#include "os/TempFileTracker.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;

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
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/var/tmp/", 1);
    EXPECT_EQ(hostpath::tempFolderPath(), "/var/tmp");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(hostpath::tempFolderPath(), "/tmp");
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
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
    EXPECT_TRUE(hostpath::fileExists(file));
    EXPECT_FALSE(hostpath::folderExists(file));
    EXPECT_TRUE(hostpath::folderExists(dir.path()));
    EXPECT_TRUE(hostpath::pathExists(dir.path()));
    EXPECT_FALSE(hostpath::fileExists(dir.path()));
    EXPECT_FALSE(hostpath::pathExists(dir.path() + "/missing"));
    EXPECT_FALSE(hostpath::pathExists(std::string("f.txt\0x", 7)));
    EXPECT_EQ(hostpath::readSmallFile(file), std::string("a\0b", 3));
    EXPECT_EQ(hostpath::fileSize(file), 3u);
    EXPECT_THROW(hostpath::readSmallFile(file, 2), Exception);
    try {
        hostpath::readSmallFile(dir.path() + "/missing");
        FAIL();
    } catch (const WindowsException& e) {
        EXPECT_EQ(e.code(), 2u);
    }
    try {
        hostpath::readSmallFile(dir.path());
        FAIL();
    } catch (const WindowsException& e) {
        EXPECT_EQ(e.code(), 5u);
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
    EXPECT_TRUE(hostpath::folderExists(top));
    EXPECT_FALSE(hostpath::pathExists(top + "/a"));
    EXPECT_FALSE(hostpath::pathExists(top + "/f.txt"));
    EXPECT_FALSE(hostpath::pathExists(top + "/link"));
    EXPECT_TRUE(hostpath::fileExists(kept));

    // Without files, only the folders that hold none go.
    dir.folder("top/empty");
    dir.folder("top/empty/nested");
    dir.folder("top/full");
    std::string file = dir.make("top/full/f.txt");
    hostpath::deleteFolderTree(top, false);
    EXPECT_FALSE(hostpath::pathExists(top + "/empty"));
    EXPECT_TRUE(hostpath::fileExists(file));
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
    EXPECT_FALSE(hostpath::pathExists(m1));
    EXPECT_FALSE(hostpath::pathExists(m2));
    EXPECT_TRUE(hostpath::fileExists(other));
    EXPECT_TRUE(hostpath::folderExists(matchingFolder));
    EXPECT_FALSE(hostpath::pathExists(emptyFolder));
    EXPECT_TRUE(hostpath::fileExists(busyFile));
    EXPECT_FALSE(hostpath::pathExists(tree));
}
