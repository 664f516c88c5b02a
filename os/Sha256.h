#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace quendle {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 of whole buffers, from OpenSSL's libcrypto on every platform. One object keeps its
// hash context, so hashing thousands of 64 KiB blocks costs no provider lookups. An object is
// used by one thread at a time.
class SHA256 {
  public:
    SHA256();
    ~SHA256();
    SHA256(const SHA256&) = delete;
    SHA256& operator=(const SHA256&) = delete;

    Sha256Digest hash(const void* data, size_t length);

  private:
    struct Engine;
    Sha256Digest digest(const void* data, size_t length);
    std::unique_ptr<Engine> engine_;
};

// Base64 of RFC 4648: standard alphabet, "=" padding, no line breaks.
std::string base64Encode(const void* data, size_t length);
// True when text has the shape of the padded Base64 of `bytes` bytes: its length, alphabet and
// padding. Both libraries are more forgiving (blanks, padding inside), and they differ in how.
bool isBase64Of(std::string_view text, size_t bytes);
// Fills out when text is the padded Base64 of exactly out.size() bytes; false for anything else.
bool base64Decode(std::string_view text, std::span<uint8_t> out);

} // namespace quendle
