#pragma once
#include "package/ManifestSummary.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

// What a package holds, read from its central directory, manifest, history and hive without
// extracting it.
struct PackageInfo {
    // Version of the -json document; it grows when a key changes meaning or goes away.
    static constexpr int FormatVersion = 2;

    enum class Kind { Part, File, Script, Folder };
    struct Entry {
        std::string path;      // the package path, decoded
        std::string entryName; // as stored in the archive
        uint64_t size = 0;
        uint64_t compressedSize = 0;
        Kind kind = Kind::Part;
    };
    struct HistoryItem {
        std::string time, packageVersion, sequencerVersion, packagingEngine, user, station;
    };
    // One key below the hive's REGISTRY key (or beside it): keys below it and values in it.
    struct RegistryRoot {
        std::string path;
        uint64_t keys = 0, values = 0;
    };

    std::string packagePath;
    uint64_t packageSize = 0;
    ManifestSummary manifest;
    uint64_t size = 0; // every entry, uncompressed
    uint64_t compressedSize = 0;
    uint64_t fileCount = 0; // files below Root
    std::vector<std::string> scripts;
    std::vector<HistoryItem> history;
    std::vector<RegistryRoot> registry;
    std::vector<Entry> entries; // in archive order

    // Raises 136 when the file is no readable archive; a damaged part raises its error.
    static PackageInfo read(const std::string& packagePath, bool withRegistry = true);

    std::string text(bool withFiles) const;
    std::string json(bool withFiles) const;

    // /Info: prints the text or, with `json`, one JSON document and nothing else.
    static void infoCommand(const std::string& packagePath, bool json, bool withFiles);
};

} // namespace quendle
