#include "os/Sha256.h"

#include <gtest/gtest.h>

#include <string>

using namespace quendle;

namespace {
std::string hex(const Sha256Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : d)
        out += {digits[b >> 4], digits[b & 15]};
    return out;
}
} // namespace

// Each platform's library behind the one interface: the test vectors of FIPS 180-2, one object
// hashing one input after another, Base64 both ways with the strict shape of a block map's Hash.
TEST(Sha256, DigestsAndBase64) {
    SHA256 sha;
    EXPECT_EQ(hex(sha.hash("abc", 3)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(sha.hash("", 0)), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    std::string million(1000000, 'a');
    EXPECT_EQ(hex(sha.hash(million.data(), million.size())),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    Sha256Digest abc = sha.hash("abc", 3);
    EXPECT_EQ(base64Encode(abc.data(), abc.size()), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
    EXPECT_EQ(base64Encode("\x00\x01\x02\xfe\xff", 5), "AAEC/v8=");
    EXPECT_EQ(base64Encode("", 0), "");

    Sha256Digest back{};
    EXPECT_TRUE(base64Decode("ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=", back));
    EXPECT_EQ(back, abc);
    for (const char* bad :
         {"ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0", "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa==",
          "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAF=0=", " ngWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=",
          "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=\n", "ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0="})
        EXPECT_FALSE(base64Decode(bad, back)) << bad;
    uint8_t five[5];
    EXPECT_TRUE(base64Decode("AAEC/v8=", five));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(five), 5), std::string("\x00\x01\x02\xfe\xff", 5));
}
