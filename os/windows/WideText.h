#pragma once
#include <string>
#include <string_view>

namespace quendle::wide {

// The program's UTF-8 text as the UTF-16 the Windows API takes, and back.
std::wstring fromUtf8(std::string_view text);
std::string toUtf8(std::wstring_view text);
// A host path as the wide form handed to CreateFileW and its kin (long-path prefix included).
std::wstring hostPath(std::string_view path);

} // namespace quendle::wide
