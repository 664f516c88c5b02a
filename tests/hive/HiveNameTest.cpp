#include "hive/HiveName.h"
#include "core/Exception.h"
#include "hive/RegistryValueText.h"

#include <gtest/gtest.h>

using namespace quendle;
using Bytes = std::vector<uint8_t>;

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
    // lh: h = h * 37 + upper-cased unit.
    EXPECT_EQ(hivename::lhHash(u"ab"), uint32_t{'A'} * 37 + 'B');
    EXPECT_EQ(hivename::lhHash(u"ä"), 0xC4u);
    EXPECT_EQ(hivename::lhHash(u"Software"), hivename::lhHash(u"SOFTWARE"));
    // lf: the first four characters as they are written.
    EXPECT_EQ(hivename::lfHint(u"Software"), 0x74666F53u);
    EXPECT_EQ(hivename::lfHint(u"ab"), 0x00006261u);
    EXPECT_EQ(hivename::lfHint(u"Ключ"), 0u);
    EXPECT_TRUE(hivename::isAscii(u"REGISTRY"));
    EXPECT_FALSE(hivename::isAscii(u"é"));
}

TEST(ValueText, StringsAreUtf16WithOneNul) {
    EXPECT_EQ(regtext::dataFromText(regtype::String, "Ab"), (Bytes{'A', 0, 'b', 0, 0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::ExpandString, "%X%"), (Bytes{'%', 0, 'X', 0, '%', 0, 0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::String, ""), (Bytes{0, 0}));
    EXPECT_EQ(regtext::dataFromText(regtype::String, "é€"), (Bytes{0xE9, 0, 0xAC, 0x20, 0, 0}));
}

TEST(ValueText, DwordReadsSignedDecimalAndSaturates) {
    const std::pair<const char*, Bytes> cases[] = {{"12abc", {12, 0, 0, 0}},
                                                   {"-5", {0xFB, 0xFF, 0xFF, 0xFF}},
                                                   {"4294967295", {0xFF, 0xFF, 0xFF, 0x7F}},
                                                   {"-99999999999999999999", {0, 0, 0, 0x80}},
                                                   {"  +42", {42, 0, 0, 0}},
                                                   {"x1", {0, 0, 0, 0}},
                                                   {"", {0, 0, 0, 0}},
                                                   {"2147483647", {0xFF, 0xFF, 0xFF, 0x7F}},
                                                   {"-2147483648", {0, 0, 0, 0x80}}};
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(regtext::dataFromText(regtype::Dword, text), bytes) << text;
    EXPECT_EQ(regtext::dataFromText(regtype::None, "258"), (Bytes{2, 1, 0, 0}))
        << "type 0 converts as a DWORD too";
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
