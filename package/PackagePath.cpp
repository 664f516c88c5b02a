#include "package/PackagePath.h"

#include "archive/PercentEncoding.h"
#include "core/Exception.h"
#include "util/strings/StringSystem.h"

#include <algorithm>

namespace quendle {
namespace {

constexpr std::string_view ApplicationRoot = "Root";
constexpr std::string_view ScriptsFolder = "Scripts";

// Drops a leading "\\?\", all trailing backslashes, and leading backslashes except that a path
// beginning with two keeps exactly two.
std::string normalized(std::string_view path) {
    if (path.substr(0, 4) == "\\\\?\\")
        path.remove_prefix(4);
    while (!path.empty() && path.back() == PackagePath::Separator)
        path.remove_suffix(1);
    size_t leading = 0;
    while (leading < path.size() && path[leading] == PackagePath::Separator)
        ++leading;
    if (leading >= 2)
        return "\\\\" + std::string(path.substr(leading));
    return std::string(path.substr(leading));
}

// A remainder that is taken whole: no backslash at all, or backslashes only as the one or two
// leading characters of a server-style path.
bool isLastComponent(std::string_view rest, size_t lastBackslash) {
    return lastBackslash == std::string_view::npos || lastBackslash == 0 ||
           (lastBackslash == 1 && rest[0] == '\\');
}

} // namespace

std::vector<std::string> splitPackagePath(std::string_view path) {
    std::vector<std::string> components;
    std::string_view rest = path;
    for (;;) {
        const size_t lastBackslash = rest.rfind('\\');
        const std::string_view component =
            isLastComponent(rest, lastBackslash) ? rest : rest.substr(lastBackslash + 1);
        if (component.empty())
            break;
        components.emplace_back(component);
        if (component.size() == rest.size())
            break;
        rest = rest.substr(0, lastBackslash);
    }
    std::reverse(components.begin(), components.end());
    return components;
}

void validatePackagePath(std::string_view path) {
    if (path.find('/') != std::string_view::npos)
        throw Exception(Msg::PackagePathNotBackslash, path);
    const auto components = splitPackagePath(normalized(path));
    if (components.empty() || components.front() != ApplicationRoot)
        throw Exception(Msg::PackagePathNotUnderRoot, path);
    if (!path.empty() && path.back() == '\\')
        throw Exception(Msg::FilePathInvalid, path);
}

PackagePath PackagePath::ofFile(std::string_view typed) {
    validatePackagePath(typed);
    return PackagePath(normalized(typed));
}

PackagePath PackagePath::ofFolder(std::string_view typed) {
    std::string_view path = typed;
    while (path.size() > 1 && path.back() == Separator)
        path.remove_suffix(1);
    return ofFile(path);
}

PackagePath PackagePath::ofScript(std::string_view name) {
    return PackagePath(std::string(ScriptsFolder)).join(name);
}

PackagePath PackagePath::ofComponents(const std::vector<std::string>& components) {
    std::string text;
    for (const std::string& component : components) {
        if (!text.empty())
            text += Separator;
        text += component;
    }
    return PackagePath(std::move(text));
}

PackagePath PackagePath::asWritten(std::string text) {
    return PackagePath(std::move(text));
}

std::vector<std::string> PackagePath::components() const {
    return splitPackagePath(text_);
}

PackagePath PackagePath::parent() const {
    const size_t last = text_.rfind(Separator);
    return PackagePath(last == std::string::npos ? std::string() : text_.substr(0, last));
}

PackagePath PackagePath::join(std::string_view component) const {
    const std::string c = normalized(component);
    std::string out = text_;
    if (c.empty())
        return PackagePath(std::move(out));
    if (!out.empty())
        out += Separator;
    out += c;
    return PackagePath(std::move(out));
}

std::string PackagePath::key() const {
    return foldCase(text_);
}

std::string PackagePath::entryName() const {
    return percentEncodePackagePath(text_);
}

} // namespace quendle
