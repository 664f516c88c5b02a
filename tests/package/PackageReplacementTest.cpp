#include "package/PackageReplacement.h"

#include "core/Exception.h"
#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

namespace {

std::vector<std::string> hiddenTemporaries(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& name : leftovers(folder))
        if (name.rfind(".pkg.appv.", 0) == 0)
            found.push_back(name);
    return found;
}

} // namespace

TEST(PackageReplacement, InstallsTheArchiveKeepingThePackagesPermissions) {
    ScratchDir dir;
    std::string package = dir / "pkg.appv", archive = dir / "built.appv";
    writeFile(package, "old package");
    ::chmod(package.c_str(), 0640);
    writeFile(archive, "new package");
    PackageReplacement(package).install(archive);
    EXPECT_EQ(readFile(package), "new package");
    EXPECT_EQ(stampOf(package).mode & 07777, 0640u);
    EXPECT_TRUE(hiddenTemporaries(dir.path()).empty());
}

TEST(PackageReplacement, ReplacesTheFileBehindASymbolicLinkNotTheLink) {
    ScratchDir dir;
    std::string real = dir / "real.appv", link = dir / "pkg.appv", archive = dir / "built.appv";
    writeFile(real, "old");
    writeFile(archive, "new");
    fs::create_symlink(real, link);
    PackageReplacement(link).install(archive);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), "new");
}

TEST(PackageReplacement, CopiesAcrossFileSystemsWhenTheArchiveCannotBeMoved) {
    // /dev/shm is a different file system from the temp folder on most machines; where it is
    // not, this still exercises the move.
    if (!fs::exists("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm";
    ScratchDir dir, other("/dev/shm");
    std::string package = dir / "pkg.appv", archive = other / "built.appv";
    writeFile(package, "old");
    std::string big(3 << 20, 'x');
    writeFile(archive, big);
    PackageReplacement(package).install(archive);
    EXPECT_EQ(readFile(package), big);
}

TEST(PackageReplacement, AMissingArchiveLeavesThePackageAndNoTemporaryBehind) {
    ScratchDir dir;
    std::string package = dir / "pkg.appv";
    writeFile(package, "old");
    try {
        PackageReplacement(package).install(dir / "missing.appv");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(),
                  "Unable to save App-V 5.x package. The system cannot find the file specified.\n");
        EXPECT_EQ(e.code(), GenericErrorCode);
    }
    EXPECT_EQ(readFile(package), "old");
    EXPECT_TRUE(hiddenTemporaries(dir.path()).empty());
}

// A read-only package file is not replaced: the save fails with "Access is denied." and the
// package keeps its bytes and permissions, for root as for anyone (found by fault injection).
TEST(ReadOnlyPackage, IsRefusedWithAccessDeniedAndKeptAsItWas) {
    ScratchDir dir;
    std::string package = dir / "pkg.appv", archive = dir / "built.appv";
    writeFile(package, "old package");
    ::chmod(package.c_str(), 0444);
    writeFile(archive, "new package");
    FileStamp before = stampOf(package);
    try {
        PackageReplacement(package).install(archive);
        FAIL() << "a read-only package was replaced";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message().rfind("Unable to save App-V 5.x package. Access is denied.", 0), 0u)
            << e.message();
    }
    EXPECT_TRUE(stampOf(package) == before);
    EXPECT_EQ(leftovers(dir.path()).size(), 2u) << "no temporary file left beside the package";
    EXPECT_EQ(readFile(archive), "new package");
}
