#pragma once
#include <string>

namespace quendle {

// /Expand: writes every entry of a package under its decoded name into a folder (the Root
// tree, Scripts and the package's own parts beside them), with the reader's checks against
// hostile names. An existing folder that is not empty is refused unless `force`.
class PackageExpander {
  public:
    // The number of files written.
    static size_t expand(const std::string& packagePath, const std::string& folder, bool force);
    static void expandCommand(const std::string& packagePath, const std::string& folder, bool force);
};

} // namespace quendle
