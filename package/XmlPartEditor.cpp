#include "package/XmlPartEditor.h"

#include "core/Exception.h"
#include "package/AppV5Package.h"
#include "package/FilesystemMetadata.h"
#include "package/KnownParts.h"
#include "package/PackageFiles.h"
#include "util/strings/MessageFormat.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/XslTransform.h"

namespace quendle {

namespace {

std::shared_ptr<MsXmlDomDocument> requireDocument(AppV5Package& package, const std::string& part) {
    forgetMetadataNames(); // the edit may change entries behind the metadata's back
    auto document = package.getXmlPart(part);
    if (!document)
        throw Exception(Msg::NullPointer);
    return document;
}

std::shared_ptr<MsXmlDomElement> requireRoot(const MsXmlDomDocument& document) {
    auto root = document.GetDocumentElement();
    if (!root || root->IsEmpty())
        throw Exception(Msg::NullPointer);
    return root;
}

std::string parentNameOf(const MsXmlDomNode& node) {
    auto parent = node.GetParent();
    return parent ? parent->GetName() : std::string();
}

// Removes one node from its parent; true when it was removed.
bool removeFromParent(AppV5Package& package, const MsXmlDomNode& node) {
    auto parent = node.GetParent();
    if (!parent)
        return false;
    std::string name = node.GetName();
    if (!parent->RemoveChild(node))
        return false;
    package.markModified();
    printChange(formatStringId(Msg::NodeRemoved, {name, parent->GetName()}));
    return true;
}

} // namespace

void XmlPartEditor::setNodeText(const std::string& part, const std::string& xpath, const std::string& text) {
    auto document = requireDocument(package_, part);
    auto root = requireRoot(*document);
    auto list = root->SelectNodes(xpath);
    if (!list)
        return;
    for (int i = 0; i < list->GetLength(); ++i) {
        auto node = list->GetItem(i);
        if (!node)
            continue;
        std::string old = node->GetText();
        std::string name = node->GetName();
        node->SetText(text);
        package_.markModified();
        printChange(formatStringId(Msg::NodeTextReplaced, {old, text, name}));
    }
}

void XmlPartEditor::newElement(const std::string& part, const std::string& xpath,
                               const std::string& elementName, const std::string& namespaceUri,
                               const std::string& elementText, bool createIfNotExist) {
    auto document = requireDocument(package_, part);
    auto root = requireRoot(*document);
    auto parent = xpath.empty() ? root : root->SelectSingleElement(xpath);

    // The existence test addresses the new element the way the command line would: by the
    // prefix the parts declare for its namespace. A namespace no part declares has no prefix;
    // the test then matches local name and namespace directly.
    std::string existing;
    if (elementName.find(':') != std::string::npos) {
        existing = elementName;
    } else {
        const std::string& prefix = package_.namespaces()[namespaceUri];
        existing = prefix.empty()
                       ? "*[local-name()='" + elementName + "' and namespace-uri()='" + namespaceUri + "']"
                       : prefix + ":" + elementName;
    }
    if (!parent)
        return;
    if (createIfNotExist && parent->SelectSingleNode(existing))
        return;
    auto element = parent->AppendChildElement(elementName, namespaceUri);
    if (!element)
        return;
    if (!elementText.empty())
        element->SetText(elementText);
    package_.markModified();
    printChange(formatStringId(Msg::ElementCreated, {elementName, elementText, parentNameOf(*element)}));
}

void XmlPartEditor::setElementAttribute(const std::string& part, const std::string& xpath,
                                        const std::string& attributeName, const std::string& attributeValue) {
    auto document = requireDocument(package_, part);
    auto root = requireRoot(*document);
    auto element = xpath.empty() ? root : root->SelectSingleElement(xpath);
    if (!element)
        return;
    std::string old = element->GetAttribute(attributeName);
    element->SetAttribute(attributeName, attributeValue);
    package_.markModified();
    printChange(formatStringId(Msg::AttributeSet, {attributeName, element->GetName(), attributeValue, old}));
}

void XmlPartEditor::deleteSingleNode(const std::string& part, const std::string& xpath) {
    auto document = requireDocument(package_, part);
    auto root = requireRoot(*document);
    if (auto node = root->SelectSingleNode(xpath))
        removeFromParent(package_, *node);
}

void XmlPartEditor::deleteNodes(const std::string& part, const std::string& xpath) {
    auto document = requireDocument(package_, part);
    auto root = requireRoot(*document);
    auto list = root->SelectNodes(xpath);
    if (!list)
        return;
    for (int i = 0; i < list->GetLength(); ++i)
        if (auto node = list->GetItem(i))
            removeFromParent(package_, *node);
}

void XmlPartEditor::transformPart(const std::string& part, const std::string& xslPath,
                                  XslTransform& transform) {
    auto document = requireDocument(package_, part);
    // The document takes the output as its content and keeps its own declaration settings.
    transform.Transform(*document, *document);
    printChange(formatStringId(Msg::TransformApplied, {xslPath, part}));
    document->SetupSelectionNamespaces(xpathPrefixFor(part), package_.namespaces());
    package_.markModified();
}

} // namespace quendle
