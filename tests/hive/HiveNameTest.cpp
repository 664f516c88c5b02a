#include "hive/HiveName.h"
#include "core/Exception.h"
#include "hive/RegFileReader.h"
#include "hive/RegistryValueText.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace quendle;
using Bytes = std::vector<uint8_t>;
using quendle::test::failureOf;

TEST(HiveName, Utf8RoundTripsAndMalformedTextIsRefused) {
    std::string text = "Ünïcødé Ключ 日本語 \xF0\x9F\x98\x80";
    auto wide = hivename::fromUtf8(text);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->size(), 19u); // the emoji takes a surrogate pair
    EXPECT_EQ(hivename::toUtf8(*wide), text);
    EXPECT_FALSE(hivename::fromUtf8("\xC3"));         // cut short
    EXPECT_FALSE(hivename::fromUtf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(hivename::fromUtf8("\xED\xA0\x80")); // a surrogate
    EXPECT_EQ(hivename::fromUtf8Lossy("a\xFF"
                                      "b"),
              u"a\uFFFDb");
    EXPECT_EQ(hivename::toUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
}

// Name comparison and its order are checked through OfflineRegKey in OfflineRegHiveTest.cpp.
TEST(HiveName, ListHashesAndHints) {
    // The lh hash of ASCII names is checked on written hives (RegfWriterLayout); here a letter beyond.
    EXPECT_EQ(hivename::lhHash(u"ä"), 0xC4u);
    // lf: the first four characters as they are written.
    EXPECT_EQ(std::tuple(hivename::lfHint(u"Software"), hivename::lfHint(u"ab"), hivename::lfHint(u"Ключ")),
              std::tuple(0x74666F53u, 0x00006261u, 0u));
    EXPECT_TRUE(hivename::isAscii(u"REGISTRY") && !hivename::isAscii(u"é"));
}

// verify_hive.py's edits prove the common texts of every type (non-ASCII strings, a saturated and a
// negative DWORD, "a\r\n\r\nb", long binary) through hivex, libregf and reglookup; the edge cases stay.
TEST(ValueText, EdgeTextsOfEachTypeAndBadBinaryTextNamesItself) {
    using namespace regtype;
    const std::tuple<uint32_t, const char*, Bytes> cases[] = {
        {Dword, "12abc", {12, 0, 0, 0}},
        {Dword, "-99999999999999999999", {0, 0, 0, 0x80}},
        {Dword, "  +42", {42, 0, 0, 0}},
        {Dword, "x1", {0, 0, 0, 0}},
        {Dword, "", {0, 0, 0, 0}},
        {Dword, "2147483647", {0xFF, 0xFF, 0xFF, 0x7F}},
        {Dword, "-2147483648", {0, 0, 0, 0x80}},
        {None, "258", {2, 1, 0, 0}}, // type 0 converts as a DWORD too
        {Binary, "0aFF", {0x0A, 0xFF}},
        {Binary, "", {}},
        {Binary, "0g", {0}}, // the number stops at "g"
        {String, "", {0, 0}},
        {MultiString, "", {0, 0}},
        {MultiString, "a\nb\r\n", {'a', 0, '\n', 0, 'b', 0, 0, 0, 0, 0}}, // a lone LF is part of the string
    };
    for (const auto& [type, text, bytes] : cases)
        EXPECT_EQ(regtext::dataFromText(type, text), bytes) << type << " " << text;
    for (const char* bad : {"0aF", "g0", "zz", "0a  "}) {
        const auto e = test::thrown<Exception>([&] { regtext::dataFromText(Binary, bad); });
        EXPECT_HAS(e.message(), std::string("\"") + bad + "\"");
        EXPECT_EQ(e.code(), GenericErrorCode);
    }
}

// What the .reg reader makes of files written by hand the way regedit writes them, and which
// lines it refuses (with the file and line in the message).
namespace {

// The conversion is HiveName's, checked on its own above.
std::string utf16(const std::string& text, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    const std::u16string units = hivename::fromUtf8(text).value();
    for (char16_t unit : units) {
        const char lo = static_cast<char>(unit & 0xFF), hi = static_cast<char>(unit >> 8);
        out += littleEndian ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

} // namespace

TEST(RegFileReader, ReadsEveryFormOfKeyAndValueInBothEncodings) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9]\r\n"
                             "@=\"d\xC3\xA9\"\r\n"
                             "\"q\\\"\\\\\"=dword:0000ffff\r\n"
                             "\"bin\"=hex:01,02,\\\r\n"
                             "    03\r\n"
                             "\"flags\"=hex(400001):41,00,00,00\r\n"
                             "\"empty\"=hex(0):\r\n"
                             "[-HKLM\\Software\\Old]\r\n"
                             "\"ignored\"=\"a value of a deleted key goes nowhere\"\r\n";
    using Kind = RegFileEdit::Kind;
    for (bool little : {true, false}) {
        const auto edits = RegFileReader::parse(utf16(text, little), "t.reg");
        ASSERT_EQ(edits.size(), 7u);
        EXPECT_EQ(
            std::tuple(edits[0].kind, edits[0].root, edits[0].subkey),
            std::tuple(Kind::CreateKey, RegFileRoot::CurrentUser, std::string("Software\\Caf\xC3\xA9")));
        EXPECT_EQ(std::tuple(edits[1].valueName, edits[1].data),
                  std::tuple("", Bytes{'d', 0, 0xE9, 0, 0, 0}));
        EXPECT_EQ(std::tuple(edits[2].valueName, edits[2].type, edits[2].data),
                  std::tuple("q\"\\", 4u, Bytes{0xFF, 0xFF, 0, 0}));
        EXPECT_EQ(std::pair(edits[3].data, edits[3].line), std::pair(Bytes{1, 2, 3}, 6))
            << "a continued line joins the next";
        EXPECT_EQ(std::tuple(edits[4].type, edits[5].type, edits[5].data),
                  std::tuple(0x400001u, 0u, Bytes{}));
        EXPECT_EQ(std::tuple(edits[6].kind, edits[6].root),
                  std::tuple(Kind::DeleteKeyTree, RegFileRoot::LocalMachine));
    }

    // REGEDIT4 is ANSI: a string is Windows-1252 text. (BulkEditCli.ImportRegistryMatchesTheSameEdits...
    // proves the widening of hex(2) and hex(7) bytes, binary kept, deletions and the user root.)
    const auto ansi = RegFileReader::parse("REGEDIT4\n[HKEY_CLASSES_ROOT\\.txt]\n@=\"caf\xE9\"\n", "a.reg");
    ASSERT_EQ(ansi.size(), 2u);
    EXPECT_EQ(ansi[1].data, (Bytes{'c', 0, 'a', 0, 'f', 0, 0xE9, 0, 0, 0}));
}

// SubCommandCli's refusal table reads a file without the header, a key of an unknown root and a
// byte that is not hexadecimal through Import-Registry.
TEST(RegFileReader, MalformedLinesNameTheFileAndLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "line 1: the file must begin with"},
        {"REGEDIT4\n\"a\"=\"b\"\n", "line 2: a value is given before any key."},
        {"REGEDIT4\n[HKLM\\X\n", "line 2: a key in brackets is expected."},
        {"REGEDIT4\n[HKLM\\X]\nname=\"b\"\n", "line 3: the value name is not a quoted string or @."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\" \"b\"\n", "line 3: \"=\" is expected after the value name."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=\"b\n", "line 3: the value data is not"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=\"b\" c\n", "line 3: the text after the value data is not allowed."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=dword:123456789\n", "line 3: the dword is not eight"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=dword:\n", "line 3: the dword is not eight"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex:100\n", "line 3: the hexadecimal bytes are not valid."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex(zz):00\n", "line 3: the value data is not"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=qword:1\n", "line 3: the value data is not"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex:00,\\\n", "line 3: the file ends inside a continued line."},
    };
    for (const auto& [text, message] : cases) {
        const std::string failure = failureOf([&] { RegFileReader::parse(text, "dir/in.reg"); });
        EXPECT_TRUE(failure.starts_with("Invalid registry file \"dir/in.reg\", ")) << failure;
        EXPECT_HAS(failure, message) << text;
    }
    EXPECT_HAS(failureOf([] { RegFileReader::parse("\xFF\xFE\x41", "odd.reg"); }), "odd.reg");
}
