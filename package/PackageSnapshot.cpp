#include "package/PackageSnapshot.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "os/FileSystem.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/BlockMapReader.h"
#include "xml/MsXmlDomDocument.h"

namespace quendle {

namespace {

constexpr uint64_t MaxPartBytes = 512ull << 20;
constexpr uint64_t MaxHiveBytes = 2ull << 30;

std::string partBytes(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                      std::string_view part, uint64_t limit) {
    std::string bytes, why;
    if (!ZipEntryReader::readAll(archive, entry, limit, bytes, why))
        throw Exception(formatStringId(Msg::PartUnreadable, {part, why}));
    return bytes;
}

// The hashes of the block map join the files they describe. A map that cannot be read leaves
// the files unmapped: they are then compared by size and CRC alone.
void readBlockHashes(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                     std::map<std::string, PackageSnapshot::File>& files) {
    if (entry.stored.size > MaxPartBytes)
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
    std::string why;
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
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    ZipCentralDirectory archive;
    if (!archive.read(packagePath, [](const VerifyProblem&) {}) || archive.entries().empty())
        throw Exception(Msg::PackageOpenFailed, packagePath);
    PackageSnapshot snapshot;
    snapshot.packagePath = packagePath;
    const ZipDirectoryEntry* blockMap = nullptr;
    for (const ZipDirectoryEntry& e : archive.entries()) {
        std::string_view part = canonicalKnownPart(e.name);
        if (part == BlockMapPart) {
            blockMap = &e;
        } else if (part == RegistryPart) {
            std::string bytes = partBytes(archive, e, part, MaxHiveBytes);
            snapshot.registry = OfflineRegHive::ReadImage(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        } else if (!part.empty()) {
            auto document = std::make_unique<MsXmlDomDocument>(std::string(part));
            document->LoadXml(partBytes(archive, e, part, MaxPartBytes));
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
