// A read-only package file is not replaced: the save fails with "Access is denied." and the
// package keeps its bytes and permissions, for root as for anyone (found by fault injection).
#include "package/PackageReplacement.h"

#include "core/Exception.h"
#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

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
