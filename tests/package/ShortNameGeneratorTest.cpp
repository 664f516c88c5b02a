#include "package/ShortNameGenerator.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

using namespace quendle;

namespace {

// Generates names for long names added one after another to the same folder.
class Folder {
  public:
    std::string add(const std::string& longName) {
        std::string shortName = ShortNameGenerator::makeShortName(
            longName, [this](const std::string& candidate) { return taken_.count(candidate) != 0; });
        if (!shortName.empty())
            taken_.insert(shortName);
        return shortName;
    }

  private:
    std::set<std::string> taken_;
};

std::string alone(const std::string& longName) {
    return Folder().add(longName);
}

// Each long name alone in its folder, and the short name it gets ("" for a valid 8.3 name).
const std::pair<const char*, const char*> AloneCases[] = {
    {"setup.exe", ""},
    {"SETUP.EXE", ""},
    {"abcdefgh.txt", ""}, // exactly eight and three characters
    {"ABCDEFGH.TXT", ""},
    {"LICENSE", ""},
    {"a", ""},
    {"x.y", ""},
    {"~tmp", ""}, // a tilde is an ordinary character
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
    {"name.", ""},               // a trailing dot leaves an empty, valid extension
    {"a.b+", "A~1.B_"},          // a replaced character in the extension
    {"a.b c", "A~1.BC"},         // a space in the extension is dropped
    {"x y z.tar.gz", "XYZTAR~1.GZ"},
    {"[[[[[[[[[[.;;;;;", "______~1.___"},
    // The extension check folds A to Z only, the written name folds every letter.
    {"résumé final.doc", "RÉSUMÉ~1.DOC"},
    {"straße verzeichnis", "STRAßE~1"}, // no single upper-case ß
    // Characters are counted, not bytes: eight two-byte letters still fit.
    {"éééééééé.txt", ""},
    {"ééééééééé", "ÉÉÉÉÉÉ~1"},
    {"ééééééééé.éééé", "ÉÉÉÉÉÉ~1.ÉÉÉ"},
};

} // namespace

TEST(ShortNameGenerator, NamesAloneInTheirFolder) {
    for (const auto& [longName, expected] : AloneCases)
        EXPECT_EQ(alone(longName), expected) << longName;
}

TEST(ShortNameGenerator, NumberingAmongSiblingsOnly) {
    Folder programFiles;
    EXPECT_EQ(programFiles.add("Program Files"), "PROGRA~1");
    EXPECT_EQ(programFiles.add("Program Files (x86)"), "PROGRA~2");
    Folder folder;
    EXPECT_EQ(folder.add("Document One.txt"), "DOCUME~1.TXT");
    EXPECT_EQ(folder.add("Document Two.txt"), "DOCUME~2.TXT");
    EXPECT_EQ(folder.add("Document Three.doc"), "DOCUME~1.DOC") << "another extension is another name";
    EXPECT_EQ(folder.add("setup.exe"), "") << "valid names take no number";
    Folder other;
    EXPECT_EQ(other.add("Document Two.txt"), "DOCUME~1.TXT") << "numbering restarts per folder";
}

TEST(ShortNameGenerator, RoomShrinksAsTheNumberGrows) {
    Folder folder;
    for (int i = 1; i <= 9; ++i)
        EXPECT_EQ(folder.add("Long File Name " + std::to_string(i) + ".txt"),
                  "LONGFI~" + std::to_string(i) + ".TXT");
    EXPECT_EQ(folder.add("Long File Name 10.txt"), "LONGF~10.TXT");
    EXPECT_EQ(ShortNameGenerator::candidate("Long File Name.txt", 100), "LONG~100.TXT");
    EXPECT_EQ(ShortNameGenerator::candidate("Long File Name.txt", 999999), "L~999999.TXT");
    // From a suffix of eight characters on, the suffix is the whole name, without extension.
    EXPECT_EQ(ShortNameGenerator::candidate("Long File Name.txt", 1000000), "~1000000");
    EXPECT_EQ(ShortNameGenerator::candidate("Long File Name.txt", 12345678901ULL), "~12345678901");
}

TEST(ShortNameGenerator, SkipsEveryTakenCandidate) {
    std::set<std::string> taken{"PROGRA~1", "PROGRA~2", "PROGRA~4"};
    auto isTaken = [&](const std::string& c) { return taken.count(c) != 0; };
    EXPECT_EQ(ShortNameGenerator::makeShortName("Program Data", isTaken), "PROGRA~3");
    taken.insert("PROGRA~3");
    EXPECT_EQ(ShortNameGenerator::makeShortName("Program Data", isTaken), "PROGRA~5");
}
