#pragma once
#include <string>
#include <string_view>

namespace quendle {

// ZIP entry name of a package path: every character of " @$+,/:;=?&%<>{}[]()#^!*'" becomes
// "%" and its uppercase hex code; backslashes and non-ASCII characters are kept.
std::string percentEncodePackagePath(std::string_view packagePath);

// Every "%" followed by two hex digits (either case) becomes the byte of that value.
std::string percentDecode(std::string_view text);

// As percentDecode, but an escape names a character (U+0000 to U+00FF), written as UTF-8.
std::string percentDecodeCharacters(std::string_view text);

// Entry-name bytes as the block map hooks store them: "\" becomes "/", and every byte above
// 127 becomes "%" and two uppercase hex digits.
std::string percentEncodeEntryName(std::string_view name);

} // namespace quendle
