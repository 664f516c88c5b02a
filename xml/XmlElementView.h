#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;

namespace quendle {

class DomState;
class MsXmlDomNode;

// A read-only view of one element of a loaded document, for code that walks a part's tree
// by local names and namespace URIs rather than through XPath prefixes. It keeps its document
// alive. An empty view (no element) answers empty texts and has no children.
class XmlElementView {
  public:
    XmlElementView() = default;
    // The document element of the node's document.
    static XmlElementView rootOf(const MsXmlDomNode& node);

    bool empty() const { return node_ == nullptr; }
    std::string localName() const;
    std::string namespaceUri() const;
    bool is(std::string_view localName) const { return !empty() && localName == this->localName(); }
    // The attribute without namespace, or the one in namespace `ns`; "" when absent.
    std::string attribute(const char* name) const;
    std::string attribute(const char* name, const std::string& ns) const;
    // All text below the element.
    std::string text() const;
    // Child elements in document order; with a name, only those of that local name.
    std::vector<XmlElementView> children(std::string_view localName = {}) const;
    // The first child element of that local name, or an empty view.
    XmlElementView child(std::string_view localName) const;
    // The namespace URIs declared on this element.
    std::vector<std::string> declaredNamespaces() const;

    struct Attribute {
        std::string name, namespaceUri, value;
    };
    // The element's attributes in document order (namespace declarations are not attributes).
    std::vector<Attribute> attributes() const;
    // True when the element holds no child elements (its text is then all it carries).
    bool isLeaf() const;

  private:
    XmlElementView(std::shared_ptr<DomState> state, _xmlNode* node) : state_(std::move(state)), node_(node) {}

    std::shared_ptr<DomState> state_;
    _xmlNode* node_ = nullptr;
};

} // namespace quendle
