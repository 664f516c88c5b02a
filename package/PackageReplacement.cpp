#include "package/PackageReplacement.h"

#include "util/strings/StringTable.h"

namespace quendle {

PackageReplacement::PackageReplacement(std::string packagePath)
    : replacement_(std::move(packagePath), loadString(Msg::PackageSaveFailed)) {}

} // namespace quendle
