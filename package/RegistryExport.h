#pragma once
#include <string>

namespace quendle {

// /Export-Registry: the package's "Registry.dat", read straight from the archive, as a .reg
// file (UTF-16LE with BOM, as regedit writes it) or, without a file name, as UTF-8 text on
// standard output and nothing else.
void exportRegistryCommand(const std::string& packagePath, const std::string& regFile);

} // namespace quendle
