#include "package/PackageReplacement.h"

#include "core/Exception.h"
#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

TEST(PackageReplacement, InstallsTheArchiveKeepingPermissionsThroughLinksAndAcrossFileSystems) {
    ScratchDir dir;
    std::string real = dir / "real.appv", link = dir / "pkg.appv", archive = dir / "built.appv";
    writeFile(real, "old package");
    ::chmod(real.c_str(), 0640);
    writeFile(archive, "new package");
    fs::create_symlink(real, link);
    PackageReplacement(link).install(archive);
    EXPECT_TRUE(fs::is_symlink(link)) << "the file behind the link is replaced, not the link";
    EXPECT_EQ(readFile(real), "new package");
    EXPECT_EQ(stampOf(real).mode & 07777, 0640u);
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
            ::chmod(package.c_str(), 0444);
        FileStamp before = stampOf(package);
        try {
            PackageReplacement(package).install(source);
            ADD_FAILURE() << "no exception for " << source;
        } catch (const Exception& e) {
            EXPECT_EQ(e.message().rfind(message, 0), 0u) << e.message();
            EXPECT_EQ(e.code(), GenericErrorCode);
        }
        EXPECT_TRUE(stampOf(package) == before);
        EXPECT_EQ(leftovers(dir.path()).size(), 2u);
    }
    EXPECT_EQ(readFile(archive), "new package");
}
