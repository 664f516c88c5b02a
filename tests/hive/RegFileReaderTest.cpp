// What the .reg reader makes of files written by hand the way regedit writes them, and which
// lines it refuses (with the file and line in the message).
#include "hive/RegFileReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;
using quendle::test::failureOf;

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::string utf16(const std::string& text, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (size_t pos = 0; pos < text.size();) {
        // Only the characters the test uses: ASCII and U+00E9.
        char16_t unit = static_cast<unsigned char>(text[pos]);
        if (text.compare(pos, 2, "\xC3\xA9") == 0) {
            unit = 0xE9;
            pos += 2;
        } else {
            ++pos;
        }
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
                             "\"qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                             "\"flags\"=hex(400001):41,00,00,00\r\n"
                             "\"empty\"=hex(0):\r\n"
                             "\"gone\"=-\r\n"
                             "[-HKLM\\Software\\Old]\r\n"
                             "\"ignored\"=\"a value of a deleted key goes nowhere\"\r\n";
    for (bool little : {true, false}) {
        const auto edits = RegFileReader::parse(utf16(text, little), "t.reg");
        ASSERT_EQ(edits.size(), 9u);
        EXPECT_EQ(edits[0].kind, RegFileEdit::Kind::CreateKey);
        EXPECT_EQ(edits[0].root, RegFileRoot::CurrentUser);
        EXPECT_EQ(edits[0].subkey, "Software\\Caf\xC3\xA9");
        EXPECT_EQ(edits[1].valueName, "");
        EXPECT_EQ(edits[1].data, bytes({'d', 0, 0xE9, 0, 0, 0}));
        EXPECT_EQ(edits[2].valueName, "q\"\\");
        EXPECT_EQ(edits[2].type, 4u);
        EXPECT_EQ(edits[2].data, bytes({0xFF, 0xFF, 0, 0}));
        EXPECT_EQ(edits[3].data, bytes({1, 2, 3})) << "a continued line joins the next";
        EXPECT_EQ(edits[3].line, 6);
        EXPECT_EQ(edits[4].type, 0xBu);
        EXPECT_EQ(edits[5].type, 0x400001u);
        EXPECT_TRUE(edits[6].data.empty());
        EXPECT_EQ(edits[6].type, 0u);
        EXPECT_EQ(edits[7].kind, RegFileEdit::Kind::DeleteValue);
        EXPECT_EQ(edits[8].kind, RegFileEdit::Kind::DeleteKeyTree);
        EXPECT_EQ(edits[8].root, RegFileRoot::LocalMachine);
    }

    // REGEDIT4 is ANSI: Windows-1252 text, and the string types' bytes widen to UTF-16.
    const auto ansi = RegFileReader::parse("REGEDIT4\n[HKEY_CLASSES_ROOT\\.txt]\n@=\"caf\xE9\"\n"
                                           "\"p\"=hex(2):41,e9,00\n\"m\"=hex(7):61,00,00\n\"b\"=hex:e9\n",
                                           "a.reg");
    ASSERT_EQ(ansi.size(), 5u);
    EXPECT_EQ(ansi[1].data, bytes({'c', 0, 'a', 0, 'f', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(ansi[2].data, bytes({'A', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ(ansi[3].data, bytes({'a', 0, 0, 0, 0, 0}));
    EXPECT_EQ(ansi[4].data, bytes({0xE9})) << "binary stays as it is";
}

TEST(RegFileReader, MalformedLinesNameTheFileAndLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"[HKLM\\X]\n", "line 1: the file must begin with"},
        {"", "line 1: the file must begin with"},
        {"REGEDIT4\n\"a\"=\"b\"\n", "line 2: a value is given before any key."},
        {"REGEDIT4\n[HKLM\\X\n", "line 2: a key in brackets is expected."},
        {"REGEDIT4\n[SOFTWARE\\X]\n", "line 2: the key must begin with"},
        {"REGEDIT4\n[HKLM\\X]\nname=\"b\"\n", "line 3: the value name is not a quoted string or @."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\" \"b\"\n", "line 3: \"=\" is expected after the value name."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=\"b\n", "line 3: the value data is not"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=\"b\" c\n", "line 3: the text after the value data is not allowed."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=dword:123456789\n", "line 3: the dword is not eight"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=dword:\n", "line 3: the dword is not eight"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex:1,2,3x\n", "line 3: the hexadecimal bytes are not valid."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex:100\n", "line 3: the hexadecimal bytes are not valid."},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex(zz):00\n", "line 3: the value data is not"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=qword:1\n", "line 3: the value data is not"},
        {"REGEDIT4\n[HKLM\\X]\n\"a\"=hex:00,\\\n", "line 3: the file ends inside a continued line."},
    };
    for (const auto& [text, message] : cases) {
        const std::string failure = failureOf([&] { RegFileReader::parse(text, "dir/in.reg"); });
        EXPECT_TRUE(failure.starts_with("Invalid registry file \"dir/in.reg\", ")) << failure;
        EXPECT_NE(failure.find(message), std::string::npos) << text << "\n" << failure;
    }
    EXPECT_NE(failureOf([] { RegFileReader::parse("\xFF\xFE\x41", "odd.reg"); }).find("odd.reg"),
              std::string::npos);
}
