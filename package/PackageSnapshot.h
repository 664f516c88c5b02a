#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

class HiveTree;
class MsXmlDomDocument;

// What /Diff compares of one package, read straight from the package file without inflating a
// single file of it: the central directory, the block map's sizes and block hashes (streamed
// through the SAX reader), and only the small parts, each read into memory up to a limit.
struct PackageSnapshot {
    struct File {
        std::string path; // the package path, decoded
        uint64_t size = 0;
        uint32_t crc = 0;
        std::vector<std::array<uint8_t, 32>> blocks; // SHA-256 of each 64 KiB, from the block map
        bool mapped = false;                         // the block map lists it
    };

    std::string packagePath;
    std::map<std::string, File> files; // every entry but the known parts, by its path case-folded
    std::map<std::string, std::unique_ptr<MsXmlDomDocument>, std::less<>> parts; // by known part name
    std::shared_ptr<HiveTree> registry;                                          // none: no hive

    // Raises when the file is missing (65012), no readable archive (136) or a part is damaged.
    static PackageSnapshot read(const std::string& packagePath);
    // The XML part of that name, or nullptr when the package has none.
    const MsXmlDomDocument* part(std::string_view name) const;
};

} // namespace quendle
