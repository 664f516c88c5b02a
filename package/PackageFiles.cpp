#include "package/PackageFiles.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "xml/MsXmlDomNode.h"
#include "package/AppV5Package.h"
#include "package/ContentTypes.h"
#include "package/FilesystemMetadata.h"
#include "util/strings/MessageFormat.h"

#include <algorithm>

namespace quendle {
namespace {

constexpr std::string_view ApplicationRoot = "Root";
constexpr std::string_view ScriptsFolder = "Scripts";

// A remainder that is taken whole: no backslash at all, or backslashes only as the one or two
// leading characters of a server-style path.
bool isLastComponent(std::string_view rest, size_t lastBackslash) {
    return lastBackslash == std::string_view::npos || lastBackslash == 0 ||
           (lastBackslash == 1 && rest[0] == '\\');
}

} // namespace

std::vector<std::string> splitPackagePath(std::string_view path) {
    std::vector<std::string> components;
    std::string_view rest = path;
    for (;;) {
        const size_t lastBackslash = rest.rfind('\\');
        const std::string_view component =
            isLastComponent(rest, lastBackslash) ? rest : rest.substr(lastBackslash + 1);
        if (component.empty())
            break;
        components.emplace_back(component);
        if (component.size() == rest.size())
            break;
        rest = rest.substr(0, lastBackslash);
    }
    std::reverse(components.begin(), components.end());
    return components;
}

void validatePackagePath(std::string_view path) {
    if (path.find('/') != std::string_view::npos)
        throw Exception(Msg::PackagePathNotBackslash, path);
    const auto components = splitPackagePath(packagepath::normalizePath(path));
    if (components.empty() || components.front() != ApplicationRoot)
        throw Exception(Msg::PackagePathNotUnderRoot, path);
    if (!path.empty() && path.back() == '\\')
        throw Exception(Msg::FilePathInvalid, path);
}

PackagePath scriptPackagePath(std::string_view name) {
    return packagepath::joinPath(ScriptsFolder, name);
}

std::string xpathStringLiteral(std::string_view value) {
    if (value.find('\'') == std::string_view::npos)
        return "'" + std::string(value) + "'";
    if (value.find('"') == std::string_view::npos)
        return "\"" + std::string(value) + "\"";
    // XPath 1.0 has no escapes: quote each run in the delimiter it does not contain.
    std::string out = "concat(";
    size_t pos = 0;
    while (pos < value.size()) {
        const char delimiter = value[pos] == '\'' ? '"' : '\'';
        size_t end = value.find(delimiter, pos);
        if (end == std::string_view::npos)
            end = value.size();
        if (pos != 0)
            out += ", ";
        out += delimiter;
        out.append(value.substr(pos, end - pos));
        out += delimiter;
        pos = end;
    }
    // concat() needs two arguments; a value that is one run never gets here.
    return out + ")";
}

namespace {
int mutedChangeLines = 0;
} // namespace

ChangeLineMute::ChangeLineMute() {
    ++mutedChangeLines;
}

ChangeLineMute::~ChangeLineMute() {
    --mutedChangeLines;
}

std::shared_ptr<MsXmlDomElement> childWithName(const MsXmlDomElement& parent, const std::string& childXPath,
                                               const std::string& attribute, std::string_view value) {
    const std::string wanted = FileTable::foldKey(value);
    const auto children = parent.SelectNodes(childXPath);
    for (int i = 0; i < children->GetLength(); ++i) {
        auto child = std::dynamic_pointer_cast<MsXmlDomElement>(children->GetItem(i));
        if (child && FileTable::foldKey(child->GetAttribute(attribute)) == wanted)
            return child;
    }
    return nullptr;
}

void printChange(std::string_view text, std::string_view elementXml) {
    ConsoleWriter* console = ConsoleWriter::installed();
    if (!console || mutedChangeLines > 0)
        return;
    ConsoleColorScope green(AttributeGreen);
    console->writeLine(text);
    if (!elementXml.empty())
        console->writeLine(elementXml);
}

void addFile(FileTable& files, const PackagePath& packagePath, const std::string& sourcePath) {
    if (!files.insert(packagePath, sourcePath))
        throw Exception(formatStringId(Msg::FileAlreadyExists, {packagePath}));
    printChange(formatStringId(Msg::FileAdded, {packagePath}));
}

UpdateOutcome updateFile(FileTable& files, const PackagePath& packagePath, const std::string& sourcePath) {
    if (!files.replaceSource(packagePath, sourcePath)) {
        addFile(files, packagePath, sourcePath);
        return UpdateOutcome::Added;
    }
    printChange(formatStringId(Msg::FileUpdated, {packagePath}));
    return UpdateOutcome::Replaced;
}

void removeFile(FileTable& files, const PackagePath& packagePath) {
    if (!files.erase(packagePath))
        throw Exception(formatStringId(Msg::FileToRemoveNotFound, {packagePath}));
    printChange(formatStringId(Msg::FileRemoved, {packagePath}));
}

namespace {

void requireSource(std::string_view sourcePath) {
    if (!hostpath::pathExists(sourcePath))
        throw Exception(Msg::FileNotFound, sourcePath);
}

// Every file operation marks the package modified once it has changed the table, so that a
// failure of a later step (metadata, content types) still leaves the change counted.
void addWithMetadata(AppV5Package& package, const PackagePath& path, const std::string& source) {
    addFile(package.fileTable(), path, source);
    package.markModified();
    addFilesystemEntries(package, path);
    addContentType(package, path);
}

void update(AppV5Package& package, const PackagePath& path, const std::string& source) {
    const UpdateOutcome outcome = updateFile(package.fileTable(), path, source);
    package.markModified();
    if (outcome == UpdateOutcome::Added) {
        addFilesystemEntries(package, path);
        addContentType(package, path);
    }
}

} // namespace

void addFileCommand(AppV5Package& package, std::string_view packagePath, std::string_view sourcePath) {
    requireSource(sourcePath);
    validatePackagePath(packagePath);
    package.openOnDemand();
    addWithMetadata(package, packagepath::normalizePath(packagePath), std::string(sourcePath));
}

void updateFileCommand(AppV5Package& package, std::string_view packagePath, std::string_view sourcePath) {
    requireSource(sourcePath);
    validatePackagePath(packagePath);
    package.openOnDemand();
    update(package, packagepath::normalizePath(packagePath), std::string(sourcePath));
}

void deleteFileCommand(AppV5Package& package, std::string_view packagePath) {
    validatePackagePath(packagePath);
    package.openOnDemand();
    const PackagePath path = packagepath::normalizePath(packagePath);
    removeFile(package.fileTable(), path);
    package.markModified();
    removeFilesystemEntry(package, path);
    removeContentType(package, path);
}

void addScriptFileCommand(AppV5Package& package, std::string_view sourcePath) {
    requireSource(sourcePath);
    package.openOnDemand();
    const PackagePath path = scriptPackagePath(hostpath::fileNameOf(hostpath::normalizePath(sourcePath)));
    addFile(package.fileTable(), path, std::string(sourcePath));
    package.markModified();
    // The content type is the script entry's own: its part name is the one it is packed under.
    addContentType(package, path);
}

void updateScriptFileCommand(AppV5Package& package, std::string_view scriptName,
                             std::string_view sourcePath) {
    requireSource(sourcePath);
    package.openOnDemand();
    const PackagePath path = scriptPackagePath(scriptName);
    const UpdateOutcome outcome = updateFile(package.fileTable(), path, std::string(sourcePath));
    package.markModified();
    // A new script is added as Add-ScriptFile adds one: a content type, no metadata entry.
    if (outcome == UpdateOutcome::Added)
        addContentType(package, path);
}

void deleteScriptFileCommand(AppV5Package& package, std::string_view scriptName) {
    package.openOnDemand();
    const PackagePath path = scriptPackagePath(scriptName);
    removeFile(package.fileTable(), path);
    package.markModified();
    removeContentType(package, path);
}

} // namespace quendle
