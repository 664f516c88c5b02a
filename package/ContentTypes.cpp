#include "package/ContentTypes.h"

#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/KnownParts.h"
#include "package/PackageFiles.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"

#include <algorithm>

namespace quendle {
namespace {

constexpr std::string_view VfsFileContentType = "appv/vfs-file";

std::string contentTypesNamespace() {
    return std::string(OpcSchemaHost) + "/package/2006/content-types";
}

// Extensions and part names compare as the file table compares package paths.
std::shared_ptr<MsXmlDomElement> defaultFor(const MsXmlDomElement& root, std::string_view extension) {
    return childWithName(root, "appv:Default", "Extension", extension);
}

std::shared_ptr<MsXmlDomElement> overrideFor(const MsXmlDomElement& root, std::string_view partName) {
    return childWithName(root, "appv:Override", "PartName", partName);
}

} // namespace

std::string extensionOf(const PackagePath& packagePath) {
    const std::string& text = packagePath.text();
    const size_t dot = text.rfind('.');
    const size_t backslash = text.rfind(PackagePath::Separator);
    if (dot == std::string::npos || (backslash != std::string::npos && dot < backslash))
        return {};
    return text.substr(dot + 1);
}

std::string partNameOf(const PackagePath& packagePath) {
    std::string name = packagePath.entryName();
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() != '/')
        name.insert(name.begin(), '/');
    return name;
}

bool isExtensionInUse(std::string_view extension, const FileTable& files) {
    if (equalsIgnoreCaseAscii(extension, "xml") || equalsIgnoreCaseAscii(extension, "dat"))
        return true;
    return std::any_of(files.begin(), files.end(), [&](const FileTable::Entry& entry) {
        return equalsIgnoreCaseAscii(extensionOf(entry.packagePath), extension);
    });
}

bool ContentTypes::add(const PackagePath& path) {
    const auto root = document_.GetDocumentElement();
    const std::string extension = toLowerAscii(extensionOf(path));
    if (!extension.empty() && defaultFor(*root, extension))
        return false;

    // An extension-less file is registered by its part name; no existing Override is looked for,
    // since a path that is new to the package has none of its own.
    const auto element =
        root->AppendChildElement(extension.empty() ? "Override" : "Default", contentTypesNamespace());
    if (extension.empty()) {
        element->SetAttribute("PartName", partNameOf(path));
        element->SetAttribute("ContentType", std::string(VfsFileContentType));
    } else {
        element->SetAttribute("ContentType", std::string(VfsFileContentType));
        element->SetAttribute("Extension", extension);
    }
    changed();
    printChange(formatStringId(Msg::ElementAddedTo, {ContentTypesPart}), element->GetXml());
    return true;
}

bool ContentTypes::remove(const PackagePath& path, const FileTable& files) {
    const std::string extension = toLowerAscii(extensionOf(path));
    const auto root = document_.GetDocumentElement();
    auto drop = [&](const std::shared_ptr<MsXmlDomElement>& found) {
        if (!found)
            return false;
        const std::string xml = found->GetXml();
        found->GetParent()->RemoveChild(*found);
        changed();
        printChange(formatStringId(Msg::ElementRemovedFrom, {ContentTypesPart}), xml);
        return true;
    };
    // An Override names this one file, whatever its extension: it goes with the file.
    bool removed = drop(overrideFor(*root, partNameOf(path)));
    if (!extension.empty() && !isExtensionInUse(extension, files))
        removed = drop(defaultFor(*root, extension)) || removed;
    return removed;
}

void ContentTypes::changed() {
    if (onChange_)
        onChange_();
}

namespace {

std::shared_ptr<MsXmlDomDocument> contentTypesOf(AppV5Package& package) {
    auto document = package.getXmlPart(ContentTypesPart);
    if (!document)
        throw Exception(
            formatStringId(Msg::PackageOpenFailed, {hostpath::toLongPath(package.packagePath())}));
    return document;
}

} // namespace

void addContentType(AppV5Package& package, const PackagePath& packagePath) {
    const auto document = contentTypesOf(package);
    ContentTypes(*document, [&package] { package.markModified(); }).add(packagePath);
}

void removeContentType(AppV5Package& package, const PackagePath& path) {
    // A name still in use needs no document: a package without one is no error then.
    const std::string extension = extensionOf(path);
    if (!extension.empty() && isExtensionInUse(extension, package.fileTable()))
        return;
    const auto document = contentTypesOf(package);
    ContentTypes(*document, [&package] { package.markModified(); }).remove(path, package.fileTable());
}

} // namespace quendle
