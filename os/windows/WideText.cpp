#include "os/windows/WideText.h"

#include "os/FileSystem.h"
#include "util/strings/StringSystem.h"

namespace quendle::wide {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");

std::wstring fromUtf8(std::string_view text) {
    std::u16string units = utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::string toUtf8(std::wstring_view text) {
    return utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::wstring hostPath(std::string_view path) {
    return fromUtf8(hostpath::toLongPath(path));
}

} // namespace quendle::wide
