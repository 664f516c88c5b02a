#include "hive/RegistryValueText.h"

#include "core/Exception.h"

#include <gtest/gtest.h>

using namespace quendle;
using Bytes = std::vector<uint8_t>;

TEST(ValueText, StringsAreUtf16WithOneNul) {
    EXPECT_EQ(regtext::dataFromText(regtype::String, "Ab"), (Bytes{'A', 0, 'b', 0, 0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::ExpandString, "%X%"), (Bytes{'%', 0, 'X', 0, '%', 0, 0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::String, ""), (Bytes{0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::String, "é€"), (Bytes{0xE9, 0, 0xAC, 0x20, 0, 0}));
}

TEST(ValueText, DwordReadsSignedDecimalAndSaturates) {
    auto dword = [](const char* text) { return regtext::dataFromText(regtype::Dword, text); };
    EXPECT_EQ(dword("12abc"), (Bytes{12, 0, 0, 0}));
    EXPECT_EQ(dword("-5"), (Bytes{0xFB, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(dword("4294967295"), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(dword("-99999999999999999999"), (Bytes{0, 0, 0, 0x80}));
    EXPECT_EQ(dword("  +42"), (Bytes{42, 0, 0, 0}));
    EXPECT_EQ(dword("x1"), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(dword(""), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(dword("2147483647"), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(dword("-2147483648"), (Bytes{0, 0, 0, 0x80}));
    // Type 0 converts as a DWORD too.
    EXPECT_EQ(regtext::dataFromText(regtype::None, "258"), (Bytes{2, 1, 0, 0}));
}

TEST(ValueText, BinaryIsHexPairsAndBadTextNamesItself) {
    EXPECT_EQ(regtext::dataFromText(regtype::Binary, "0aFF"), (Bytes{0x0A, 0xFF}));
    EXPECT_EQ(regtext::dataFromText(regtype::Binary, ""), Bytes{});
    EXPECT_EQ(regtext::dataFromText(regtype::Binary, "0g"), Bytes{0}); // the number stops at "g"
    for (const char* bad : {"0aF", "g0", "zz", "0a  "}) {
        try {
            regtext::dataFromText(regtype::Binary, bad);
            ADD_FAILURE() << bad;
        } catch (const Exception& e) {
            EXPECT_NE(e.message().find(std::string("\"") + bad + "\""), std::string::npos) << e.message();
            EXPECT_EQ(e.code(), GenericErrorCode);
        }
    }
}

TEST(ValueText, MultiStringSplitsAtCrLfAndDropsEmptyPieces) {
    EXPECT_EQ(regtext::dataFromText(regtype::MultiString, "a\r\n\r\nb"),
              (Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::MultiString, ""), (Bytes{0, 0}));
    // A lone LF is part of the string.
    EXPECT_EQ(regtext::dataFromText(regtype::MultiString, "a\nb\r\n"),
              (Bytes{'a', 0, '\n', 0, 'b', 0, 0, 0, 0, 0}));
}
