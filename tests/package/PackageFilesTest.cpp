#include "package/PackageFiles.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "package/KnownParts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace quendle;
using test::failureOf;

namespace {

// What `action` writes to the console.
std::string outputOf(const std::function<void()>& action) {
    ConsoleWriter::install();
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

std::vector<std::string> split(std::string_view path) {
    return splitPackagePath(path);
}

} // namespace

TEST(PackageFiles, SplitPackagePathAndScriptPath) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split(R"(Root\VFS\ProgramFilesX86\App\a.exe)"),
              (V{"Root", "VFS", "ProgramFilesX86", "App", "a.exe"}));
    EXPECT_EQ(split("Root"), (V{"Root"}));
    EXPECT_EQ(split(""), V{});
    EXPECT_EQ(split(R"(Root\VFS\)"), V{}) << "an unnormalized trailing backslash ends the walk at once";
    EXPECT_EQ(split(R"(Root\\VFS\a)"), (V{"VFS", "a"})) << "only what follows a doubled separator";
    EXPECT_EQ(split(R"(\Root\a)"), (V{R"(\Root)", "a"}))
        << "a leading backslash stays on the first component";
    EXPECT_EQ(split(R"(\\server\share)"), (V{R"(\\server)", "share"}));
    EXPECT_EQ(scriptPackagePath("setup.cmd"), R"(Scripts\setup.cmd)");
    EXPECT_EQ(scriptPackagePath(R"(\launch.ps1)"), R"(Scripts\launch.ps1)");
}

TEST(PackageFiles, ValidatePackagePathMessages) {
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(Root\VFS\a.txt)"); }), "");
    EXPECT_EQ(failureOf([] { validatePackagePath("Root"); }), "");
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(\Root\a.txt)"); }), "")
        << "leading backslashes are normalized";
    EXPECT_EQ(failureOf([] { validatePackagePath("Root/VFS/a.txt"); }),
              "Invalid package path: \"Root/VFS/a.txt\". Expecting a backslash path.");
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(Root\VFS/a.txt)"); }),
              "Invalid package path: \"Root\\VFS/a.txt\". Expecting a backslash path.");
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(VFS\a.txt)"); }),
              "Invalid package path \"VFS\\a.txt\". A package path must start with \"Root\".");
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(root\VFS\a.txt)"); }),
              "Invalid package path \"root\\VFS\\a.txt\". A package path must start with \"Root\".")
        << "the first component is compared with its case";
    EXPECT_EQ(failureOf([] { validatePackagePath(""); }),
              "Invalid package path \"\". A package path must start with \"Root\".");
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(Root\VFS\)"); }), "Invalid file path: \"Root\\VFS\\\".");
    EXPECT_EQ(failureOf([] { validatePackagePath(R"(Root\)"); }), "Invalid file path: \"Root\\\".");
}

TEST(PackageFiles, AddIgnoresCaseAndRefusesDuplicates) {
    FileTable files;
    EXPECT_EQ(outputOf([&] { addFile(files, R"(Root\VFS\a.TXT)", "/src/a.txt"); }),
              "Added file \"Root\\VFS\\a.TXT\" to package.\n");
    EXPECT_EQ(failureOf([&] { addFile(files, R"(Root\VFS\A.txt)", "/src/other.txt"); }),
              "Unable to add file \"Root\\VFS\\A.txt\" to package. File already exists.");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.find(R"(Root\VFS\a.txt)")->sourcePath, "/src/a.txt") << "a failed add changes nothing";
}

TEST(PackageFiles, UpdateReplacesOrFallsBackToAdd) {
    FileTable files;
    files.insert(R"(Root\VFS\App\tool.exe)", "/ws/res/Root/VFS/App/tool.exe");
    UpdateOutcome outcome{};
    EXPECT_EQ(outputOf([&] { outcome = updateFile(files, R"(Root\VFS\APP\Tool.exe)", "/src/tool.exe"); }),
              "Updated file \"Root\\VFS\\APP\\Tool.exe\" in package.\n");
    EXPECT_EQ(outcome, UpdateOutcome::Replaced);
    EXPECT_EQ(files.begin()->packagePath, R"(Root\VFS\App\tool.exe)") << "the stored key keeps its spelling";
    EXPECT_EQ(files.begin()->sourcePath, "/src/tool.exe");

    EXPECT_EQ(outputOf([&] { outcome = updateFile(files, R"(Root\VFS\App\new.dll)", "/src/new.dll"); }),
              "Added file \"Root\\VFS\\App\\new.dll\" to package.\n");
    EXPECT_EQ(outcome, UpdateOutcome::Added);
    EXPECT_EQ(files.size(), 2u);
    EXPECT_FALSE(files.replaceSource(R"(Root\other.exe)", "/x"));
    EXPECT_FALSE(files.erase(R"(Root\other.exe)"));
    EXPECT_EQ(files.find(R"(Root\other.exe)"), nullptr);
}

TEST(PackageFiles, RemoveMissingFailsAndChangesNothing) {
    FileTable files;
    files.insert(R"(Scripts\setup.cmd)", "/ws/res/Scripts/setup.cmd");
    EXPECT_EQ(failureOf([&] { removeFile(files, R"(Scripts\other.cmd)"); }),
              "Unable to remove file \"Scripts\\other.cmd\". File not found.");
    EXPECT_EQ(files.size(), 1u);
    EXPECT_EQ(outputOf([&] { removeFile(files, R"(scripts\SETUP.cmd)"); }),
              "Removed file \"scripts\\SETUP.cmd\" from package.\n");
    EXPECT_TRUE(files.empty());
}

TEST(FileTable, LookupsIgnoreCaseIncludingNonAsciiLetters) {
    FileTable table;
    ASSERT_TRUE(table.insert(R"(Root\VFS\Übung\Straße.TXT)", "/ws/a"));
    EXPECT_TRUE(table.contains(R"(root\vfs\übung\straße.txt)"));
    EXPECT_FALSE(table.contains(R"(ROOT\VFS\ÜBUNG\STRASSE.TXT)")) << "no multi-letter folding";
    EXPECT_FALSE(table.insert(R"(ROOT\vfs\ÜBUNG\straße.txt)", "/ws/b")) << "a case variant is the same file";
    EXPECT_EQ(table.find(R"(Root\VFS\Übung\Straße.TXT)")->sourcePath, "/ws/a");
    EXPECT_FALSE(table.contains(R"(Root\VFS\Ubung\Straße.TXT)"))
        << "letters differing beyond case stay apart";
}

TEST(FileTable, KeepsInsertionOrderSoThatSavedEntryOrderIsDeterministic) {
    FileTable table;
    for (const char* p : {R"(Root\z.txt)", R"(Root\a.txt)", R"(Root\m.txt)"})
        table.insert(p, "/src");
    table.erase(R"(ROOT\A.TXT)");
    table.insert(R"(Root\b.txt)", "/src");
    table.insert(R"(Root\a.txt)", "/src");
    std::vector<std::string> order;
    for (const auto& e : table)
        order.push_back(e.packagePath);
    EXPECT_EQ(order,
              (std::vector<std::string>{R"(Root\z.txt)", R"(Root\m.txt)", R"(Root\b.txt)", R"(Root\a.txt)"}));
}

TEST(KnownParts, MatchIgnoringOnlyAsciiCaseAndMapToTheirOwnSpelling) {
    EXPECT_EQ(canonicalKnownPart("appxmanifest.XML"), "AppxManifest.xml");
    EXPECT_EQ(canonicalKnownPart("[content_types].xml"), "[Content_Types].xml");
    EXPECT_TRUE(canonicalKnownPart(R"(Root\AppxManifest.xml)").empty())
        << "known parts live at the root only";
    EXPECT_TRUE(canonicalKnownPart("AppxManifest.xml ").empty());
    EXPECT_TRUE(isKnownPart("REGISTRY.DAT"));
    EXPECT_FALSE(isEditableXmlPart("Registry.dat"));
    EXPECT_FALSE(isEditableXmlPart("AppxBlockMap.xml")) << "the block map is generated, never edited";
    EXPECT_TRUE(isEditableXmlPart("streammap.xml"));
    EXPECT_EQ(xpathPrefixFor("APPXMANIFEST.xml"), "appx");
    EXPECT_EQ(xpathPrefixFor("StreamMap.xml"), "appv");
}
