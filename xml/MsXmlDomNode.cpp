#include "xml/MsXmlDomNode.h"
#include "util/strings/MessageFormat.h"
#include "xml/DomState.h"

#include <libxml/xpathInternals.h>

namespace quendle {

using namespace xmllib;

DomState::~DomState() {
    // Only roots of detached subtrees are freed: their descendants go with them.
    std::vector<xmlNode*> roots;
    for (xmlNode* n : detached) {
        if (n->parent == nullptr)
            roots.push_back(n);
    }
    for (xmlNode* n : roots)
        xmlFreeNode(n);
    if (doc)
        xmlFreeDoc(doc);
}

std::vector<std::pair<std::string, std::string>> parseSelectionNamespaces(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 0;
    while ((pos = text.find("xmlns", pos)) != std::string::npos) {
        size_t eq = text.find('=', pos);
        if (eq == std::string::npos)
            break;
        std::string name = text.substr(pos, eq - pos);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        std::string prefix = name.size() > 6 && name[5] == ':' ? name.substr(6) : std::string();
        size_t open = text.find_first_of("'\"", eq);
        if (open == std::string::npos)
            break;
        size_t close = text.find(text[open], open + 1);
        if (close == std::string::npos)
            break;
        out.emplace_back(prefix, text.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
    return out;
}

namespace {

// XPath results may hold namespace nodes, which are no tree nodes; they are never handed out.
bool isTreeNode(const xmlNode* n) {
    return n && n->type != XML_NAMESPACE_DECL;
}

XPathObjectPtr evaluate(const DomState& state, xmlNode* context, const std::string& xpath) {
    ErrorCollector errors;
    XPathContextPtr ctxt(xmlXPathNewContext(state.doc));
    if (!ctxt)
        throw Exception(Msg::UnexpectedException);
    for (const auto& [prefix, uri] : state.selectionNamespaces) {
        if (!prefix.empty())
            xmlXPathRegisterNs(ctxt.get(), x(prefix), x(uri));
    }
    ctxt->node = context;
    XPathCompPtr comp(xmlXPathCtxtCompile(ctxt.get(), x(xpath)));
    if (!comp)
        throw Exception(Msg::XPathInvalid, xpath);
    XPathObjectPtr result(xmlXPathCompiledEval(comp.get(), ctxt.get()));
    if (!result || result->type != XPATH_NODESET || !errors.records.empty())
        throw Exception(Msg::XPathInvalid, xpath);
    return result;
}

std::string qualifiedName(const xmlNode* n) {
    std::string local = str(n->name);
    if (n->ns && n->ns->prefix)
        return str(n->ns->prefix) + ":" + local;
    return local;
}

std::string dump(xmlDoc* doc, xmlNode* node) {
    BufferPtr buffer(xmlBufferCreate());
    if (!buffer)
        throw Exception(Msg::UnexpectedException);
    if (node->type == XML_DOCUMENT_NODE) {
        for (xmlNode* c = node->children; c; c = c->next)
            xmlNodeDump(buffer.get(), doc, c, 0, 0);
    } else {
        xmlNodeDump(buffer.get(), doc, node, 0, 0);
    }
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<size_t>(xmlBufferLength(buffer.get())));
}

// After attaching a created element, reuse the parent's declaration of its prefix when it
// binds the same URI, so that the saved file carries no redundant declarations.
void settleNamespace(xmlDoc* doc, xmlNode* element) {
    xmlNs* own = element->nsDef;
    if (!own || own->next)
        return;
    xmlNode* parent = element->parent;
    if (!parent || parent->type != XML_ELEMENT_NODE)
        return;
    xmlNs* inherited = xmlSearchNs(doc, parent, own->prefix);
    std::string ownHref = str(own->href);
    std::string inheritedHref = inherited ? str(inherited->href) : std::string();
    if (ownHref.empty() ? (inherited == nullptr || inheritedHref.empty())
                        : (inherited && inheritedHref == ownHref)) {
        element->ns = ownHref.empty() ? nullptr : inherited;
        element->nsDef = nullptr;
        xmlFreeNs(own);
    }
}

} // namespace

MsXmlDomNode::MsXmlDomNode(std::shared_ptr<DomState> state, _xmlNode* node)
    : state_(std::move(state)), node_(node) {}

_xmlNode* MsXmlDomNode::require(const char*) const {
    if (!node_ || !state_)
        throw Exception(Msg::NullPointer);
    return node_;
}

std::string MsXmlDomNode::GetName() const {
    xmlNode* n = require();
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
        return qualifiedName(n);
    case XML_TEXT_NODE:
        return "#text";
    case XML_CDATA_SECTION_NODE:
        return "#cdata-section";
    case XML_COMMENT_NODE:
        return "#comment";
    case XML_DOCUMENT_NODE:
        return "#document";
    default:
        return str(n->name);
    }
}

std::string MsXmlDomNode::GetText() const {
    xmlNode* n = require();
    if (n->type == XML_DOCUMENT_NODE) {
        xmlNode* root = xmlDocGetRootElement(state_->doc);
        return root ? take(xmlNodeGetContent(root)) : std::string();
    }
    return take(xmlNodeGetContent(n));
}

void MsXmlDomNode::SetText(const std::string& text) {
    xmlNode* n = require();
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: {
        // The text is literal ("&amp;" stays five characters), and the old children stay
        // valid for wrappers that still refer to them.
        while (xmlNode* old = n->children) {
            xmlUnlinkNode(old);
            state_->adopt(old);
        }
        xmlNode* t = xmlNewDocText(state_->doc, x(text));
        if (!t || !xmlAddChild(n, t))
            throw Exception(Msg::UnexpectedException);
        break;
    }
    case XML_DOCUMENT_NODE:
        throw Exception(Msg::UnexpectedException);
    default:
        xmlNodeSetContent(n, x(text));
        break;
    }
}

std::string MsXmlDomNode::GetXml() const {
    xmlNode* n = require();
    return dump(state_->doc, n);
}

std::shared_ptr<MsXmlDomNode> MsXmlDomNode::GetParent() const {
    xmlNode* n = require();
    if (n->type == XML_ATTRIBUTE_NODE || !n->parent)
        return nullptr;
    return std::make_shared<MsXmlDomNode>(state_, n->parent);
}

std::shared_ptr<MsXmlDomNode> MsXmlDomNode::GetFirstChild() const {
    xmlNode* n = require();
    if (!n->children)
        return nullptr;
    if (n->children->type == XML_ELEMENT_NODE)
        return std::make_shared<MsXmlDomElement>(state_, n->children);
    return std::make_shared<MsXmlDomNode>(state_, n->children);
}

bool MsXmlDomNode::HasChildNodes() const {
    return require()->children != nullptr;
}

std::shared_ptr<MsXmlDomNode> MsXmlDomNode::RemoveChild(const MsXmlDomNode& child) {
    xmlNode* n = require();
    xmlNode* c = child.require();
    if (c->parent != n || c->type == XML_ATTRIBUTE_NODE)
        throw Exception(Msg::UnexpectedException);
    xmlUnlinkNode(c);
    state_->adopt(c);
    if (c->type == XML_ELEMENT_NODE)
        return std::make_shared<MsXmlDomElement>(state_, c);
    return std::make_shared<MsXmlDomNode>(state_, c);
}

std::shared_ptr<MsXmlDomNode> MsXmlDomNode::SelectSingleNode(const std::string& xpath) const {
    xmlNode* n = require();
    XPathObjectPtr result = evaluate(*state_, n, xpath);
    if (result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlNode* found = result->nodesetval->nodeTab[i];
            if (!isTreeNode(found))
                continue;
            if (found->type == XML_ELEMENT_NODE)
                return std::make_shared<MsXmlDomElement>(state_, found);
            return std::make_shared<MsXmlDomNode>(state_, found);
        }
    }
    return nullptr;
}

std::shared_ptr<MsXmlDomNodeList> MsXmlDomNode::SelectNodes(const std::string& xpath) const {
    xmlNode* n = require();
    XPathObjectPtr result = evaluate(*state_, n, xpath);
    std::vector<xmlNode*> nodes;
    if (result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            if (isTreeNode(result->nodesetval->nodeTab[i]))
                nodes.push_back(result->nodesetval->nodeTab[i]);
        }
    }
    return std::make_shared<MsXmlDomNodeList>(state_, std::move(nodes));
}

std::shared_ptr<MsXmlDomElement> MsXmlDomNode::CreateElement(const std::string& name,
                                                             const std::string& namespaceUri) const {
    require();
    std::string prefix;
    std::string local = name;
    if (auto colon = name.find(':'); colon != std::string::npos) {
        prefix = name.substr(0, colon);
        local = name.substr(colon + 1);
    }
    if (local.empty() || xmlValidateNCName(x(local), 0) != 0 ||
        (!prefix.empty() && xmlValidateNCName(x(prefix), 0)))
        throw Exception(formatMessageId(Msg::InvalidElementName, {name}));
    xmlNode* element = xmlNewDocNode(state_->doc, nullptr, x(local), nullptr);
    if (!element)
        throw Exception(Msg::UnexpectedException);
    state_->adopt(element);
    if (namespaceUri.empty() && !prefix.empty())
        throw Exception(formatMessageId(Msg::InvalidElementNamespace, {name}));
    if (!namespaceUri.empty()) {
        xmlNs* ns = xmlNewNs(element, x(namespaceUri), prefix.empty() ? nullptr : x(prefix));
        if (!ns)
            throw Exception(formatMessageId(Msg::InvalidElementNamespace, {name}));
        element->ns = ns;
    } else {
        // An element in no namespace must not fall into its future parent's default namespace.
        element->nsDef = xmlNewNs(nullptr, x(""), nullptr);
    }
    return std::make_shared<MsXmlDomElement>(state_, element);
}

std::shared_ptr<MsXmlDomElement> MsXmlDomElement::SelectSingleElement(const std::string& xpath) const {
    auto node = SelectSingleNode(xpath);
    if (!node || node->raw()->type != XML_ELEMENT_NODE)
        return nullptr;
    return std::static_pointer_cast<MsXmlDomElement>(node);
}

std::string MsXmlDomElement::GetAttribute(const std::string& name) const {
    xmlNode* n = require();
    if (n->type != XML_ELEMENT_NODE)
        throw Exception(Msg::NullPointer);
    for (xmlAttr* a = n->properties; a; a = a->next) {
        if (qualifiedName(reinterpret_cast<xmlNode*>(a)) == name)
            return take(xmlNodeGetContent(reinterpret_cast<xmlNode*>(a)));
    }
    return {};
}

void MsXmlDomElement::SetAttribute(const std::string& name, const std::string& value) {
    xmlNode* n = require();
    if (n->type != XML_ELEMENT_NODE)
        throw Exception(Msg::NullPointer);
    for (xmlAttr* a = n->properties; a; a = a->next) {
        if (qualifiedName(reinterpret_cast<xmlNode*>(a)) == name) {
            xmlSetNsProp(n, a->ns, a->name, x(value));
            return;
        }
    }
    std::string prefix;
    std::string local = name;
    if (auto colon = name.find(':'); colon != std::string::npos) {
        prefix = name.substr(0, colon);
        local = name.substr(colon + 1);
    }
    if (local.empty() || xmlValidateNCName(x(local), 0) != 0)
        throw Exception(formatMessageId(Msg::InvalidAttributeName, {name}));
    xmlNs* ns = nullptr;
    if (!prefix.empty()) {
        ns = xmlSearchNs(state_->doc, n, x(prefix));
        if (!ns)
            throw Exception(formatMessageId(Msg::UndeclaredAttributePrefix, {name}));
    }
    if (!xmlSetNsProp(n, ns, x(local), x(value)))
        throw Exception(Msg::UnexpectedException);
}

std::shared_ptr<MsXmlDomElement> MsXmlDomElement::AppendChildElement(const std::string& name,
                                                                     const std::string& namespaceUri) {
    xmlNode* n = require();
    auto element = CreateElement(name, namespaceUri);
    if (!xmlAddChild(n, element->raw()))
        throw Exception(Msg::UnexpectedException);
    state_->detached.erase(element->raw());
    settleNamespace(state_->doc, element->raw());
    return element;
}

std::shared_ptr<MsXmlDomElement> MsXmlDomElement::InsertChildElementBefore(const std::string& name,
                                                                           const std::string& namespaceUri,
                                                                           const MsXmlDomNode& reference) {
    xmlNode* n = require();
    xmlNode* ref = reference.raw();
    if (!ref)
        return AppendChildElement(name, namespaceUri);
    if (ref->parent != n)
        throw Exception(Msg::UnexpectedException);
    auto element = CreateElement(name, namespaceUri);
    if (!xmlAddPrevSibling(ref, element->raw()))
        throw Exception(Msg::UnexpectedException);
    state_->detached.erase(element->raw());
    settleNamespace(state_->doc, element->raw());
    return element;
}

MsXmlDomNodeList::MsXmlDomNodeList(std::shared_ptr<DomState> state, std::vector<_xmlNode*> nodes)
    : state_(std::move(state)), nodes_(std::move(nodes)) {}

std::shared_ptr<MsXmlDomNode> MsXmlDomNodeList::GetItem(int index) const {
    if (index < 0 || index >= GetLength())
        return nullptr;
    xmlNode* n = nodes_[static_cast<size_t>(index)];
    if (n->type == XML_ELEMENT_NODE)
        return std::make_shared<MsXmlDomElement>(state_, n);
    return std::make_shared<MsXmlDomNode>(state_, n);
}

} // namespace quendle
