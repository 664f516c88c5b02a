#pragma once
#include "package/FileTable.h"

#include <functional>
#include <string>

namespace quendle {

// Packs a package's parts into a new archive in the fixed entry order: "Registry.dat", the files
// of the table in table order, "FilesystemMetadata.xml", "StreamMap.xml", "PackageHistory.xml",
// "AppxManifest.xml", a freshly built "AppxBlockMap.xml" describing the entries before it, and
// "[Content_Types].xml" last. Known parts come from `partsFolder`; one that is absent there is
// left out without a message.
class PackageArchiveWriter {
  public:
    // Called after every entry (the progress display counts them).
    using StepCallback = std::function<void()>;

    // Raises 185 naming the source of a table file that cannot be added, 186 when the archive
    // cannot be completed. The block-map file is written beside the archive.
    static void write(const std::string& archivePath, const std::string& partsFolder, const FileTable& files,
                      const StepCallback& onStep = {});

    // Entries written per package: one per table file plus the seven root parts.
    static int64_t stepCount(const FileTable& files) { return static_cast<int64_t>(files.size()) + 7; }
};

} // namespace quendle
