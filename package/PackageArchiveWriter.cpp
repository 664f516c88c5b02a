#include "package/PackageArchiveWriter.h"

#include "archive/BlockMapBuilder.h"
#include "archive/PercentEncoding.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/KnownParts.h"
#include "util/strings/StringTable.h"

namespace quendle {

void PackageArchiveWriter::write(const std::string& archivePath, const std::string& partsFolder,
                                 const FileTable& files, const StepCallback& onStep) {
    auto step = [&] {
        if (onStep)
            onStep();
    };
    BlockMapBuilder builder;
    // A failed create leaves the writer closed: every add and the close then fail, and the
    // close reports it as 186 below.
    (void)builder.open(hostpath::toLongPath(archivePath));
    ZipWriter& writer = builder.writer();

    // A missing known part is simply not in the package; checking first keeps the archive
    // free of the header a failed add would leave behind.
    auto addKnownPart = [&](std::string_view part, ZipCompression compression) {
        std::string source = hostpath::joinPath(partsFolder, part);
        if (hostpath::fileExists(source))
            (void)writer.addEntry(hostpath::toLongPath(source), std::string(part), compression);
        step();
    };

    addKnownPart(RegistryPart, ZipCompression::SuperFast);
    for (const auto& entry : files) {
        if (!writer.addEntry(hostpath::toLongPath(entry.sourcePath),
                             percentEncodePackagePath(entry.packagePath), ZipCompression::SuperFast))
            throw Exception(
                withCause(formatMessageId(Msg::FileAddFailed, {entry.sourcePath}), writer.errorText()));
        step();
    }
    addKnownPart(FilesystemMetadataPart, ZipCompression::SuperFast);
    addKnownPart(StreamMapPart, ZipCompression::SuperFast);
    addKnownPart(PackageHistoryPart, ZipCompression::SuperFast);
    addKnownPart(ManifestPart, ZipCompression::SuperFast);
    (void)builder.finish();
    step();
    addKnownPart(ContentTypesPart, ZipCompression::SuperFast);
    if (!writer.close())
        throw Exception(withCause(loadString(Msg::PackageSaveFailed), writer.errorText()));
}

} // namespace quendle
