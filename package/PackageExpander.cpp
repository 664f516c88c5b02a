#include "package/PackageExpander.h"

#include "archive/ZipReader.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/FileSystem.h"
#include "os/Guid.h"
#include "os/SystemError.h"
#include "package/ExtractionProgress.h"
#include "util/strings/MessageFormat.h"

#include <set>

namespace quendle {

namespace {

// The longest name a Linux file system takes for one component.
constexpr long MaxNameBytes = 255;

// What the file system would refuse half-way, named before anything is written: a path that is
// a file and also holds other files, and a name too long for any folder.
void checkNames(const std::string& packagePath, const std::vector<ZipReader::Entry>& entries) {
    std::set<std::string> files, folders;
    for (const ZipReader::Entry& entry : entries) {
        std::string path;
        for (size_t i = 0; i < entry.components.size(); ++i) {
            const std::string& component = entry.components[i];
            if (static_cast<long>(component.size()) > MaxNameBytes)
                throw Exception(Msg::ExpandFailed, packagePath,
                                formatMessageId(Msg::ExpandNameTooLong, {component, MaxNameBytes}));
            path += (path.empty() ? "" : "\\") + component;
            if (i + 1 < entry.components.size() || entry.isFolder)
                folders.insert(path);
        }
        if (!entry.isFolder && !path.empty())
            files.insert(path);
    }
    for (const std::string& file : files)
        if (folders.count(file))
            throw Exception(Msg::ExpandFailed, packagePath,
                            formatMessageId(Msg::ExpandNameFileAndFolder, {file}));
}

// A fresh folder beside the destination (so that the final rename stays on one file system).
std::string createStagingFolder(const std::string& destination) {
    std::string parent = hostpath::folderOf(hostpath::absolutePath(destination));
    std::string base = "." + hostpath::fileNameOf(hostpath::absolutePath(destination)) + ".expanding-";
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string path = hostpath::joinPath(parent, base + newGuidString(GuidCase::Upper, false));
        if (!hostpath::pathExists(path) && hostpath::createFolder(path))
            return path;
    }
    SystemError why = SystemError::last();
    (why.failed() ? why : SystemError::alreadyExists()).raise();
}

void removeStagingFolder(const std::string& path) {
    hostpath::deleteFolderTree(path, true);
    (void)hostpath::removeFolder(path);
}

// Moves what `from` holds into `to`, folders merged, files of the package taking the place of
// what was there: how -force fills a folder that is not empty.
bool mergeInto(const std::string& from, const std::string& to) {
    for (const std::string& name : hostpath::folderEntries(from)) {
        std::string source = hostpath::joinPath(from, name), target = hostpath::joinPath(to, name);
        if (hostpath::folderExists(source) && hostpath::folderExists(target)) {
            if (!mergeInto(source, target))
                return false;
            continue;
        }
        if (hostpath::folderExists(target)) {
            hostpath::deleteFolderTree(target, true);
            (void)hostpath::removeFolder(target);
        }
        if (!hostpath::renameFile(source, target))
            return false;
    }
    return true;
}

} // namespace

size_t PackageExpander::expand(const std::string& packagePath, const std::string& folder, bool force) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    if (hostpath::pathExists(folder) && !hostpath::folderExists(folder))
        throw Exception(Msg::ExpandFailed, packagePath, folder + " is not a folder");
    const bool existed = hostpath::folderExists(folder);
    if (!force && existed && !hostpath::folderEntries(folder).empty())
        throw Exception(Msg::ExpandFolderNotEmpty, folder);

    ExtractionProgress progress(Msg::Expanding);
    ZipReader reader(&progress);
    std::vector<ZipReader::Entry> entries;
    if (!reader.open(packagePath) || !reader.readDirectory(entries))
        throw Exception(Msg::ExpandFailed, packagePath, reader.failure().text());
    checkNames(packagePath, entries);
    std::vector<const ZipReader::Entry*> all;
    std::vector<uint64_t> sizes;
    for (const ZipReader::Entry& entry : entries) {
        all.push_back(&entry);
        if (!entry.isFolder)
            sizes.push_back(entry.archived.size);
    }
    progress.expect(std::move(sizes));

    // Everything comes out into a folder of its own first: a failure leaves the destination as
    // it was, and only a complete expansion takes its place.
    std::string staging = createStagingFolder(folder);
    std::vector<std::string> written;
    bool ok = reader.extractEntries(staging, all, written);
    progress.end();
    std::string why = reader.failure().text();
    if (ok) {
        if (!existed)
            ok = hostpath::renameFile(staging, folder);
        else if (hostpath::folderEntries(folder).empty())
            ok = hostpath::removeFolder(folder) && hostpath::renameFile(staging, folder);
        else
            ok = mergeInto(staging, folder);
        if (!ok)
            why = SystemError::last().failure(Msg::PathSystemError, {folder}).text();
    }
    removeStagingFolder(staging);
    if (!ok)
        throw Exception(Msg::ExpandFailed, packagePath, why);
    return written.size();
}

void PackageExpander::expandCommand(const std::string& packagePath, const std::string& folder, bool force) {
    size_t count = expand(packagePath, folder, force);
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        ConsoleColorScope green(AttributeGreen);
        console->writeLine(
            formatStringId(Msg::Expanded, {static_cast<long long>(count), packagePath, folder}));
    }
}

} // namespace quendle
