#include "package/PackageFolders.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "os/SourceFolderScan.h"
#include "package/AppV5Package.h"
#include "package/ContentTypes.h"
#include "package/FilesystemMetadata.h"
#include "package/KnownParts.h"
#include "package/PackageFiles.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"
#include "xml/MsXmlDomDocument.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>
#include <vector>

namespace quendle {
namespace {

// A skipped source file is a warning: it goes with the errors, to standard error.
void printNotice(const std::string& line) {
    writeWarningLine(line);
}

uint32_t reasonText(SourceFolderScan::SkipReason reason) {
    switch (reason) {
    case SourceFolderScan::SkipReason::OutsideFolder:
        return Msg::SkipLinksOutside;
    case SourceFolderScan::SkipReason::BrokenLink:
        return Msg::SkipBrokenLink;
    case SourceFolderScan::SkipReason::LinkLoop:
        return Msg::SkipLinkLoop;
    case SourceFolderScan::SkipReason::SpecialFile:
        break;
    }
    return Msg::SkipNotRegularFile;
}

std::shared_ptr<MsXmlDomDocument> requiredPart(AppV5Package& package, std::string_view part) {
    auto document = package.getXmlPart(part);
    if (!document)
        throw Exception(
            formatStringId(Msg::PackageOpenFailed, {hostpath::toLongPath(package.packagePath())}));
    return document;
}

struct PlannedFile {
    PackagePath packagePath;
    std::string source;
    PackagePath folder; // the package folder that holds it
};

std::vector<PlannedFile> plan(const PackagePath& base, const SourceFolderScan& scan) {
    std::vector<PlannedFile> files;
    files.reserve(scan.files().size());
    for (const SourceFolderScan::File& file : scan.files()) {
        PackagePath folder = base;
        for (size_t i = 0; i + 1 < file.components.size(); ++i)
            folder = folder.join(file.components[i]);
        for (const std::string& component : file.components)
            if (component.find('\\') != std::string::npos)
                throw Exception(Msg::BackslashInName, file.hostPath);
        PackagePath path = folder.join(file.components.back());
        files.push_back({std::move(path), file.hostPath, std::move(folder)});
    }
    return files;
}

// Refuses the whole folder before anything changes, as Add-File refuses one existing path. Two
// host names that differ only in case are one package path, so they collide with each other.
void refuseExisting(const FileTable& table, const std::vector<PlannedFile>& files) {
    // A folder where the package has a file would nest files below that file's entry.
    std::set<PackagePath> folders;
    for (const PlannedFile& file : files)
        for (PackagePath folder = file.folder; !folder.parent().empty() && folders.insert(folder).second;
             folder = folder.parent())
            if (table.contains(folder))
                throw Exception(formatStringId(Msg::FolderPathIsFile, {folder.text()}));
    std::unordered_set<std::string> seen;
    for (const PlannedFile& file : files)
        if (table.contains(file.packagePath) || !seen.insert(file.packagePath.key()).second)
            throw Exception(formatStringId(Msg::FileAlreadyExists, {file.packagePath.text()}));
}

bool isBelow(const std::string& foldedPath, const std::string& foldedFolder) {
    return foldedPath.size() > foldedFolder.size() + 1 &&
           foldedPath.compare(0, foldedFolder.size(), foldedFolder) == 0 &&
           foldedPath[foldedFolder.size()] == '\\';
}

} // namespace

void addFolderCommand(AppV5Package& package, std::string_view folderPackagePath,
                      std::string_view sourceFolder) {
    const std::string source = hostpath::normalizePath(sourceFolder);
    if (!hostpath::folderExists(hostpath::toLongPath(source)))
        throw Exception(hostpath::pathExists(source) ? Msg::SourceFolderNotFound : Msg::FileNotFound, source);
    const PackagePath base = PackagePath::ofFolder(folderPackagePath);
    const SourceFolderScan scan(source);
    const std::vector<PlannedFile> files = plan(base, scan);
    if (files.empty())
        throw Exception(Msg::FolderHoldsNoFiles, source);

    package.openOnDemand();
    FilesystemMetadata metadata = packageMetadata(package);
    requiredPart(package, ContentTypesPart);
    refuseExisting(package.fileTable(), files);
    for (const SourceFolderScan::Skipped& skipped : scan.skipped())
        printNotice(
            formatStringId(Msg::FileSkipped, {skipped.hostPath, loadString(reasonText(skipped.reason))}));

    std::set<std::string> extensions;
    std::vector<std::pair<PackagePath, int>> folders; // in the order they are first filled
    std::map<PackagePath, size_t> folderIndex;
    for (const PlannedFile& file : files) {
        {
            ChangeLineMute quiet;
            addFile(package.fileTable(), file.packagePath, file.source);
            package.markModified();
            metadata.addEntries(file.packagePath);
        }
        // A registered extension serves every later file; the new ones are worth a line each.
        const std::string extension = toLowerAscii(extensionOf(file.packagePath));
        if (extension.empty()) {
            ChangeLineMute quiet;
            addContentType(package, file.packagePath);
        } else if (extensions.insert(extension).second) {
            addContentType(package, file.packagePath);
        }
        const auto [it, isNew] = folderIndex.try_emplace(file.folder, folders.size());
        if (isNew)
            folders.emplace_back(file.folder, 0);
        ++folders[it->second].second;
    }
    for (const auto& [folder, count] : folders)
        printChange(formatStringId(Msg::FolderAdded, {folder.text(), count}));
    if (folders.size() > 1)
        printChange(formatStringId(Msg::FoldersAddedTotal, {files.size(), folders.size()}));
}

void deleteFolderCommand(AppV5Package& package, std::string_view folderPackagePath) {
    const PackagePath folder = PackagePath::ofFolder(folderPackagePath);
    // Removing either would empty the package of every file it virtualizes.
    if (equalsIgnoreCaseAscii(folder.text(), "Root") || equalsIgnoreCaseAscii(folder.text(), "Root\\VFS"))
        throw Exception(formatStringId(Msg::FolderIsPackageRoot, {folder.text()}));
    package.openOnDemand();
    const auto metadataDocument = requiredPart(package, FilesystemMetadataPart);
    // A file is no folder: its entry must not go while the file stays.
    if (package.fileTable().contains(folder))
        throw Exception(formatStringId(Msg::PackageFolderNotFound, {folder.text()}));

    const std::string foldedFolder = folder.key();
    const size_t depth = folder.components().size();
    std::vector<PackagePath> doomed;
    std::set<PackagePath> spellings{folder}; // the folder as each of its files spells it
    for (const FileTable::Entry& entry : package.fileTable()) {
        if (!isBelow(entry.packagePath.key(), foldedFolder))
            continue;
        doomed.push_back(entry.packagePath);
        std::vector<std::string> components = entry.packagePath.components();
        components.resize(std::min(depth, components.size()));
        spellings.insert(PackagePath::ofComponents(components));
    }

    std::set<std::string> extensions;
    bool removedEntries = false;
    {
        ChangeLineMute quiet;
        for (const PackagePath& path : doomed) {
            removeFile(package.fileTable(), path);
            package.markModified();
        }
        FilesystemMetadata metadata(*metadataDocument, [&package] { package.markModified(); });
        for (const PackagePath& spelling : spellings)
            removedEntries = metadata.removeEntry(spelling) || removedEntries;
        for (const PackagePath& path : doomed) {
            const std::string extension = toLowerAscii(extensionOf(path));
            if (extension.empty())
                removeContentType(package, path);
            else
                extensions.insert(extension);
        }
    }
    if (doomed.empty() && !removedEntries)
        throw Exception(formatStringId(Msg::PackageFolderNotFound, {folder.text()}));
    // One check per extension: the answer is the same for every file that has it.
    for (const PackagePath& path : doomed) {
        const std::string extension = toLowerAscii(extensionOf(path));
        if (!extension.empty() && extensions.erase(extension) == 1)
            removeContentType(package, path);
    }
    printChange(formatStringId(Msg::FolderRemoved, {folder.text(), doomed.size()}));
}

} // namespace quendle
