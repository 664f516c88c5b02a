#pragma once
#include "hive/HiveTree.h"

#include <functional>
#include <string>
#include <string_view>

namespace quendle {

// Writes a hive as a Windows registry file ("Windows Registry Editor Version 5.00") with every
// value the way regedit exports it, and the App-V virtualization markers as comments. The
// package's REGISTRY\MACHINE and REGISTRY\USER become the HKEY_ roots a person imports into.
class RegFileWriter {
  public:
    using Sink = std::function<void(std::string_view utf8)>;

    // The text in UTF-8 in pieces, each line ended by `lineEnd`.
    static void write(const HiveTree& tree, const Sink& sink, std::string_view lineEnd);
    // UTF-16LE with a byte-order mark and CR LF line ends, as regedit writes its files. A
    // failure raises WindowsException and leaves no partial file.
    static void writeFile(const HiveTree& tree, const std::string& path);

    // The .reg name of a key below the hive root ("REGISTRY\MACHINE\Software" gives
    // "HKEY_LOCAL_MACHINE\Software"); keys outside REGISTRY\MACHINE and REGISTRY\USER keep
    // their path.
    static std::string keyName(std::string_view hivePath);
    // One value line (without its line end), continuation lines joined by `lineEnd`; the value is
    // written as its base type (the App-V flags above the low word are the comments' business).
    static std::string valueLine(const HiveValue& value, std::string_view lineEnd);
};

} // namespace quendle
