#include "package/PackageArchiveWriter.h"

#include "archive/BlockMapBuilder.h"
#include "archive/PercentEncoding.h"
#include "archive/ZipReader.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/KnownParts.h"
#include "util/strings/StringTable.h"

namespace quendle {
namespace {

// For the progress figures only: a file that cannot be measured counts as empty.
uint64_t sizeOrZero(const std::string& path) {
    try {
        return hostpath::fileSize(hostpath::toLongPath(path));
    } catch (const Exception&) {
        return 0;
    }
}

} // namespace

uint64_t PackageArchiveWriter::plannedBytes(const std::string& partsFolder, const FileTable& files) {
    uint64_t total = 0;
    for (const auto& entry : files)
        total += entry.archived ? entry.archived->size : sizeOrZero(entry.sourcePath);
    for (std::string_view part : {RegistryPart, FilesystemMetadataPart, StreamMapPart, PackageHistoryPart,
                                  ManifestPart, ContentTypesPart})
        total += sizeOrZero(hostpath::joinPath(partsFolder, part));
    return total;
}

void PackageArchiveWriter::write(const std::string& archivePath, const std::string& partsFolder,
                                 const FileTable& files, const StepCallback& onStep, const Options& options) {
    auto step = [&](uint64_t bytes) {
        if (onStep)
            onStep(bytes);
    };
    BlockMapBuilder builder;
    // A failed create leaves the writer closed: every add and the close then fail, and the
    // close reports it as 186 below.
    (void)builder.open(hostpath::toLongPath(archivePath), options.blockMapPath);
    ZipWriter& writer = builder.writer();

    // A missing known part is simply not in the package; checking first keeps the archive
    // free of the header a failed add would leave behind. One that is there but cannot be added
    // (its workspace removed under the run) fails the save.
    auto addKnownPart = [&](std::string_view part, ZipCompression compression) {
        std::string source = hostpath::joinPath(partsFolder, part);
        std::optional<DosDateTime> when = options.changedTime;
        if (auto found = options.untouchedParts.find(part); found != options.untouchedParts.end())
            when = found->second;
        uint64_t bytes = 0;
        if (hostpath::fileExists(source)) {
            if (!writer.addEntry(hostpath::toLongPath(source), std::string(part), compression, when) &&
                writer.isOpen())
                throw Exception(withCause(formatMessageId(Msg::FileAddFailed, {std::string(part)}),
                                          writer.failure().text()));
            bytes = sizeOrZero(source);
        }
        step(bytes);
    };

    size_t wrongHashes = 0;
    std::string firstWrong;
    addKnownPart(RegistryPart, ZipCompression::SuperFast);
    std::vector<const ArchivedEntry*> plan;
    for (const auto& entry : files)
        if (entry.archived)
            plan.push_back(&*entry.archived);
    writer.planArchivedEntries(std::move(plan));
    for (const auto& entry : files) {
        std::string name = entry.packagePath.entryName();
        if (entry.archived) {
            ZipWriter::CopyOutcome outcome;
            if (!options.original || !writer.addArchivedEntry(*options.original, *entry.archived, name,
                                                              entry.archived->when, outcome)) {
                if (outcome.damaged)
                    throw Exception(withCause(formatMessageId(Msg::EntryDataDamaged, {entry.packagePath.text()}),
                                              writer.failure().text()));
                throw Exception(
                    withCause(formatMessageId(Msg::FileAddFailed, {entry.packagePath.text()}), writer.failure().text()));
            }
            if (outcome.wrongOldHashes && wrongHashes == 0)
                firstWrong = entry.packagePath.text();
            wrongHashes += outcome.wrongOldHashes;
            step(entry.archived->size);
            continue;
        }
        if (!writer.addEntry(hostpath::toLongPath(entry.sourcePath), name, ZipCompression::SuperFast,
                             options.changedTime))
            throw Exception(
                withCause(formatMessageId(Msg::FileAddFailed, {entry.sourcePath}), writer.failure().text()));
        step(sizeOrZero(entry.sourcePath));
    }
    addKnownPart(FilesystemMetadataPart, ZipCompression::SuperFast);
    addKnownPart(StreamMapPart, ZipCompression::SuperFast);
    addKnownPart(PackageHistoryPart, ZipCompression::SuperFast);
    addKnownPart(ManifestPart, ZipCompression::SuperFast);
    // Without its block map the package is no package: not installed in place of the old one.
    if (!builder.finish(options.changedTime) && writer.isOpen())
        throw Exception(withCause(loadString(Msg::PackageSaveFailed), writer.failure().text()));
    step(0); // built here, so not among the planned bytes
    addKnownPart(ContentTypesPart, ZipCompression::SuperFast);
    if (!writer.close())
        throw Exception(withCause(loadString(Msg::PackageSaveFailed), writer.failure().text()));
    if (wrongHashes > 0)
        writeWarningLine(
            formatStringId(Msg::WrongOldBlockHashes, {static_cast<int>(wrongHashes), firstWrong}));
}

void PackageArchiveWriter::write(const std::string& archivePath, const std::string& partsFolder,
                                 const FileTable& files, const StepCallback& onStep) {
    write(archivePath, partsFolder, files, onStep, Options());
}

} // namespace quendle
