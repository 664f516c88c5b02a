#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quendle {

// Conversions between the program's UTF-8 text and the encodings found at its edges, and the
// comparisons that the command line and the package model rely on.

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; invalid sequences are decoded as Windows-1252 bytes (see utf8OrWindows1252).
std::u16string utf8ToUtf16(std::string_view text);
// UTF-8 to UTF-16, every byte that is not part of a valid sequence becoming U+FFFD.
std::u16string utf8ToUtf16Replacing(std::string_view text);
// Windows-1252 bytes to UTF-8 (the five unassigned bytes map to the C1 controls of the same value).
std::string windows1252ToUtf8(std::string_view bytes);
// The code point of one Windows-1252 byte, by the same rule.
char32_t windows1252CodePoint(unsigned char byte);
// The Windows-1252 byte of a code point, or -1 when the code page has none.
int windows1252Byte(char32_t codePoint);
// Valid UTF-8 sequences are kept; every byte that is not part of one is read as Windows-1252.
// This is how "ANSI" text (command files, console arguments) is taken in on Linux.
std::string utf8OrWindows1252(std::string_view bytes);
// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Decodes the code point at text[pos] and advances pos; a byte that does not start a valid
// sequence counts as one code point of its own value (U+0080..U+00FF).
char32_t nextCodePoint(std::string_view text, size_t& pos);
// The same, but such a byte gives `replacement` (U+FFFD, say).
char32_t nextCodePoint(std::string_view text, size_t& pos, char32_t replacement);
void appendUtf8(std::string& out, char32_t codePoint);
// Number of characters (code points), not bytes.
size_t codePointCount(std::string_view text);

// 'A'-'Z' fold to 'a'-'z'; every other byte compares exactly.
char toLowerAscii(char c);
std::string toLowerAscii(std::string_view text);
bool equalsIgnoreCaseAscii(std::string_view a, std::string_view b);
bool startsWithIgnoreCaseAscii(std::string_view text, std::string_view prefix);

// The system's case mapping: every code point folded to lower case (Unicode simple mapping).
std::string foldCase(std::string_view text);
std::string toUpperCase(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// One code point upper-cased by that mapping; unchanged when it has no upper case.
char32_t simpleUpperCase(char32_t codePoint);

// The value of a hexadecimal digit (either case), -1 for any other character.
int hexDigitValue(char c);

// Levenshtein distance over code points, case-sensitive, unit costs.
size_t editDistance(std::string_view a, std::string_view b);
// False when the distance between a word of typedLength code points and candidate cannot be
// below limit (the distance is at least the difference in length). Lets a suggestion search
// skip a huge typed word without building its table.
bool withinSuggestionRange(size_t typedLength, std::string_view candidate, size_t limit);

// White space as the C library classifies it (blank, tab, CR, LF, VT, FF), trimmed at both ends.
std::string_view trimWhiteSpace(std::string_view text);

} // namespace quendle
