#include "util/strings/StringSystem.h"
#include "support/TestSupport.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringTable.h"

#include <gtest/gtest.h>

using namespace quendle;

// The way back from UTF-16 with supplementary characters is CommandFileTest's, through a file.
TEST(StringSystem, Utf16KeepsSupplementaryCharactersAndReplacesLoneSurrogates) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a, e-acute, euro, emoji
    EXPECT_EQ(utf8ToUtf16(text), (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'x', 0xD800, u'y'}), "x\xEF\xBF\xBDy");
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
}

// Valid UTF-8 and a plain Latin-1 letter are CommandFileTest's; here the edge bytes.
TEST(StringSystem, AnsiBytesAreUtf8WithWindows1252Fallback) {
    EXPECT_EQ(utf8OrWindows1252("\x80 \x9F"), "\xE2\x82\xAC \xC5\xB8");           // euro, Y-diaeresis
    EXPECT_EQ(utf8OrWindows1252("\x81"), "\xC2\x81");                             // unassigned byte
    EXPECT_EQ(utf8OrWindows1252("\xC0\xAF"), "\xC3\x80\xC2\xAF");                 // overlong: not UTF-8
    EXPECT_EQ(utf8OrWindows1252("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC"); // encoded surrogate
    EXPECT_TRUE(isValidUtf8("plain \xE2\x82\xAC"));
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));
    EXPECT_EQ(windows1252ToUtf8("\x93q\x94"), "\xE2\x80\x9Cq\xE2\x80\x9D");
}

// Accented letters in package paths and short names are FileTable's and ShortNameGenerator's.
TEST(StringSystem, AsciiCaseFoldingLeavesOtherLettersAloneAndSystemCaseMappingFoldsThem) {
    EXPECT_TRUE(equalsIgnoreCaseAscii("StreamMap.XML", "streammap.xml"));
    EXPECT_FALSE(equalsIgnoreCaseAscii("\xC3\x89", "\xC3\xA9") || equalsIgnoreCaseAscii("Update", "Updat"));
    EXPECT_TRUE(startsWithIgnoreCaseAscii("REGISTRY\\Machine", "registry\\"));
    EXPECT_EQ(toLowerAscii("A[Z]@"), "a[z]@");
    EXPECT_TRUE(equalsIgnoreCase("\xD0\x9F\xD0\xA0\xD0\x98", "\xD0\xBF\xD1\x80\xD0\xB8")); // Cyrillic
    EXPECT_FALSE(equalsIgnoreCase("a", "b"));
    EXPECT_EQ(foldCase("X\xFFY"), "x\xFFy"); // an invalid byte passes through
}

TEST(StringSystem, EditDistanceCountsCodePointsAndTrimRemovesAsciiWhiteSpaceOnly) {
    // Case-sensitive; e-acute is one code point.
    const std::pair<const char*, const char*> pairs[] = {{"Update", "Updte"},  {"", "abc"},
                                                         {"abc", ""},          {"kitten", "sitting"},
                                                         {"update", "Update"}, {"\xC3\xA9t\xC3\xA9", "ete"}};
    std::string distances;
    for (const auto& [a, b] : pairs)
        distances += std::to_string(editDistance(a, b));
    EXPECT_EQ(distances, "133312");
    EXPECT_EQ(codePointCount("\xC3\xA9t\xF0\x9F\x98\x80"), 3u);
    EXPECT_FALSE(withinSuggestionRange(10'000'000, "Update", 4));
    EXPECT_TRUE(withinSuggestionRange(9, "Update", 4));
    EXPECT_EQ(std::string(trimWhiteSpace(" \t\r\n x y \v\f")) + "|" + std::string(trimWhiteSpace("   ")),
              "x y|");
    EXPECT_EQ(trimWhiteSpace(std::string_view("\0a", 2)), std::string_view("\0a", 2));
}

// The texts of the table raised by id are the command tests' part; their codes and the Win32
// texts are the presenter's.
TEST(MessageFormat, EscapesInsertsAndPrintfStyleTexts) {
    // A text of the table with printf inserts, raised by id.
    EXPECT_EQ(formatMessageId(Msg::PackageOpenFailed, {"p.appv"}),
              "Failed to open: p.appv (invalid file format).");
    EXPECT_EQ(formatString(loadString(Msg::ProgressPercent), {42}), " 42%");
    EXPECT_EQ(formatMessage("%1!ls! and %2!ld!", {"x", 7}), "x and 7");
    EXPECT_EQ(loadString(134), "");
    EXPECT_EQ(formatMessage("%2!ls!", {"only one"}).rfind("Format message error", 0), 0u);
    EXPECT_EQ(formatMessage("a%nb%tc%rd%%e%.f%!", {}), "a\nb\tc\rd%e.f!");
    EXPECT_EQ(formatMessage("kept%0 dropped", {}), "kept");
    EXPECT_EQ(formatMessage("%1!ls! %1!ls!", {"twice"}), "twice twice");
    EXPECT_EQ(formatMessage("0x%1!x!", {255}), "0xff");
    EXPECT_EQ(formatString("%s=%d%%, %q", {"rate", 50}), "rate=50%, %q");
    EXPECT_EQ(formatString("%s and %s", {"one"}), "one and ");
}
