#include "package/FilesystemMetadata.h"

#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/KnownParts.h"
#include "package/MetadataNameIndex.h"
#include "package/PackageFiles.h"
#include "package/ShortNameGenerator.h"
#include "util/strings/MessageFormat.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"

#include <libxml/tree.h>

namespace quendle {
namespace {

constexpr const char* FilesystemSelector = "appv:Filesystem";

std::string metadataNamespace() {
    return appVNamespace("/appv/2010/FilesystemMetadata");
}

// The client's file system ignores case: a case variant of an entry's name is that entry.
std::shared_ptr<MsXmlDomElement> childEntry(const MsXmlDomElement& parent, const char* attribute,
                                            std::string_view value) {
    return childWithName(parent, "appv:Entry", attribute, value);
}

// The namespace the selection prefix stands for: the one the `Filesystem` element was found in.
std::string namespaceOf(const MsXmlDomElement& element) {
    const xmlNode* node = element.raw();
    return node->ns && node->ns->href ? reinterpret_cast<const char*>(node->ns->href) : "";
}

// The names index outlives one command, so that thousands of Add-File lines read each folder
// once. It belongs to one document and one `Filesystem` element, and is dropped whenever the
// document may have changed other than by an addition made through it.
struct SharedNames {
    std::weak_ptr<MsXmlDomDocument> document;
    std::shared_ptr<MetadataNameIndex> names;
};

SharedNames& sharedNames() {
    static SharedNames shared;
    return shared;
}

} // namespace

void forgetMetadataNames() {
    sharedNames() = {};
}

FilesystemMetadata::FilesystemMetadata(MsXmlDomDocument& document, std::function<void()> onChange)
    : document_(document), onChange_(std::move(onChange)) {}

bool FilesystemMetadata::addEntries(const PackagePath& packagePath) {
    const auto filesystem = document_.GetDocumentElement()->SelectSingleElement(FilesystemSelector);
    if (!filesystem)
        return false;
    if (!names_ || !names_->isFor(*filesystem))
        names_ = std::make_shared<MetadataNameIndex>(*filesystem, namespaceOf(*filesystem));
    bool added = false;
    std::shared_ptr<MsXmlDomElement> current = filesystem;
    for (const std::string& component : packagePath.components()) {
        if (auto existing = names_->findChild(*current, component)) {
            current = std::move(existing);
            continue;
        }
        const auto parent = current;
        // The short name is chosen before the entry joins its siblings, so it never meets itself.
        const std::string shortName = names_->shortNameFor(*parent, component);
        current = parent->AppendChildElement("Entry", metadataNamespace());
        current->SetAttribute("Long", component);
        if (!shortName.empty())
            current->SetAttribute("Short", shortName);
        names_->childAdded(*parent, *current);
        changed();
        printChange(formatStringId(Msg::ElementAddedTo, {FilesystemMetadataPart}), current->GetXml());
        added = true;
    }
    return added;
}

bool FilesystemMetadata::removeEntry(const PackagePath& packagePath) {
    const auto filesystem = document_.GetDocumentElement()->SelectSingleElement(FilesystemSelector);
    if (!filesystem)
        return false;
    std::shared_ptr<MsXmlDomNode> found;
    std::shared_ptr<MsXmlDomElement> current = filesystem;
    for (const std::string& component : packagePath.components()) {
        current = childEntry(*current, "Long", component);
        if (!current)
            return false;
        found = current;
    }
    if (!found)
        return false;
    // An index only follows additions.
    names_.reset();
    forgetMetadataNames();

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

FilesystemMetadata packageMetadata(AppV5Package& package) {
    const auto document = metadataOf(package);
    SharedNames& shared = sharedNames();
    if (shared.document.lock() != document)
        shared = {document, nullptr};
    FilesystemMetadata metadata(*document, [&package] { package.markModified(); });
    metadata.names_ = shared.names;
    return metadata;
}

FilesystemMetadata::~FilesystemMetadata() {
    SharedNames& shared = sharedNames();
    if (names_ && shared.document.lock().get() == &document_)
        shared.names = names_;
}

void addFilesystemEntries(AppV5Package& package, const PackagePath& packagePath) {
    packageMetadata(package).addEntries(packagePath);
}

void removeFilesystemEntry(AppV5Package& package, const PackagePath& packagePath) {
    const auto document = metadataOf(package);
    FilesystemMetadata(*document, [&package] { package.markModified(); }).removeEntry(packagePath);
}

} // namespace quendle
