#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quendle {

// Key and value names as the hive stores them: UTF-16 code units, compared without regard to
// case the way the registry does it: each code unit is upper-cased on its own by the simple
// Unicode mapping (towupper in the C.UTF-8 locale, limited to the Basic Multilingual Plane;
// plain A-Z folding if that locale is missing), then the units are compared as numbers.
namespace hivename {

// UTF-8 to UTF-16; nullopt for malformed UTF-8.
std::optional<std::u16string> fromUtf8(std::string_view text);
// UTF-8 to UTF-16, each malformed byte becoming U+FFFD.
std::u16string fromUtf8Lossy(std::string_view text);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);

char16_t upcase(char16_t c);
std::u16string upcased(std::u16string_view name);
// Negative, zero or positive as a sorts before, equal to, or after b ignoring case.
int compare(std::u16string_view a, std::u16string_view b);

// Every unit below 0x80: stored one byte per character with the "compressed name" flag.
bool isAscii(std::u16string_view name);

// The hash of "lh" subkey lists: h = h * 37 + upcase(unit), over all units.
uint32_t lhHash(std::u16string_view name);
// The hint of "lf" subkey lists: the first four units as bytes, zero padded; 0 when one of
// them is above 0xFF.
uint32_t lfHint(std::u16string_view name);

} // namespace hivename
} // namespace quendle
