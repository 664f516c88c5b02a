#pragma once
#include <string>
#include <string_view>

namespace quendle {

enum class GuidCase { Lower, Upper };

// A fresh random GUID as text, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", with or without braces.
std::string newGuidString(GuidCase letterCase = GuidCase::Upper, bool braces = false);

// True for the text of a GUID in braces, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", hexadecimal
// digits in either case: the form the package identity accepts.
bool isBracedGuidText(std::string_view text);

} // namespace quendle
