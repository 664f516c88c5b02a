#include "package/AppV5Package.h"
#include "core/Exception.h"
#include "package/PackageReplacement.h"
#include "package/PackageTestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>
#include <regex>

using namespace quendle;
using namespace quendle::test;

namespace {

// Points $TMPDIR at a private folder while it lives, so workspaces can be watched.
struct TempFolderScope : ScratchDir {
    ScopedEnv env{"TMPDIR", path().c_str()};
    ScopedEnv windows{"TMP", path().c_str()};
};

} // namespace

TEST(AppV5Package, PackagePathOfIsTheTextBelowTheBaseWithBackslashes) {
    auto pathOf = [](const std::string& file) { return AppV5Package::packagePathOf("/tmp/{W}/res", file).text(); };
    EXPECT_EQ(test::each(pathOf, {"/tmp/{W}/res/Root/VFS/a b.txt", "/tmp/{W}/res/AppxManifest.xml"}),
              R"(Root\VFS\a b.txt|AppxManifest.xml)");
    // A sibling folder sharing the name's beginning is not below the base.
    for (const auto& [base, file] : {std::pair{"/tmp/{W}/res", "/tmp/{W}/other/a.txt"},
                                     {"/tmp/{W}/res", "/tmp/{W}/resource/a.txt"},
                                     {"", "/a.txt"}})
        EXPECT_EQ(failureOf([&] { AppV5Package::packagePathOf(base, file); }),
                  std::string("Unable to compute package path for file: \"") + file + "\".");
}

TEST(AppV5Package, OpensOnceCachesPartsAndRemovesItsWorkspaceAtTheEnd) {
    ScratchDir dir;
    TempFolderScope tmp;
    std::string package = dir / "demo.appv";
    ASSERT_TRUE(makePackage(demoDir(), package));
    std::string workspace;
    {
        AppV5Package pkg;
        pkg.setPackagePath(package);
        EXPECT_TRUE(leftovers(tmp.path()).empty()) << "nothing is extracted before a command needs it";
        pkg.openOnDemand();
        pkg.openOnDemand();
        ASSERT_EQ(leftovers(tmp.path()).size(), 1u) << "the second command reuses the workspace";
        workspace = pkg.workspaceFolder();
        EXPECT_EQ(fs::path(workspace).parent_path(), fs::path(tmp.path()));
        const std::string name = fs::path(workspace).filename().string();
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(\{[-0-9A-Fa-f]{36}\})"))) << name;
        EXPECT_EQ(pkg.contentFolder(), workspace + "/res");
#ifndef _WIN32 // there an ACL says so, which the permission bits do not show
        EXPECT_EQ(fs::status(workspace).permissions() & fs::perms::all, fs::perms::owner_all)
            << "other users cannot read the extracted package";
#endif

        EXPECT_EQ(pkg.fileTable().size(), 3u) << "only the files, never the root parts";
        EXPECT_TRUE(pkg.fileTable().contains(R"(Root\VFS\ProgramFilesX86\Demo Notes\notes.txt)"));

        auto manifest = pkg.getXmlPart("appxmanifest.xml");
        ASSERT_TRUE(manifest);
        EXPECT_EQ(pkg.getXmlPart("AppxManifest.xml"), manifest) << "one document per part";
        EXPECT_EQ(pkg.namespaces().at("http://schemas.microsoft.com/appx/2010/manifest"), "appx");
        EXPECT_EQ(failureOf([&] { pkg.getXmlPart("Registry.dat"); }), "Config file is not editable.");
        EXPECT_FALSE(pkg.isModified());
    }
    EXPECT_FALSE(fs::exists(workspace));
    EXPECT_TRUE(leftovers(tmp.path()).empty());
}

TEST(AppV5Package, MissingRootPartsAreLeftOutOfTheSavedPackageWithoutAMessage) {
    ScratchDir dir;
    TempFolderScope tmp;
    std::string source = dir / "source";
    fs::copy(demoDir(), source, fs::copy_options::recursive);
    fs::remove(source + "/StreamMap.xml");
    fs::remove(source + "/Registry.txt");
    std::string package = dir / "lean.appv";
    ASSERT_TRUE(makePackage(source, package));
    {
        AppV5Package pkg;
        pkg.setPackagePath(package);
        pkg.openOnDemand();
        EXPECT_EQ(pkg.getXmlPart("StreamMap.xml"), nullptr);
        pkg.getXmlPart("PackageHistory.xml");
        pkg.markModified();
        EXPECT_EQ(pkg.save(), 0u);
    }
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(entryNames(package),
              (std::vector<std::string>{"Root/VFS/ProgramFilesX86/Demo%20Notes/config/settings.ini",
                                        "Root/VFS/ProgramFilesX86/Demo%20Notes/notes.txt",
                                        "Root/VFS/ProgramFilesX86/Demo%20Notes/readme.md",
                                        "FilesystemMetadata.xml", "PackageHistory.xml", "AppxManifest.xml",
                                        "AppxBlockMap.xml", "[Content_Types].xml"}));
    EXPECT_TRUE(leftovers(tmp.path()).empty());
}

TEST(PackageReplacement, InstallsTheArchiveKeepingPermissionsThroughLinksAndAcrossFileSystems) {
    ScratchDir dir;
    std::string real = dir / "real.appv", link = dir / "pkg.appv", archive = dir / "built.appv";
    writeFile(real, "old package");
    fs::permissions(real, fs::perms(0640));
    writeFile(archive, "new package");
    fs::create_symlink(real, link);
    PackageReplacement(link).install(archive);
    EXPECT_TRUE(fs::is_symlink(link)) << "the file behind the link is replaced, not the link";
    EXPECT_EQ(readFile(real), "new package");
    EXPECT_EQ(stampOf(real).mode & fs::perms::mask, fs::perms(0640));
    EXPECT_EQ(leftovers(dir.path()).size(), 2u) << "no temporary left beside the package";

    // /dev/shm is another file system than the temp folder on most machines: the archive is copied.
    if (fs::exists("/dev/shm")) {
        ScratchDir other("/dev/shm");
        std::string big(3 << 20, 'x');
        writeFile(other / "built.appv", big);
        PackageReplacement(real).install(other / "built.appv");
        EXPECT_EQ(readFile(real), big);
    }
}

// A missing archive or a read-only package ("Access is denied.", for root as for anyone: found by
// fault injection) leave the package as it was and no temporary behind.
TEST(PackageReplacement, AFailedInstallLeavesThePackageAsItWas) {
    ScratchDir dir;
    std::string package = dir / "pkg.appv", archive = dir / "built.appv";
    writeFile(package, "old package");
    writeFile(archive, "new package");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "missing.appv",
         "Unable to save App-V 5.x package. The system cannot find the file specified.\n"},
        {archive, "Unable to save App-V 5.x package. Access is denied."}};
    for (const auto& [source, message] : cases) {
        if (source == archive)
            fs::permissions(package, fs::perms(0444));
        FileStamp before = stampOf(package);
        const Exception e = thrown<Exception>([&] { PackageReplacement(package).install(source); });
        EXPECT_EQ(std::pair(e.message().substr(0, message.size()), e.code()),
                  std::pair(message, GenericErrorCode));
        EXPECT_TRUE(stampOf(package) == before);
        EXPECT_EQ(leftovers(dir.path()).size(), 2u);
    }
    EXPECT_EQ(readFile(archive), "new package");
}
