#include "hive/HiveName.h"

#include <gtest/gtest.h>

using namespace quendle;

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

TEST(HiveName, CaseFoldingFollowsTheSimpleUnicodeMapping) {
    EXPECT_EQ(hivename::compare(u"Software", u"SOFTWARE"), 0);
    EXPECT_EQ(hivename::compare(u"äöüéñ", u"ÄÖÜÉÑ"), 0);
    EXPECT_EQ(hivename::compare(u"ключ", u"КЛЮЧ"), 0);
    EXPECT_EQ(hivename::compare(u"ωμέγα", u"ΩΜΈΓΑ"), 0);
    EXPECT_NE(hivename::compare(u"straße", u"STRASSE"), 0);
    EXPECT_LT(hivename::compare(u"A", u"a_"), 0);
    EXPECT_LT(hivename::compare(u"ab", u"A_"), 0); // 'B' 0x42 before '_' 0x5F once upper-cased
    EXPECT_GT(hivename::compare(u"b", u"A"), 0);
    EXPECT_LT(hivename::compare(u"abc", u"ABCD"), 0);
}

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
