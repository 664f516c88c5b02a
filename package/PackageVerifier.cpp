#include "package/PackageVerifier.h"

#include "archive/ZipCentralDirectory.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "core/ProgressLine.h"
#include "os/FileSystem.h"
#include "package/BlockMapCheck.h"
#include "package/KnownParts.h"
#include "package/PackagePartsCheck.h"
#include "util/strings/JsonText.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringTable.h"

#include <map>

namespace quendle {

namespace {

void writeLine(const std::string& line, uint16_t colour) {
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        ConsoleColorScope scope(colour);
        console->writeLine(line);
    }
}

// What a program reading /Verify -json is told of each text: its kind, and which inserts name
// the entry and the block (-1: none). The kinds are documented in docs/inspect.md.
struct ProblemKind {
    const char* kind;
    int entry = -1;
    int block = -1;
};

const std::map<uint32_t, ProblemKind>& problemKinds() {
    static const std::map<uint32_t, ProblemKind> kinds = {
        {Msg::VerifyCannotOpen, {"unreadable"}},
        {Msg::ArchiveNoEndRecord, {"end-records"}},
        {Msg::ArchiveZip64EndDamaged, {"end-records"}},
        {Msg::ArchiveZip64LocatorDamaged, {"end-records"}},
        {Msg::ArchiveDirectoryOutside, {"directory"}},
        {Msg::ArchiveDirectoryDamaged, {"directory"}},
        {Msg::ArchiveEntryCountWrong, {"directory"}},
        {Msg::ArchiveZip64FieldMissing, {"zip64-field", 0}},
        {Msg::ArchiveHostileName, {"hostile-name", 0}},
        {Msg::ArchiveDuplicateName, {"duplicate-name", 1}},
        {Msg::ArchiveLocalHeaderDamaged, {"local-header", 0}},
        {Msg::ArchiveLocalHeaderDiffers, {"local-header", 0}},
        {Msg::ArchiveDescriptorDiffers, {"data-descriptor", 0}},
        {Msg::ArchiveEntryGap, {"layout", 0}},
        {Msg::ArchiveEntryOverlap, {"layout", 0}},
        {Msg::ArchiveLastEntryGap, {"layout"}},
        {Msg::EntryUnreadable, {"entry-data", 0}},
        {Msg::EntryCrcWrong, {"crc", 0}},
        {Msg::BlockMapMissing, {"block-map"}},
        {Msg::BlockMapUnreadable, {"block-map"}},
        {Msg::BlockMapNamespaceWrong, {"block-map"}},
        {Msg::BlockMapOrderWrong, {"block-map-order", 2}},
        {Msg::BlockMapNameCase, {"block-map-name-case", 2}},
        {Msg::BlockMapFileSizeWrong, {"file-size", 0}},
        {Msg::BlockMapHeaderSizeWrong, {"local-header-size", 0}},
        {Msg::BlockMapBlockCountWrong, {"block-count", 0}},
        {Msg::BlockHashWrong, {"block-hash", 0, 1}},
        {Msg::BlockSizeWrong, {"block-size", 0, 1}},
        {Msg::BlockSizeMissing, {"block-size-missing", 0, 1}},
        {Msg::BlockReachesBack, {"block-reaches-back", 0, 1}},
        {Msg::StoredBlockSized, {"stored-block-size", 0, 1}},
        {Msg::PartMissing, {"part-missing", 0}},
        {Msg::PartUnreadable, {"part", 0}},
        {Msg::SchemaErrorAtLine, {"schema", 0}},
        {Msg::ContentTypeMissing, {"content-type", 0}},
        {Msg::MetadataEntryMissing, {"filesystem-metadata", 0}},
        {Msg::ShortNameInvalid, {"short-name", 0}},
        {Msg::ShortNameTaken, {"short-name", 2}},
        {Msg::IdentityMissing, {"identity"}},
        {Msg::IdentityValueInvalid, {"identity"}},
        {Msg::HiveDamaged, {"hive"}},
    };
    return kinds;
}

std::string problemJson(const VerifyProblem& p) {
    auto found = problemKinds().find(p.id);
    ProblemKind kind = found == problemKinds().end() ? ProblemKind{"other"} : found->second;
    auto insert = [&](int at) {
        return at >= 0 && at < static_cast<int>(p.args.size()) ? p.args[at].text() : "";
    };
    std::string entry = insert(kind.entry), block = insert(kind.block);
    // The package's own parts are entries too.
    if (p.id == Msg::HiveDamaged)
        entry = RegistryPart;
    return jsonObject({{"kind", jsonString(kind.kind)},
                       {"entry", entry.empty() ? "null" : jsonString(entry)},
                       {"block", block.empty() ? "null" : block},
                       {"message", jsonString(p.text())}});
}

std::string reportJson(const std::string& packagePath, const std::vector<VerifyProblem>& problems) {
    std::string list;
    std::map<std::string, size_t> byKind;
    for (size_t i = 0; i < problems.size(); ++i) {
        list += std::string(i ? "," : "") + "\n    " + problemJson(problems[i]);
        auto found = problemKinds().find(problems[i].id);
        ++byKind[found == problemKinds().end() ? "other" : found->second.kind];
    }
    std::string kinds;
    for (const auto& [kind, count] : byKind)
        kinds += (kinds.empty() ? "" : ", ") + jsonString(kind) + ": " + std::to_string(count);
    return "{\n  \"formatVersion\": 1,\n  \"package\": " + jsonString(packagePath) +
           ",\n  \"sound\": " + (problems.empty() ? "true" : "false") + ",\n  \"problems\": [" + list +
           (problems.empty() ? "]" : "\n  ]") +
           ",\n  \"summary\": {\"problems\": " + std::to_string(problems.size()) + ", \"byKind\": {" + kinds +
           "}}\n}";
}

} // namespace

std::vector<VerifyProblem> PackageVerifier::check(const std::string& packagePath, ProgressLine* progress) {
    std::vector<VerifyProblem> problems;
    auto problem = [&](const VerifyProblem& p) { problems.push_back(p); };
    ZipCentralDirectory archive;
    if (!archive.read(packagePath, problem)) {
        if (problems.empty())
            problems.push_back({Msg::VerifyCannotOpen, {packagePath}});
        return problems;
    }
    if (progress) {
        uint64_t bytes = 0;
        for (const ZipDirectoryEntry& e : archive.entries())
            bytes += e.stored.size;
        progress->begin(loadString(Msg::Verifying), archive.entries().size(), bytes);
    }
    BlockMapCheck::run(archive, problem, progress);
    if (progress)
        progress->end();
    PackagePartsCheck::run(archive, problem);
    return problems;
}

void PackageVerifier::verifyCommand(const std::string& packagePath, bool json) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    ProgressLine progress;
    std::vector<VerifyProblem> problems = check(packagePath, &progress);
    if (json) {
        if (ConsoleWriter* console = ConsoleWriter::installed())
            console->writeLine(reportJson(packagePath, problems));
    } else {
        for (const VerifyProblem& p : problems)
            writeLine(p.text(), AttributeBrightRed);
    }
    if (!problems.empty())
        throw Exception(
            formatStringId(Msg::ProblemsFound, {packagePath, static_cast<long long>(problems.size())}));
    if (!json)
        writeLine(formatStringId(Msg::PackageSound, {packagePath}), AttributeGreen);
}

} // namespace quendle
