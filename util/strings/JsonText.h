#pragma once
#include <string>
#include <string_view>

namespace quendle {

// A JSON string literal of the text, quotes included. Bytes that are not UTF-8 (entry names of
// older tools are in a legacy code page) are taken as Windows-1252, so the document stays UTF-8.
std::string jsonQuoted(std::string_view text);

} // namespace quendle
