#include "package/PackageFiles.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/ContentTypes.h"
#include "package/FilesystemMetadata.h"
#include "util/strings/MessageFormat.h"
#include "xml/MsXmlDomNode.h"

namespace quendle {

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
        throw Exception(formatStringId(Msg::FileAlreadyExists, {packagePath.text()}));
    printChange(formatStringId(Msg::FileAdded, {packagePath.text()}));
}

UpdateOutcome updateFile(FileTable& files, const PackagePath& packagePath, const std::string& sourcePath) {
    if (!files.replaceSource(packagePath, sourcePath)) {
        addFile(files, packagePath, sourcePath);
        return UpdateOutcome::Added;
    }
    printChange(formatStringId(Msg::FileUpdated, {packagePath.text()}));
    return UpdateOutcome::Replaced;
}

void removeFile(FileTable& files, const PackagePath& packagePath) {
    if (!files.erase(packagePath))
        throw Exception(formatStringId(Msg::FileToRemoveNotFound, {packagePath.text()}));
    printChange(formatStringId(Msg::FileRemoved, {packagePath.text()}));
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
    const PackagePath path = PackagePath::ofFile(packagePath);
    package.openOnDemand();
    addWithMetadata(package, path, std::string(sourcePath));
}

void updateFileCommand(AppV5Package& package, std::string_view packagePath, std::string_view sourcePath) {
    requireSource(sourcePath);
    const PackagePath path = PackagePath::ofFile(packagePath);
    package.openOnDemand();
    update(package, path, std::string(sourcePath));
}

void deleteFileCommand(AppV5Package& package, std::string_view packagePath) {
    const PackagePath path = PackagePath::ofFile(packagePath);
    package.openOnDemand();
    removeFile(package.fileTable(), path);
    package.markModified();
    removeFilesystemEntry(package, path);
    removeContentType(package, path);
}

void addScriptFileCommand(AppV5Package& package, std::string_view sourcePath) {
    requireSource(sourcePath);
    package.openOnDemand();
    const PackagePath path = PackagePath::ofScript(hostpath::fileNameOf(hostpath::normalizePath(sourcePath)));
    addFile(package.fileTable(), path, std::string(sourcePath));
    package.markModified();
    // The content type is the script entry's own: its part name is the one it is packed under.
    addContentType(package, path);
}

void updateScriptFileCommand(AppV5Package& package, std::string_view scriptName,
                             std::string_view sourcePath) {
    requireSource(sourcePath);
    package.openOnDemand();
    const PackagePath path = PackagePath::ofScript(scriptName);
    const UpdateOutcome outcome = updateFile(package.fileTable(), path, std::string(sourcePath));
    package.markModified();
    // A new script is added as Add-ScriptFile adds one: a content type, no metadata entry.
    if (outcome == UpdateOutcome::Added)
        addContentType(package, path);
}

void deleteScriptFileCommand(AppV5Package& package, std::string_view scriptName) {
    package.openOnDemand();
    const PackagePath path = PackagePath::ofScript(scriptName);
    removeFile(package.fileTable(), path);
    package.markModified();
    removeContentType(package, path);
}

} // namespace quendle
