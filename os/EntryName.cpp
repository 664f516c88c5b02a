#include "os/ExtractDestination.h"

namespace quendle {

// The same on every platform: what a hostile name may not do is decided before any system sees it.
bool splitEntryName(const std::string& name, std::vector<std::string>& components, bool& isFolder) {
    components.clear();
    isFolder = false;
    if (name.empty())
        return false;
    auto separator = [](char c) { return c == '/' || c == '\\'; };
    if (separator(name[0]))
        return false;
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return false;
    isFolder = separator(name.back());
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !separator(name[end]))
            ++end;
        std::string part = name.substr(start, end - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            components.push_back(std::move(part));
        start = end + 1;
    }
    return true;
}

} // namespace quendle
