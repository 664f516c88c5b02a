// quendle.exe against what Windows has in place of the POSIX cases of tests/os/posix and tests/cli:
// another process holding the package or keeping it open, long and non-ASCII paths.
#include "os/PackageLock.h"
#include "package/PackageTestSupport.h"

#include <windows.h>

using namespace quendle;
using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes\)";

// With the prefix that lifts MAX_PATH.
std::wstring longPath(const std::string& s) {
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

} // namespace

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
