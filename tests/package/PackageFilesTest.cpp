#include "package/PackageFiles.h"
#include "core/Exception.h"
#include "package/KnownParts.h"
#include "package/PackageTestSupport.h"
#include "package/ShortNameGenerator.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace quendle;
using test::failureOf;
using test::printed;

TEST(PackageFiles, SplitPackagePathAndScriptPath) {
    auto split = [](const std::string& path) {
        std::string out;
        for (const auto& part : splitPackagePath(path))
            out += part + "/";
        return out;
    };
    // An unnormalized trailing backslash ends the walk at once; only what follows a doubled
    // separator counts; a leading backslash stays on the first component.
    EXPECT_EQ(test::each(split, {R"(Root\VFS\ProgramFilesX86\App\a.exe)", "Root", "", R"(Root\VFS\)",
                                 R"(Root\\VFS\a)", R"(\Root\a)", R"(\\server\share)"}),
              R"(Root/VFS/ProgramFilesX86/App/a.exe/|Root/|||VFS/a/|\Root/a/|\\server/share/)");
    // A joined component loses its backslashes at either end, except that two leading ones stay.
    auto script = [](const std::string& name) { return PackagePath::ofScript(name).text(); };
    EXPECT_EQ(test::each(script, {"setup.cmd", R"(\launch.ps1)", R"(\run.ps1\)", R"(\\\x)", ""}),
              R"(Scripts\setup.cmd|Scripts\launch.ps1|Scripts\run.ps1|Scripts\\\x|Scripts)");
    // A typed path loses a leading "\\?\" and its single leading backslash.
    auto file = [](const std::string& typed) { return PackagePath::ofFile(typed).text(); };
    EXPECT_EQ(test::each(file, {R"(\\?\Root\a.txt)", R"(\Root\a.txt)"}), R"(Root\a.txt|Root\a.txt)");
    EXPECT_EQ(PackagePath::ofFolder(R"(Root\VFS\\)").text(), R"(Root\VFS)");
}

TEST(PackageFiles, ValidatePackagePathMessages) {
    const std::string slash = "\". Expecting a backslash path.",
                      root = "\". A package path must start with \"Root\".";
    // Leading backslashes are normalized; the first component is compared with its case.
    const std::pair<const char*, std::string> cases[] = {
        {R"(Root\VFS\a.txt)", ""},
        {"Root", ""},
        {R"(\Root\a.txt)", ""},
        {"Root/VFS/a.txt", "Invalid package path: \"Root/VFS/a.txt" + slash},
        {R"(Root\VFS/a.txt)", "Invalid package path: \"Root\\VFS/a.txt" + slash},
        {R"(VFS\a.txt)", "Invalid package path \"VFS\\a.txt" + root},
        {R"(root\VFS\a.txt)", "Invalid package path \"root\\VFS\\a.txt" + root},
        {"", "Invalid package path \"" + root},
        {R"(Root\VFS\)", "Invalid file path: \"Root\\VFS\\\"."},
        {R"(Root\)", "Invalid file path: \"Root\\\"."}};
    for (const auto& [path, message] : cases)
        EXPECT_EQ(failureOf([&] { validatePackagePath(path); }), message) << path;
}

TEST(PackageFiles, AddUpdateAndRemoveIgnoreCaseAndRefuseWhatCannotBeDone) {
    FileTable files;
    EXPECT_EQ(printed([&] { addFile(files, R"(Root\VFS\a.TXT)", "/src/a.txt"); }),
              "Added file \"Root\\VFS\\a.TXT\" to package.\n");
    EXPECT_EQ(failureOf([&] { addFile(files, R"(Root\VFS\A.txt)", "/src/other.txt"); }),
              "Unable to add file \"Root\\VFS\\A.txt\" to package. File already exists.");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.find(R"(Root\VFS\a.txt)")->sourcePath, "/src/a.txt") << "a failed add changes nothing";

    // Update replaces the source of an existing file, or adds it.
    files = FileTable();
    files.insert(R"(Root\VFS\App\tool.exe)", "/ws/res/Root/VFS/App/tool.exe");
    UpdateOutcome outcome{};
    EXPECT_EQ(printed([&] { outcome = updateFile(files, R"(Root\VFS\APP\Tool.exe)", "/src/tool.exe"); }),
              "Updated file \"Root\\VFS\\APP\\Tool.exe\" in package.\n");
    // The stored key keeps its spelling.
    EXPECT_EQ(std::tuple(outcome, files.begin()->packagePath.text(), files.begin()->sourcePath),
              std::tuple(UpdateOutcome::Replaced, R"(Root\VFS\App\tool.exe)", "/src/tool.exe"));

    EXPECT_EQ(printed([&] { outcome = updateFile(files, R"(Root\VFS\App\new.dll)", "/src/new.dll"); }),
              "Added file \"Root\\VFS\\App\\new.dll\" to package.\n");
    EXPECT_EQ(std::pair(outcome, files.size()), std::pair(UpdateOutcome::Added, size_t{2}));
    EXPECT_FALSE(files.replaceSource(R"(Root\other.exe)", "/x") || files.erase(R"(Root\other.exe)") ||
                 files.find(R"(Root\other.exe)"));

    // Removing a missing file fails and changes nothing.
    files.insert(R"(Scripts\setup.cmd)", "/ws/res/Scripts/setup.cmd");
    EXPECT_EQ(failureOf([&] { removeFile(files, R"(Scripts\other.cmd)"); }),
              "Unable to remove file \"Scripts\\other.cmd\". File not found.");
    EXPECT_EQ(files.size(), 3u);
    EXPECT_EQ(printed([&] { removeFile(files, R"(scripts\SETUP.cmd)"); }),
              "Removed file \"scripts\\SETUP.cmd\" from package.\n");
    EXPECT_EQ(files.size(), 2u);
}

TEST(FileTable, LookupsIgnoreCaseIncludingNonAsciiLettersAndInsertionOrderIsKept) {
    FileTable table;
    ASSERT_TRUE(table.insert(R"(Root\VFS\Übung\Straße.TXT)", "/ws/a"));
    // A case variant is the same file; no multi-letter folding; letters differing beyond case stay apart.
    EXPECT_FALSE(table.insert(R"(ROOT\vfs\ÜBUNG\straße.txt)", "/ws/b"));
    EXPECT_EQ(table.find(R"(root\vfs\übung\straße.txt)")->sourcePath, "/ws/a");
    EXPECT_FALSE(table.contains(R"(ROOT\VFS\ÜBUNG\STRASSE.TXT)") ||
                 table.contains(R"(Root\VFS\Ubung\Straße.TXT)"));
    // Insertion order is kept, so that the saved entry order is deterministic.
    table.erase(R"(Root\VFS\Übung\Straße.TXT)");
    for (const char* p : {R"(Root\z.txt)", R"(Root\a.txt)", R"(Root\m.txt)"})
        table.insert(p, "/src");
    table.erase(R"(ROOT\A.TXT)");
    table.insert(R"(Root\b.txt)", "/src");
    table.insert(R"(Root\a.txt)", "/src");
    std::vector<std::string> order;
    for (const auto& e : table)
        order.push_back(e.packagePath.text());
    EXPECT_EQ(order,
              (std::vector<std::string>{R"(Root\z.txt)", R"(Root\m.txt)", R"(Root\b.txt)", R"(Root\a.txt)"}));
}

TEST(KnownParts, MatchIgnoringOnlyAsciiCaseAndMapToTheirOwnSpelling) {
    // Known parts live at the root only.
    EXPECT_EQ(test::each(canonicalKnownPart, {"appxmanifest.XML", "[content_types].xml",
                                              R"(Root\AppxManifest.xml)", "AppxManifest.xml "}),
              "AppxManifest.xml|[Content_Types].xml||");
    EXPECT_TRUE(isKnownPart("REGISTRY.DAT"));
    // The block map is generated, never edited.
    auto editable = [](const std::string& part) { return isEditableXmlPart(part) ? "1" : "0"; };
    EXPECT_EQ(test::each(editable, {"Registry.dat", "AppxBlockMap.xml", "streammap.xml"}), "0|0|1");
    EXPECT_EQ(test::each(xpathPrefixFor, {"APPXMANIFEST.xml", "StreamMap.xml"}), "appx|appv");
}

namespace {

// Generates names for long names added one after another to the same folder.
struct Folder {
    std::string add(const std::string& longName) {
        std::string shortName = ShortNameGenerator::makeShortName(
            longName, [this](const std::string& candidate) { return taken.count(candidate) != 0; });
        if (!shortName.empty())
            taken.insert(shortName);
        return shortName;
    }
    std::set<std::string> taken;
};

// Each long name alone in its folder, and the short name it gets.
const std::pair<const char*, const char*> AloneCases[] = {
    {"a.b.c", "AB~1.C"},
    {"archive.tar.gz", "ARCHIV~1.GZ"},
    {"readme.html", "README~1.HTM"},
    {"abcdefghi.txt", "ABCDEF~1.TXT"}, // nine-character stem
    {"abc.json", "ABC~1.JSO"},         // four-character extension
    {"ProgramFilesX86", "PROGRA~1"},
    {"Microsoft Office", "MICROS~1"},
    // Dots and spaces vanish, "+,;=[]" become underscores, all before counting room.
    {"a b.txt", "AB~1.TXT"},
    {"a+b.txt", "A_B~1.TXT"},
    {"[x],y;z=w", "_X__Y_~1"},
    {". . .abcdefgh", "~1.ABC"}, // a stem of only dropped characters
    {".profile", "~1.PRO"},      // an empty stem
    {"a.b+", "A~1.B_"},          // a replaced character in the extension
    {"a.b c", "A~1.BC"},         // a space in the extension is dropped
    {"x y z.tar.gz", "XYZTAR~1.GZ"},
    {"[[[[[[[[[[.;;;;;", "______~1.___"},
    // The extension check folds A to Z only, the written name folds every letter.
    {"résumé final.doc", "RÉSUMÉ~1.DOC"},
    {"straße verzeichnis", "STRAßE~1"}, // no single upper-case ß
    // Characters are counted, not bytes.
    {"ééééééééé", "ÉÉÉÉÉÉ~1"},
    {"ééééééééé.éééé", "ÉÉÉÉÉÉ~1.ÉÉÉ"},
};

} // namespace

// Valid 8.3 names get none: eight and three characters, a tilde is an ordinary character, a
// trailing dot leaves an empty extension, eight two-byte letters still fit. Skipping taken names
// and the numbers of thousands of siblings are checked on saved packages by verify_metadata.py
// (BulkEditCli); numbering restarts per folder in FilesystemMetadataTest.
TEST(ShortNameGenerator, NamesAloneNumberedAmongSiblingsAndRoomShrinksAsTheNumberGrows) {
    for (const char* name : {"setup.exe", "SETUP.EXE", "abcdefgh.txt", "ABCDEFGH.TXT", "LICENSE", "a", "x.y",
                             "~tmp", "name.", "éééééééé.txt"})
        EXPECT_EQ(Folder().add(name), "") << name;
    for (const auto& [longName, expected] : AloneCases)
        EXPECT_EQ(Folder().add(longName), expected) << longName;
    // Another extension is another name; valid names take no number.
    Folder folder;
    EXPECT_EQ(test::each([&](const std::string& name) { return folder.add(name); },
                         {"Document One.txt", "Document Two.txt", "Document Three.doc", "setup.exe"}),
              "DOCUME~1.TXT|DOCUME~2.TXT|DOCUME~1.DOC|");
    // Numbers no package reaches: from a suffix of eight characters on, the suffix is the whole name.
    std::string names;
    for (uint64_t n : {100ULL, 999999ULL, 1000000ULL, 12345678901ULL})
        names += ShortNameGenerator::candidate("Long File Name.txt", n) + "|";
    EXPECT_EQ(names, "LONG~100.TXT|L~999999.TXT|~1000000|~12345678901|");
}
