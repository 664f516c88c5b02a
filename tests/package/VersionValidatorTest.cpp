#include "package/VersionValidator.h"

#include <gtest/gtest.h>

using namespace quendle;

TEST(VersionValidator, AcceptsOneToFourFieldsWithinTheirLimits) {
    VersionValidator validator;
    EXPECT_EQ(validator.pattern(), "(\\d){1,5}((\\.){1,1}(\\d){1,5}){0,3}");
    for (const char* ok : {"", "7", "1.0", "1.2.3.4", "1.2.3.99999", "65535.65535.65535.0", "00001.2"})
        EXPECT_TRUE(validator.IsValid(ok)) << ok;
    for (const char* bad : {"1.2.3.4.5", "1..2", "1.2.3.123456", "70000.0.0.0", "1.65536", "1.2.65536.1", "a",
                            "1.2.", ".1", " 1.2", "1,2"})
        EXPECT_FALSE(validator.IsValid(bad)) << bad;
}
