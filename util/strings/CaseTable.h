#pragma once

namespace quendle {

// Unicode simple case mappings from a table of our own (scripts/make-case-table.py), the same on
// every platform; a code point without a mapping comes back unchanged.
char32_t tableLowerCase(char32_t codePoint);
char32_t tableUpperCase(char32_t codePoint);

} // namespace quendle
