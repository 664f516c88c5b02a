#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

// Registry value types as the low 16 bits of a stored type.
namespace regtype {
constexpr uint32_t None = 0;
constexpr uint32_t String = 1;
constexpr uint32_t ExpandString = 2;
constexpr uint32_t Binary = 3;
constexpr uint32_t Dword = 4;
constexpr uint32_t MultiString = 7;
constexpr uint32_t TypeMask = 0x0000FFFF;
} // namespace regtype

// The message id of a binary value text that is not pairs of hexadecimal digits.
constexpr uint32_t InvalidBinaryValueMessageId = 4800;

// The data a value text stands for, by value type.
namespace regtext {

// UTF-16LE with one terminating NUL.
std::vector<uint8_t> stringData(std::string_view text);
// Signed decimal as the C library reads it (leading blanks, a sign, digits up to the first other
// character), saturating at the 32-bit limits; no digits give 0.
int32_t parseDword(std::string_view text);
std::vector<uint8_t> dwordData(std::string_view text);
// Pairs of characters, each read as a hexadecimal number; nullopt for an odd length or a pair
// that does not begin with a hexadecimal digit.
std::optional<std::vector<uint8_t>> binaryData(std::string_view text);
// Split at every CR LF; each non-empty piece with its NUL, then one more NUL.
std::vector<uint8_t> multiStringData(std::string_view text);

// By value type: 1 and 2 string, 4 and 0 DWORD, 3 binary (raises message 4800 on bad text),
// 7 multi-string; any other type keeps the text as a string.
std::vector<uint8_t> dataFromText(uint32_t valueType, std::string_view text);

} // namespace regtext
} // namespace quendle
