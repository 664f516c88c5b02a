#include "package/MetadataNameIndex.h"

#include "xml/MsXmlDomNode.h"
#include "package/FileTable.h"
#include "package/ShortNameGenerator.h"

#include <libxml/tree.h>

namespace quendle {
namespace {

const xmlChar* xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

// The value of an attribute in no namespace, as "@Name" selects it; false when absent.
bool attributeValue(xmlNode* node, const char* name, std::string& value) {
    xmlAttr* attribute = xmlHasNsProp(node, xml(name), nullptr);
    if (!attribute)
        return false;
    xmlChar* text = xmlNodeGetContent(reinterpret_cast<xmlNode*>(attribute));
    value = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return true;
}

} // namespace

MetadataNameIndex::MetadataNameIndex(const MsXmlDomElement& filesystem, std::string entryNamespace)
    : filesystem_(filesystem.raw()), entryNamespace_(std::move(entryNamespace)) {}

MetadataNameIndex::~MetadataNameIndex() = default;

bool MetadataNameIndex::isFor(const MsXmlDomElement& filesystem) const {
    return filesystem.raw() == filesystem_;
}

bool MetadataNameIndex::isEntry(const _xmlNode* node) const {
    return node->type == XML_ELEMENT_NODE && node->ns && node->ns->href &&
           entryNamespace_ == reinterpret_cast<const char*>(node->ns->href) &&
           xmlStrEqual(node->name, xml("Entry"));
}

MetadataNameIndex::Folder& MetadataNameIndex::folder(const MsXmlDomElement& element) {
    const auto [it, isNew] = folders_.try_emplace(element.raw());
    if (isNew) {
        std::string value;
        for (xmlNode* child = element.raw()->children; child; child = child->next) {
            if (!isEntry(child))
                continue;
            if (attributeValue(child, "Long", value))
                it->second.byLong.try_emplace(FileTable::foldKey(value), child);
            if (attributeValue(child, "Short", value))
                it->second.shorts.insert(FileTable::foldKey(value));
        }
    }
    return it->second;
}

std::shared_ptr<MsXmlDomElement> MetadataNameIndex::findChild(const MsXmlDomElement& parent,
                                                              std::string_view longName) {
    Folder& entries = folder(parent);
    const auto found = entries.byLong.find(FileTable::foldKey(longName));
    if (found == entries.byLong.end())
        return nullptr;
    return std::make_shared<MsXmlDomElement>(parent.state(), found->second);
}

void MetadataNameIndex::childAdded(const MsXmlDomElement& parent, const MsXmlDomElement& child) {
    Folder& entries = folder(parent);
    if (!isEntry(child.raw()))
        return;
    std::string value;
    if (attributeValue(child.raw(), "Long", value))
        entries.byLong.try_emplace(FileTable::foldKey(value), child.raw());
    if (attributeValue(child.raw(), "Short", value))
        entries.shorts.insert(FileTable::foldKey(value));
    // A new element has no children: its folder is known to be empty without reading it.
    folders_.try_emplace(child.raw());
}

std::string MetadataNameIndex::shortNameFor(const MsXmlDomElement& parent, std::string_view longName) {
    if (ShortNameGenerator::isValidShortName(longName))
        return {};
    Folder& entries = folder(parent);
    unsigned long long& next = entries.nextNumber[ShortNameGenerator::candidate(longName, 1)];
    if (next == 0)
        next = 1;
    // Numbers below `next` were found taken before, and taken names are never given back here.
    for (;; ++next) {
        std::string name = ShortNameGenerator::candidate(longName, next);
        if (!entries.shorts.contains(FileTable::foldKey(name)))
            return name;
    }
}

} // namespace quendle
