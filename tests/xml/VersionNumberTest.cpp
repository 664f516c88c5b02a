#include "xml/VersionNumber.h"
#include "support/TestSupport.h"

#include <array>
#include <gtest/gtest.h>

using namespace quendle;

namespace {

// The text and the field count after parsing `text`, and after one increment more.
std::pair<std::string, int> parsed(const std::string& text, bool increment = false) {
    VersionNumber v;
    v.Parse(text);
    if (increment)
        v.Increment();
    return {v.ToString(), v.count()};
}

} // namespace

TEST(VersionNumber, ParsesLooselyFormatsWithoutRedundantFieldsAndIncrementsWithCarry) {
    using R = std::pair<std::string, int>;
    auto text = [](const std::string& in) { return parsed(in).first; };
    // A dropped 65535 would read back as 0.
    EXPECT_EQ(test::each(text, {"1.0.0.0", "v2-7", "abc", "", "1.2.65535.65535", "0.0.0.7", "2147483647.1"}),
              "1.0|2.7|0.0.0.0|0.0.0.0|1.2.65535.65535|0.0.0.7|2147483647.1");
    EXPECT_EQ(parsed("14.1"), R("14.1", 2));
    EXPECT_EQ(parsed("1.2.3.4.5"), R("1.2.3.4", 4));
    EXPECT_EQ(parsed("1.99999999999"), R("0.0.0.0", 0)) << "a field beyond 32 bits zeroes the whole value";

    auto next = [](const std::string& in) { return parsed(in, true).first; };
    EXPECT_EQ(
        test::each(next, {"1.0.0.0", "1.2.3.9", "1.2.3.65535", "1.65535.65535.65535", "1.2.65534.65535", ""}),
        "1.0.0.1|1.2.3.10|1.2.4|2.0|1.2.65535|0.0.0.1");
    EXPECT_EQ(parsed("3", true), R("3.0.0.1", 4));
}

TEST(VersionNumber, AutoVersionReadsBackStrictlyGreaterThanTheOldOne) {
    auto tuple = [](const VersionNumber& v) {
        return std::array<int32_t, 4>{v.component(0), v.component(1), v.component(2), v.component(3)};
    };
    for (const char* old :
         {"1.2.65534.65535", "1.2.65535.65534", "0.65535.0.65535", "65535.65535.65534.65535", "1.0.0.0",
          "1.2.3.65535", "0.0.0.0", "7.65535.65535.65535"}) {
        VersionNumber before, after;
        before.Parse(old);
        VersionNumber next = before;
        next.Increment();
        after.Parse(next.ToString()); // what the client reads from the manifest
        EXPECT_GT(tuple(after), tuple(before)) << old << " -> " << next.ToString();
    }
}
