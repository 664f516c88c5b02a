#include "package/FilesystemMetadata.h"

#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/KnownParts.h"
#include "package/PackageFiles.h"
#include "package/ShortNameGenerator.h"
#include "util/strings/MessageFormat.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"

namespace quendle {
namespace {

constexpr const char* FilesystemSelector = "appv:Filesystem";

std::string metadataNamespace() {
    return appVNamespace("/appv/2010/FilesystemMetadata");
}

// Values are quoted for XPath, so a name with an apostrophe is selected like any other.
std::string entrySelector(std::string_view attribute, std::string_view value) {
    return "appv:Entry[@" + std::string(attribute) + "=" + xpathStringLiteral(value) + "]";
}

} // namespace

bool FilesystemMetadata::addEntries(std::string_view packagePath) {
    const auto filesystem = document_.GetDocumentElement()->SelectSingleElement(FilesystemSelector);
    if (!filesystem)
        return false;
    bool added = false;
    std::shared_ptr<MsXmlDomElement> current = filesystem;
    for (const std::string& component : splitPackagePath(packagepath::normalizePath(packagePath))) {
        if (auto existing = current->SelectSingleElement(entrySelector("Long", component))) {
            current = std::move(existing);
            continue;
        }
        const auto parent = current;
        current = parent->AppendChildElement("Entry", metadataNamespace());
        current->SetAttribute("Long", component);
        const std::string shortName = ShortNameGenerator::makeShortName(
            packagepath::normalizePath(component), [&](const std::string& candidate) {
                return parent->SelectSingleNode(entrySelector("Short", candidate)) != nullptr;
            });
        if (!shortName.empty())
            current->SetAttribute("Short", shortName);
        changed();
        printChange(formatStringId(Msg::ElementAddedTo, {FilesystemMetadataPart}), current->GetXml());
        added = true;
    }
    return added;
}

bool FilesystemMetadata::removeEntry(std::string_view packagePath) {
    const auto filesystem = document_.GetDocumentElement()->SelectSingleElement(FilesystemSelector);
    if (!filesystem)
        return false;
    std::string chain;
    for (const std::string& component : splitPackagePath(packagepath::normalizePath(packagePath))) {
        if (!chain.empty())
            chain += '/';
        chain += entrySelector("Long", component);
    }
    if (chain.empty())
        return false;
    auto found = filesystem->SelectSingleNode(chain);
    if (!found)
        return false;

    // Remove the entry, then every ancestor entry it leaves empty, up to the first one that
    // still holds something (or the `Filesystem` element itself).
    for (;;) {
        auto parent = found->GetParent();
        const std::string xml = found->GetXml();
        parent->RemoveChild(*found);
        changed();
        printChange(formatStringId(Msg::ElementRemovedFrom, {FilesystemMetadataPart}), xml);
        if (parent->GetName() != "Entry" || parent->HasChildNodes())
            break;
        found = std::move(parent);
    }
    return true;
}

void FilesystemMetadata::changed() {
    if (onChange_)
        onChange_();
}

namespace {

std::shared_ptr<MsXmlDomDocument> metadataOf(AppV5Package& package) {
    auto document = package.getXmlPart(FilesystemMetadataPart);
    if (!document)
        throw Exception(
            formatStringId(Msg::PackageOpenFailed, {hostpath::toLongPath(package.packagePath())}));
    return document;
}

} // namespace

void addFilesystemEntries(AppV5Package& package, std::string_view packagePath) {
    const auto document = metadataOf(package);
    FilesystemMetadata(*document, [&package] { package.markModified(); }).addEntries(packagePath);
}

void removeFilesystemEntry(AppV5Package& package, std::string_view packagePath) {
    const auto document = metadataOf(package);
    FilesystemMetadata(*document, [&package] { package.markModified(); }).removeEntry(packagePath);
}

} // namespace quendle
