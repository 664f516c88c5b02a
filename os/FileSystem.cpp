// The parts of the file-system interface that are the same on every platform.
#include "os/FileSystem.h"

namespace quendle {
namespace packagepath {

std::string normalizePath(std::string_view path) {
    if (path.substr(0, 4) == "\\\\?\\")
        path.remove_prefix(4);
    while (!path.empty() && path.back() == Separator)
        path.remove_suffix(1);
    size_t leading = 0;
    while (leading < path.size() && path[leading] == Separator)
        ++leading;
    if (leading >= 2)
        return "\\\\" + std::string(path.substr(leading));
    return std::string(path.substr(leading));
}

std::string joinPath(std::string_view folder, std::string_view component) {
    std::string c = normalizePath(component);
    std::string out(folder);
    if (c.empty())
        return out;
    if (!out.empty())
        out += Separator;
    out += c;
    return out;
}

std::string fileNameOf(std::string_view path) {
    size_t slash = path.rfind(Separator);
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace packagepath
} // namespace quendle
