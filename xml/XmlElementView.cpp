#include "xml/XmlElementView.h"

#include "xml/DomState.h"
#include "xml/MsXmlDomNode.h"

namespace quendle {

using namespace xmllib;

namespace {

std::string owned(xmlChar* value) {
    std::string out = str(value);
    xmlFree(value);
    return out;
}

const xmlChar* xmlText(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

} // namespace

XmlElementView XmlElementView::rootOf(const MsXmlDomNode& node) {
    const auto& state = node.state();
    xmlNode* root = state && state->doc ? xmlDocGetRootElement(state->doc) : nullptr;
    return XmlElementView(state, root);
}

std::string XmlElementView::localName() const {
    return node_ ? str(node_->name) : std::string();
}

std::string XmlElementView::namespaceUri() const {
    return node_ && node_->ns ? str(node_->ns->href) : std::string();
}

std::string XmlElementView::attribute(const char* name) const {
    return node_ ? owned(xmlGetNoNsProp(node_, xmlText(name))) : std::string();
}

std::string XmlElementView::attribute(const char* name, const std::string& ns) const {
    return node_ ? owned(xmlGetNsProp(node_, xmlText(name), xmlText(ns.c_str()))) : std::string();
}

std::string XmlElementView::text() const {
    return node_ ? owned(xmlNodeGetContent(node_)) : std::string();
}

std::vector<XmlElementView> XmlElementView::children(std::string_view localName) const {
    std::vector<XmlElementView> out;
    for (xmlNode* c = node_ ? node_->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && (localName.empty() || localName == str(c->name)))
            out.push_back(XmlElementView(state_, c));
    return out;
}

XmlElementView XmlElementView::child(std::string_view localName) const {
    for (xmlNode* c = node_ ? node_->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && localName == str(c->name))
            return XmlElementView(state_, c);
    return XmlElementView(state_, nullptr);
}

std::vector<std::string> XmlElementView::declaredNamespaces() const {
    std::vector<std::string> out;
    for (xmlNs* ns = node_ ? node_->nsDef : nullptr; ns; ns = ns->next)
        out.push_back(str(ns->href));
    return out;
}

std::vector<XmlElementView::Attribute> XmlElementView::attributes() const {
    std::vector<Attribute> out;
    for (xmlAttr* a = node_ ? node_->properties : nullptr; a; a = a->next)
        out.push_back({str(a->name), a->ns ? str(a->ns->href) : std::string(),
                       owned(xmlNodeListGetString(node_->doc, a->children, 1))});
    return out;
}

bool XmlElementView::isLeaf() const {
    for (xmlNode* c = node_ ? node_->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            return false;
    return true;
}

} // namespace quendle
