#include "os/Sha256.h"

#include "core/Exception.h"
#include "core/SystemError.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <limits>

namespace quendle {

namespace {

// The provider is opened once for the process; each SHA256 object makes its own hash object on it.
BCRYPT_ALG_HANDLE provider() {
    static const BCRYPT_ALG_HANDLE handle = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_HASH_REUSABLE_FLAG)))
            h = nullptr;
        return h;
    }();
    return handle;
}

constexpr ULONG largestPiece = 1u << 30;

} // namespace

struct SHA256::Engine {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Engine() {
        if (hash)
            BCryptDestroyHash(hash);
    }
};

SHA256::SHA256() : engine_(std::make_unique<Engine>()) {
    BCRYPT_ALG_HANDLE alg = provider();
    if (!alg)
        throw WindowsException(win32::NotSupported);
    // A reusable hash object starts over after each BCryptFinishHash: one object for every block.
    if (!BCRYPT_SUCCESS(
            BCryptCreateHash(alg, &engine_->hash, nullptr, 0, nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG)))
        throw WindowsException(win32::NotEnoughMemory);
}

SHA256::~SHA256() = default;

Sha256Digest SHA256::digest(const void* data, size_t length) {
    Sha256Digest digest{};
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    // BCryptHashData takes a ULONG length; it only reads the input.
    while (length > 0) {
        ULONG n = length < largestPiece ? static_cast<ULONG>(length) : largestPiece;
        if (!BCRYPT_SUCCESS(BCryptHashData(engine_->hash, bytes, n, 0)))
            throw WindowsException(win32::InvalidData);
        bytes += n;
        length -= n;
    }
    if (!BCRYPT_SUCCESS(BCryptFinishHash(engine_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw WindowsException(win32::InsufficientBuffer);
    return digest;
}

std::string base64Encode(const void* data, size_t length) {
    std::string out;
    const auto* bytes = static_cast<const BYTE*>(data);
    constexpr size_t piece = 3 * 1024 * 1024;
    while (length > 0) {
        DWORD n = static_cast<DWORD>(length < piece ? length : piece);
        size_t at = out.size();
        // The size asked for counts the terminating NUL; the size written does not.
        DWORD chars = 4 * ((n + 2) / 3) + 1;
        out.resize(at + chars);
        if (!CryptBinaryToStringA(bytes, n, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, out.data() + at,
                                  &chars))
            throw WindowsException(win32::NotEnoughMemory);
        out.resize(at + chars);
        bytes += n;
        length -= n;
    }
    return out;
}

bool base64Decode(std::string_view text, std::span<uint8_t> out) {
    if (!isBase64Of(text, out.size()) || text.size() > static_cast<size_t>(std::numeric_limits<DWORD>::max()))
        return false;
    DWORD written = static_cast<DWORD>(out.size());
    if (out.empty())
        return true;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, out.data(),
                              &written, nullptr, nullptr))
        return false;
    return written == out.size();
}

} // namespace quendle
