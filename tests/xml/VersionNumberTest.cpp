#include "xml/VersionNumber.h"

#include <array>
#include <gtest/gtest.h>

using namespace quendle;

namespace {
std::string parsed(const std::string& text) {
    VersionNumber v;
    v.Parse(text);
    return v.ToString();
}
std::string incremented(const std::string& text) {
    VersionNumber v;
    v.Parse(text);
    v.Increment();
    return v.ToString();
}
} // namespace

TEST(VersionNumber, ParsesLooselyAndFormatsWithoutRedundantFields) {
    EXPECT_EQ(parsed("1.0.0.0"), "1.0");
    VersionNumber v;
    v.Parse("14.1");
    EXPECT_EQ(v.count(), 2);
    EXPECT_EQ(v.ToString(), "14.1");
    v.Parse("1.2.3.4.5");
    EXPECT_EQ(v.count(), 4);
    EXPECT_EQ(v.ToString(), "1.2.3.4");
    EXPECT_EQ(parsed("v2-7"), "2.7");
    EXPECT_EQ(parsed("abc"), "0.0.0.0");
    EXPECT_EQ(parsed(""), "0.0.0.0");
    EXPECT_EQ(parsed("1.2.65535.65535"), "1.2.65535.65535") << "a dropped 65535 would read back as 0";
    EXPECT_EQ(parsed("0.0.0.7"), "0.0.0.7");
    // A component that would overflow 32 bits makes the whole value zero.
    v.Parse("1.99999999999");
    EXPECT_EQ(v.count(), 0);
    EXPECT_EQ(v.ToString(), "0.0.0.0");
    EXPECT_EQ(parsed("2147483647.1"), "2147483647.1");
}

TEST(VersionNumber, IncrementCarriesIntoTheFieldBefore) {
    EXPECT_EQ(incremented("1.0.0.0"), "1.0.0.1");
    EXPECT_EQ(incremented("1.2.3.9"), "1.2.3.10");
    EXPECT_EQ(incremented("1.2.3.65535"), "1.2.4");
    EXPECT_EQ(incremented("1.65535.65535.65535"), "2.0");
    EXPECT_EQ(incremented(""), "0.0.0.1");
    VersionNumber v;
    v.Parse("3");
    v.Increment();
    EXPECT_EQ(v.count(), 4);
    EXPECT_EQ(v.ToString(), "3.0.0.1");
}

TEST(VersionNumber, AutoVersionReadsBackStrictlyGreaterThanTheOldOne) {
    auto tuple = [](const VersionNumber& v) {
        return std::array<int32_t, 4>{v.component(0), v.component(1), v.component(2), v.component(3)};
    };
    for (const char* old :
         {"1.2.65534.65535", "1.2.65535.65534", "0.65535.0.65535", "65535.65535.65534.65535", "1.0.0.0",
          "1.2.3.65535", "0.0.0.0", "7.65535.65535.65535"}) {
        SCOPED_TRACE(old);
        VersionNumber before, after;
        before.Parse(old);
        VersionNumber next = before;
        next.Increment();
        after.Parse(next.ToString()); // what the client reads from the manifest
        EXPECT_GT(tuple(after), tuple(before)) << next.ToString();
    }
    EXPECT_EQ(incremented("1.2.65534.65535"), "1.2.65535");
}
