#include "package/FileTable.h"
#include "package/KnownParts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quendle;

namespace {

std::vector<std::string> order(const FileTable& table) {
    std::vector<std::string> keys;
    for (const auto& e : table)
        keys.push_back(e.packagePath);
    return keys;
}

} // namespace

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
    EXPECT_EQ(order(table),
              (std::vector<std::string>{R"(Root\z.txt)", R"(Root\m.txt)", R"(Root\b.txt)", R"(Root\a.txt)"}));
}

TEST(FileTable, UpdateKeepsTheFirstSpellingAndMissingKeysReportFalse) {
    FileTable table;
    table.insert(R"(Root\App\Tool.exe)", "/ws/res/Root/App/Tool.exe");
    EXPECT_TRUE(table.replaceSource(R"(root\app\TOOL.EXE)", "/home/me/tool.exe"));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.begin()->packagePath, R"(Root\App\Tool.exe)");
    EXPECT_EQ(table.begin()->sourcePath, "/home/me/tool.exe");
    EXPECT_FALSE(table.replaceSource(R"(Root\other.exe)", "/x"));
    EXPECT_FALSE(table.erase(R"(Root\other.exe)"));
    EXPECT_EQ(table.find(R"(Root\other.exe)"), nullptr);
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
}

TEST(KnownParts, ManifestSelectsWithAppxEveryOtherPartWithAppv) {
    EXPECT_EQ(xpathPrefixFor("AppxManifest.xml"), "appx");
    EXPECT_EQ(xpathPrefixFor("APPXMANIFEST.xml"), "appx");
    EXPECT_EQ(xpathPrefixFor("[Content_Types].xml"), "appv");
    EXPECT_EQ(xpathPrefixFor("StreamMap.xml"), "appv");
}
