#include "package/AppV5Package.h"
#include "os/SourceDateEpoch.h"

#include "archive/ZipReader.h"
#include "core/ConsoleWriter.h"
#include "core/ExceptionPresenter.h"
#include "os/BackgroundRelease.h"
#include "os/ExceptionHandling.h"
#include "os/FileSystem.h"
#include "package/ContentTypes.h"
#include "package/KnownParts.h"
#include "package/ManifestValidator.h"
#include "package/PackageArchiveWriter.h"
#include "package/PackageFiles.h"
#include "package/PackageRegistry.h"
#include "package/PackageReplacement.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"
#include "xml/BlockMapReader.h"
#include "xml/MsXmlDomDocument.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace quendle {

namespace {

// How long a run waits for another run on the same package: QUENDLE_LOCK_WAIT seconds, else
// five minutes, enough for a large package's save.
int lockWaitSeconds() {
    const char* text = std::getenv("QUENDLE_LOCK_WAIT");
    if (text && *text) {
        char* end = nullptr;
        long seconds = std::strtol(text, &end, 10);
        if (*end == '\0' && seconds >= 0 && seconds <= 86400)
            return static_cast<int>(seconds);
    }
    return 300;
}

// The time of every changed entry when SOURCE_DATE_EPOCH asks for reproducible output.
std::optional<DosDateTime> sourceDateEpochTime() {
    std::optional<int64_t> seconds = sourceDateEpoch();
    if (!seconds)
        return std::nullopt;
    return dosDateTimeOf(static_cast<std::time_t>(*seconds));
}

} // namespace

AppV5Package::AppV5Package() = default;

AppV5Package::~AppV5Package() {
    // The hive and the documents may hold files of the workspace: release them first.
    registry_.reset();
    documents_.clear();
    workspace_.remove();
    // After a save the old package has no name left, and the lock's handle is its last one.
    original_.reset();
    releaseInBackground(packageLock_.unlockAndTake());
}

void AppV5Package::setPackagePath(const std::string& path) {
    if (!hostpath::pathExists(hostpath::toLongPath(path)))
        throw Exception(Msg::FileNotFound, hostpath::toLongPath(path));
    packagePath_ = path;
}

std::string AppV5Package::knownPartPath(std::string_view partName) const {
    std::string_view canonical = canonicalKnownPart(partName);
    return hostpath::joinPath(contentFolder(), canonical.empty() ? partName : canonical);
}

PackagePath AppV5Package::packagePathOf(const std::string& base, const std::string& file) {
    if (!base.empty() && base.size() < file.size() &&
        equalsIgnoreCaseAscii(file.substr(0, base.size()), base) &&
        file[base.size()] == hostpath::Separator) {
        std::vector<std::string> components;
        for (size_t start = base.size() + 1;;) {
            const size_t end = file.find(hostpath::Separator, start);
            components.push_back(
                file.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos)
                return PackagePath::ofComponents(components);
            start = end + 1;
        }
    }
    throw Exception(Msg::PackagePathUncomputable, file);
}

void AppV5Package::open() {
    // Once per run, even for a package of nothing but root parts (whose file table stays empty).
    if (opened_)
        return;
    lockPackage();
    workspace_.create();
    const std::string& content = workspace_.contentFolder();

    // Only the known parts are extracted; every other file stays in the package until the
    // save copies it.
    original_ = std::make_unique<ZipReader>(this);
    std::vector<ZipReader::Entry> knownParts;
    std::vector<std::string> extracted;
    bool ok = original_->open(hostpath::toLongPath(packagePath_)) &&
              original_->readDirectory([this, &knownParts](ZipReader::Entry&& entry) {
                  if (entry.isFolder)
                      return;
                  const PackagePath packagePath = PackagePath::ofComponents(entry.components);
                  std::string_view known = canonicalKnownPart(packagePath.text());
                  if (!known.empty()) {
                      knownPartTimes_[std::string(known)] = entry.archived.when;
                      knownParts.push_back(std::move(entry));
                  } else {
                      // The reader refuses entries naming one file twice.
                      (void)fileTable_.insertArchived(packagePath, std::move(entry.archived));
                  }
              });
    std::vector<const ZipReader::Entry*> parts;
    std::vector<uint64_t> sizes;
    for (const ZipReader::Entry& entry : knownParts) {
        parts.push_back(&entry);
        sizes.push_back(entry.archived.size);
    }
    if (!ok)
        fileTable_.clear();
    opening_.expect(std::move(sizes));
    ok = ok && original_->extractEntries(content, parts, extracted, &workspace_.contentHandle());
    opening_.end();
    if (!ok)
        throw Exception(
            withCause(formatStringId(Msg::PackageOpenFailed, {hostpath::toLongPath(packagePath_)}),
                      original_->failure().text()));

    for (const std::string& file : extracted) {
        std::string path = hostpath::normalizePath(file);
        const PackagePath packagePath = packagePathOf(content, path);
        std::string_view known = canonicalKnownPart(packagePath.text());
        // Known parts are found later by their own spelling.
        if (!known.empty() && packagePath.text() != known) {
            std::string canonicalPath = hostpath::joinPath(content, known);
            (void)hostpath::renameFile(path, canonicalPath);
        }
    }
    readOldBlockMap();
    opened_ = true;
}

void AppV5Package::lockPackage() {
    std::string holder;
    auto notice = [](const std::string& other) {
        writeWarningLine(formatStringId(Msg::WaitingForPackage, {other}));
    };
    std::string path = hostpath::toLongPath(packagePath_);
    // A file that cannot even be opened is reported by the extraction, with its reason.
    if (!packageLock_.acquire(path, lockWaitSeconds(), notice, holder) && !holder.empty())
        throw Exception(Msg::PackageInUse, path, holder);
}

void AppV5Package::readOldBlockMap() {
    std::string path = knownPartPath(BlockMapPart);
    if (!hostpath::fileExists(path))
        return;
    // A map that cannot be read only costs speed: its entries are compressed again.
    (void)readBlockMap(path, [this](BlockMapFile&& file) {
        ArchivedEntry* entry = fileTable_.archivedEntry(PackagePath::asWritten(file.name));
        if (!entry || entry->size != file.size || !file.sized || entry->mapped ||
            file.blockSizes.size() != file.blockHashes.size())
            return;
        entry->blocks.resize(file.blockSizes.size());
        for (size_t i = 0; i < entry->blocks.size(); ++i)
            entry->blocks[i] = {file.blockHashes[i], file.blockSizes[i]};
        entry->mapped = true;
    });
}

void AppV5Package::requireManifest() {
    if (!hostpath::fileExists(hostpath::toLongPath(knownPartPath(ManifestPart))))
        throw Exception(formatStringId(Msg::PackageOpenFailed, {hostpath::toLongPath(packagePath_)}));
}

void AppV5Package::openOnDemand() {
    open();
    // Checked by every command, so that with -nofail no later line works on a manifest-less package.
    requireManifest();
}

std::shared_ptr<MsXmlDomDocument> AppV5Package::getXmlPart(std::string_view partName) {
    if (!isEditableXmlPart(partName))
        throw Exception(loadString(Msg::ConfigNotEditable));
    std::string name(canonicalKnownPart(partName));
    if (auto found = documents_.find(name); found != documents_.end())
        return found->second;
    std::string path = hostpath::toLongPath(knownPartPath(name));
    if (!hostpath::fileExists(path))
        return nullptr;
    auto document = std::make_shared<MsXmlDomDocument>(name);
    document->Load(path);
    document->SetupSelectionNamespaces(xpathPrefixFor(name), namespaces_);
    documents_.emplace(name, document);
    return document;
}

PackageRegistry& AppV5Package::registry() {
    if (!registry_)
        registry_ = std::make_unique<PackageRegistry>(contentFolder(), [this] { markModified(); });
    return *registry_;
}

void AppV5Package::writeBackXmlParts() {
    ManifestValidator::WriteBackXmlParts(documents_, contentFolder());
}

void AppV5Package::saveRegistry() {
    if (registry_)
        registry_->save();
}

void AppV5Package::writeNewArchive(const std::string& archivePath) {
    PackageArchiveWriter::Options options;
    options.original = original_.get();
    options.changedTime = sourceDateEpochTime();
    options.blockMapPath = hostpath::joinPath(workspaceFolder(), BlockMapPart);
    // A part loaded for editing is written back, so it counts as changed.
    for (const auto& [part, when] : knownPartTimes_)
        if (!documents_.count(part) && !(part == RegistryPart && registry_ && registry_->isOpen()))
            options.untouchedParts.emplace(part, when);
    packing_.begin(loadString(Msg::Packing), PackageArchiveWriter::stepCount(fileTable_),
                   PackageArchiveWriter::plannedBytes(contentFolder(), fileTable_));
    PackageArchiveWriter::write(
        archivePath, contentFolder(), fileTable_, [this](uint64_t bytes) { packing_.advance(1, bytes); },
        options);
    packing_.end();
}

void AppV5Package::dropSignature() {
    // The signature covers the package as it was: after any edit it would only mislead the client.
    const PackagePath signature = "AppxSignature.p7x";
    if (!fileTable_.contains(signature))
        return;
    (void)fileTable_.erase(signature);
    removeContentType(*this, signature);
    printChange(loadString(Msg::SignatureRemoved));
}

uint32_t AppV5Package::save() {
    try {
        dropSignature();
        writeBackXmlParts();
        saveRegistry();
        // Written straight beside the package, into the file that is renamed over it: the
        // temp folder never holds a copy of the package.
        PackageReplacement replacement(packagePath_);
        writeNewArchive(replacement.prepare());
        replacement.commit();
    } catch (...) {
        packing_.end();
        return handleCurrentException();
    }
    printChange(loadString(Msg::PackageUpdated));
    return 0;
}

} // namespace quendle
