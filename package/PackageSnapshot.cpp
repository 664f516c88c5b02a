#include "package/PackageSnapshot.h"
#include "package/ArchivedParts.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/Exception.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/BlockMapReader.h"
#include "xml/MsXmlDomDocument.h"

namespace quendle {

namespace {

// The hashes of the block map join the files they describe. A map that cannot be read leaves
// the files unmapped: they are then compared by size and CRC alone.
void readBlockHashes(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                     std::map<std::string, PackageSnapshot::File>& files) {
    if (entry.stored.size > ArchivedParts::MaxXmlPartBytes)
        return;
    BlockMapStream stream([&](BlockMapFile&& mapped) {
        auto found = files.find(foldCase(mapped.name));
        // More blocks than the size needs would be a damaged map, not a description of the file.
        if (found != files.end() && mapped.size == found->second.size &&
            mapped.blockHashes.size() == (mapped.size + 65535) / 65536) {
            found->second.blocks = std::move(mapped.blockHashes);
            found->second.mapped = true;
        }
    });
    Failure why;
    bool ok = ZipEntryReader::read(
        archive, entry, {},
        [&](const uint8_t* data, size_t length) {
            return stream.feed(reinterpret_cast<const char*>(data), length);
        },
        why);
    if (!stream.finish() || !ok)
        for (auto& [key, file] : files)
            file.mapped = false, file.blocks.clear();
}

} // namespace

PackageSnapshot PackageSnapshot::read(const std::string& packagePath) {
    ZipCentralDirectory archive;
    ArchivedParts::open(archive, packagePath);
    PackageSnapshot snapshot;
    snapshot.packagePath = packagePath;
    const ZipDirectoryEntry* blockMap = nullptr;
    for (const ZipDirectoryEntry& e : archive.entries()) {
        std::string_view part = canonicalKnownPart(e.name);
        if (part == BlockMapPart) {
            blockMap = &e;
        } else if (part == RegistryPart) {
            snapshot.registry = ArchivedParts::hive(archive, e);
        } else if (!part.empty()) {
            auto document = std::make_unique<MsXmlDomDocument>(std::string(part));
            document->LoadXml(ArchivedParts::bytes(archive, e));
            snapshot.parts[std::string(part)] = std::move(document);
        } else {
            snapshot.files[foldCase(e.name)] = File{e.name, e.stored.size, e.stored.crc, {}, false};
        }
    }
    if (blockMap)
        readBlockHashes(archive, *blockMap, snapshot.files);
    return snapshot;
}

const MsXmlDomDocument* PackageSnapshot::part(std::string_view name) const {
    auto found = parts.find(name);
    return found == parts.end() ? nullptr : found->second.get();
}

} // namespace quendle
