#include "archive/PercentEncoding.h"
#include "ArchiveTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

TEST(PercentEncoding, PackagePathsAndEntryNames) {
    EXPECT_EQ(percentEncodePackagePath(" @$+,/:;=?&%<>{}[]()#^!*'"),
              "%20%40%24%2B%2C%2F%3A%3B%3D%3F%26%25%3C%3E%7B%7D%5B%5D%28%29%23%5E%21%2A%27");
    EXPECT_EQ(percentEncodePackagePath("Root\\caf\xC3\xA9-_.~"), "Root\\caf\xC3\xA9-_.~");
    EXPECT_EQ(percentEncodeEntryName("Root\\caf\xC3\xA9 x"), "Root/caf%C3%A9 x");

    // Escapes are bytes, so UTF-8 sequences come back; broken ones stay; decoded once.
    EXPECT_EQ(each(percentDecode, {"My%20App%5b1%5D", "caf%C3%A9", "100%", "%2", "%zz%4", "%2525"}),
              "My App[1]|caf\xC3\xA9|100%|%2|%zz%4|%25");
    EXPECT_EQ(percentDecodeCharacters("A%20B%E9"), "A B\xC3\xA9") << "an escape names a character";
    // Encoding then decoding gives the package path back.
    std::string path = "Root\\a b\\#1 & [2] {3} 100%.txt";
    EXPECT_EQ(percentDecode(percentEncodePackagePath(path)), path);
}
