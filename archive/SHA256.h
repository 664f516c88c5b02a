#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

typedef struct evp_md_st EVP_MD;
typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace quendle {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 of whole buffers. One object keeps its fetched digest and context, so hashing
// thousands of 64 KiB blocks costs no provider lookups.
class SHA256 {
  public:
    SHA256();
    ~SHA256();
    SHA256(const SHA256&) = delete;
    SHA256& operator=(const SHA256&) = delete;

    Sha256Digest hash(const void* data, size_t length);

  private:
    struct MdDeleter {
        void operator()(EVP_MD* md) const;
    };
    struct CtxDeleter {
        void operator()(EVP_MD_CTX* ctx) const;
    };
    std::unique_ptr<EVP_MD, MdDeleter> md_;
    std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx_;
};

// Base64 of RFC 4648: standard alphabet, "=" padding, no line breaks.
std::string base64Encode(const void* data, size_t length);

} // namespace quendle
