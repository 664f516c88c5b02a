#include "package/ArchivedParts.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "os/FileSystem.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"

#include <span>

namespace quendle {

void ArchivedParts::open(ZipCentralDirectory& archive, const std::string& packagePath) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    // Problems are /Verify's to report; these commands need only a directory they can read.
    if (!archive.read(packagePath, [](const VerifyProblem&) {}) || archive.entries().empty())
        throw Exception(Msg::PackageOpenFailed, packagePath);
}

const ZipDirectoryEntry* ArchivedParts::find(const ZipCentralDirectory& archive, std::string_view part) {
    for (const ZipDirectoryEntry& e : archive.entries())
        if (equalsIgnoreCaseAscii(e.name, part))
            return &e;
    return nullptr;
}

std::string ArchivedParts::bytes(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                                 uint64_t limit) {
    std::string bytes;
    Failure why;
    if (!ZipEntryReader::readAll(archive, entry, limit, bytes, why))
        throw Exception(formatStringId(Msg::PartUnreadable, {entry.name, why.text()}));
    return bytes;
}

std::unique_ptr<MsXmlDomDocument> ArchivedParts::document(const ZipCentralDirectory& archive,
                                                          std::string_view part) {
    const ZipDirectoryEntry* entry = find(archive, part);
    if (!entry)
        return nullptr;
    auto document = std::make_unique<MsXmlDomDocument>(std::string(part));
    document->LoadXml(bytes(archive, *entry));
    return document;
}

std::shared_ptr<HiveTree> ArchivedParts::hive(const ZipCentralDirectory& archive,
                                              const ZipDirectoryEntry& entry) {
    std::string image = bytes(archive, entry, MaxHiveBytes);
    return OfflineRegHive::ReadImage(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(image.data()), image.size()));
}

} // namespace quendle
