#include "package/AppV5Package.h"

#include "archive/ZipReader.h"
#include "core/ConsoleWriter.h"
#include "core/ExceptionPresenter.h"
#include "os/ExceptionHandling.h"
#include "os/FileSystem.h"
#include "os/Guid.h"
#include "os/SignalCleanup.h"
#include "os/StaleLeftovers.h"
#include "package/KnownParts.h"
#include "package/ManifestValidator.h"
#include "package/PackageArchiveWriter.h"
#include "package/PackageFiles.h"
#include "package/PackageRegistry.h"
#include "package/PackageReplacement.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"
#include "xml/MsXmlDomDocument.h"

#include <cstdio>
#include <vector>

namespace quendle {

namespace {

constexpr int PackingOperation = 104;

} // namespace

AppV5Package::AppV5Package() = default;

AppV5Package::~AppV5Package() {
    // The hive and the documents may hold files of the workspace: release them first.
    registry_.reset();
    documents_.clear();
    removeWorkspace();
}

void AppV5Package::removeWorkspace() noexcept {
    if (workspaceFolder_.empty())
        return;
    // Before the tracker's own removal of the tree, which would take the lock file at random.
    StaleLeftovers::removeWorkspace(workspaceFolder_);
    tracker_.cleanUp();
    SignalCleanup::forgetFolder();
    // Only now: an unlocked workspace may be swept by another run.
    workspaceLock_.reset();
}

void AppV5Package::setPackagePath(const std::string& path) {
    if (!hostpath::pathExists(hostpath::toLongPath(path)))
        throw Exception(Msg::FileNotFound, hostpath::toLongPath(path));
    packagePath_ = path;
}

std::string AppV5Package::knownPartPath(std::string_view partName) const {
    std::string_view canonical = canonicalKnownPart(partName);
    return hostpath::joinPath(contentFolder_, canonical.empty() ? partName : canonical);
}

PackagePath AppV5Package::packagePathOf(const std::string& base, const std::string& file) {
    if (!base.empty() && base.size() < file.size() &&
        equalsIgnoreCaseAscii(file.substr(0, base.size()), base) &&
        file[base.size()] == hostpath::Separator) {
        PackagePath path = file.substr(base.size() + 1);
        for (char& c : path)
            if (c == hostpath::Separator)
                c = packagepath::Separator;
        return path;
    }
    throw Exception(Msg::PackagePathUncomputable, file);
}

void AppV5Package::open() {
    // Once per run, even for a package of nothing but root parts (whose file table stays empty).
    if (opened_)
        return;
    workspaceFolder_ = hostpath::joinPath(hostpath::tempFolderPath(), newGuidString(GuidCase::Upper, true));
    contentFolder_ = hostpath::joinPath(workspaceFolder_, "res");
    SignalCleanup::install();
    SignalCleanup::watchFolder(workspaceFolder_);
    // A hardware fault ends the run from its own handler; the workspace goes with it too.
    setFaultCleanup(&SignalCleanup::cleanUpNow);
    tracker_.addFolderTree(workspaceFolder_);
    // Workspaces of runs that were killed outright are removed first: they may be gigabytes.
    (void)StaleLeftovers::removeAbandonedWorkspaces(hostpath::tempFolderPath());
    // Only this user may read the extracted package; a failure shows up as a failed extraction.
    workspaceLock_ = StaleLeftovers::createWorkspace(workspaceFolder_);
    if (!workspaceLock_)
        (void)hostpath::createFolder(workspaceFolder_);

    std::vector<std::string> extracted;
    ZipReader reader(this);
    bool ok = reader.open(hostpath::toLongPath(packagePath_)) && reader.extractAll(contentFolder_, extracted);
    reader.close();
    endProgressLine();
    if (!ok)
        throw Exception(
            withCause(formatStringId(Msg::PackageOpenFailed, {hostpath::toLongPath(packagePath_)}),
                      reader.errorText()));

    for (const std::string& file : extracted) {
        std::string path = hostpath::normalizePath(file);
        PackagePath packagePath = packagePathOf(contentFolder_, path);
        std::string_view known = canonicalKnownPart(packagePath);
        if (known.empty()) {
            // The extractor has refused entries naming one file twice.
            (void)fileTable_.insert(packagePath, path);
            continue;
        }
        // Known parts are found later by their own spelling.
        if (packagePath != known) {
            std::string canonicalPath = hostpath::joinPath(contentFolder_, known);
            (void)std::rename(path.c_str(), canonicalPath.c_str());
        }
    }
    opened_ = true;
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
        throw Exception("Config file is not editable.");
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
        registry_ = std::make_unique<PackageRegistry>(contentFolder_, [this] { markModified(); });
    return *registry_;
}

void AppV5Package::writeBackXmlParts() {
    ManifestValidator::WriteBackXmlParts(documents_, contentFolder_);
}

void AppV5Package::saveRegistry() {
    if (registry_)
        registry_->save();
}

void AppV5Package::writeNewArchive(const std::string& archivePath) {
    PackageArchiveWriter::write(archivePath, contentFolder_, fileTable_, [this] { step(1); });
}

uint32_t AppV5Package::save() {
    try {
        // Built in the workspace under the package's own name, beside its block map.
        std::string name = hostpath::fileNameOf(packagePath_);
        if (name == "res" || isKnownPart(name))
            name += ".new";
        std::string archivePath = hostpath::joinPath(workspaceFolder_, name);
        setRange(PackingOperation, PackageArchiveWriter::stepCount(fileTable_), 0);
        writeBackXmlParts();
        saveRegistry();
        writeNewArchive(archivePath);
        finish(PackingOperation, 0);
        PackageReplacement(packagePath_).install(archivePath);
    } catch (...) {
        endProgressLine();
        return handleCurrentException();
    }
    printChange(loadString(Msg::PackageUpdated));
    return 0;
}

void AppV5Package::setRange(int operation, int64_t total, int) {
    operation_ = operation;
    total_ = total;
    done_ = 0;
    lastPercent_ = 0;
    progressText_.clear();
    ConsoleWriter* writer = ConsoleWriter::installed();
    if (!writer)
        return;
    std::string text = loadString(operation == PackingOperation ? Msg::Packing : Msg::Extracting);
    if (!writer->isTerminal()) {
        // Redirected output gets the message alone: a log has no use for rewritten numbers.
        writer->writeLine(text);
        return;
    }
    writer->write(text);
    progressText_ = std::move(text);
}

void AppV5Package::step(int64_t count) {
    if (progressText_.empty())
        return;
    done_ += count;
    int percent = total_ > 0 ? static_cast<int>(done_ * 100 / total_) : 100;
    if (percent <= lastPercent_)
        return;
    lastPercent_ = percent;
    if (ConsoleWriter* writer = ConsoleWriter::installed())
        writer->write("\r" + progressText_ + formatStringId(Msg::ProgressPercent, {percent}));
    if (percent >= 100)
        endProgressLine();
}

void AppV5Package::finish(int, int) {
    endProgressLine();
}

void AppV5Package::endProgressLine() {
    if (progressText_.empty())
        return;
    progressText_.clear();
    if (ConsoleWriter* writer = ConsoleWriter::installed())
        writer->write("\n");
}

} // namespace quendle
