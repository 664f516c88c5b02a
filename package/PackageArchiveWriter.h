#pragma once
#include "archive/ZipRecords.h"
#include "package/FileTable.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace quendle {

class ZipReader;

// Packs a package's parts into a new archive in the fixed entry order: "Registry.dat", the files
// of the table in table order, "FilesystemMetadata.xml", "StreamMap.xml", "PackageHistory.xml",
// "AppxManifest.xml", a freshly built "AppxBlockMap.xml" describing the entries before it, and
// "[Content_Types].xml" last. Known parts come from `partsFolder`; one that is absent there is
// left out without a message. Files that no edit touched come from the original archive.
class PackageArchiveWriter {
  public:
    // Called after every entry with its size (the progress line counts both).
    using StepCallback = std::function<void(uint64_t bytes)>;

    struct Options {
        // The archive that table entries without a host file come from.
        ZipReader* original = nullptr;
        // Known parts that no edit touched, with their time in the original archive.
        std::map<std::string, DosDateTime, std::less<>> untouchedParts;
        // The time of every changed entry; none takes each source file's own time.
        std::optional<DosDateTime> changedTime;
        // Where the new block map is written before it is packed; empty: beside the archive.
        std::string blockMapPath;
    };

    // Raises 185 naming the source of a table file that cannot be added, 420 naming an
    // original entry whose data contradict the directory, 186 when the archive cannot be
    // completed. The block-map file is written beside the archive.
    static void write(const std::string& archivePath, const std::string& partsFolder, const FileTable& files,
                      const StepCallback& onStep, const Options& options);
    static void write(const std::string& archivePath, const std::string& partsFolder, const FileTable& files,
                      const StepCallback& onStep = {});

    // Entries written per package: one per table file plus the seven root parts.
    static int64_t stepCount(const FileTable& files) { return static_cast<int64_t>(files.size()) + 7; }
    // The bytes those entries hold, as far as they are known before the block map is built.
    static uint64_t plannedBytes(const std::string& partsFolder, const FileTable& files);
};

} // namespace quendle
