#include "os/Sha256.h"

namespace quendle {

namespace {

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) void zeroUpper() {
    __builtin_ia32_vzeroupper();
}
// ISA-L's AVX-512 code returns with the upper halves of the vector registers still in use, and
// SHA instructions, which are SSE-encoded, then run a third slower (1.3 against 1.8 GB/s on the
// machine we measure on). Clearing that state first costs a few cycles.
void clearUpperVectorState() {
    // Detected on first use: static initialisers may run before the compiler's CPU detection.
    static const bool haveAvx = (__builtin_cpu_init(), __builtin_cpu_supports("avx") != 0);
    if (haveAvx)
        zeroUpper();
}
#else
void clearUpperVectorState() {}
#endif

} // namespace

bool isBase64Of(std::string_view text, size_t bytes) {
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t padding = (3 - bytes % 3) % 3;
    return text.size() == 4 * ((bytes + 2) / 3) &&
           text.find_first_not_of(alphabet) == (padding ? text.size() - padding : std::string_view::npos) &&
           text.find_first_not_of('=', text.size() - padding) == std::string_view::npos;
}

Sha256Digest SHA256::hash(const void* data, size_t length) {
    clearUpperVectorState();
    return digest(data, length);
}

} // namespace quendle
