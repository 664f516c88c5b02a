#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

// What a package holds, read from its central directory, manifest and history without
// extracting it.
struct PackageInfo {
    struct Entry {
        std::string path;      // the package path, decoded
        std::string entryName; // as stored in the archive
        uint64_t size = 0;
        uint64_t compressedSize = 0;
    };
    struct HistoryItem {
        std::string time, packageVersion, sequencerVersion, packagingEngine, user, station;
    };

    std::string packagePath;
    uint64_t packageSize = 0;
    std::string name, displayName, publisher, packageId, versionId, version;
    std::string manifestSchemaVersion; // the year of the newest App-V manifest namespace used
    uint64_t size = 0;                 // every entry, uncompressed
    uint64_t compressedSize = 0;
    uint64_t fileCount = 0; // files below Root
    std::vector<std::string> scripts;
    std::vector<HistoryItem> history;
    std::vector<Entry> entries; // in archive order

    // Raises 136 when the file is no readable archive.
    static PackageInfo read(const std::string& packagePath);

    std::string text(bool withFiles) const;
    std::string json(bool withFiles) const;

    // /Info: prints the text or, with `json`, one JSON document and nothing else.
    static void infoCommand(const std::string& packagePath, bool json, bool withFiles);
};

} // namespace quendle
