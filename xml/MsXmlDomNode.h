#pragma once
#include <memory>
#include <string>
#include <vector>

struct _xmlNode;

namespace quendle {

class DomState;
class MsXmlDomElement;
class MsXmlDomNodeList;

// One node of a loaded document. An empty node (no DOM object) throws 65022 on every use.
// A node keeps its document alive, so it stays valid after the document wrapper is gone.
class MsXmlDomNode {
  public:
    MsXmlDomNode() = default;
    MsXmlDomNode(std::shared_ptr<DomState> state, _xmlNode* node);
    virtual ~MsXmlDomNode() = default;

    bool IsEmpty() const { return node_ == nullptr; }

    std::string GetName() const; // qualified name, "appv:Name"; "#text", "#document" ...
    std::string GetText() const;
    void SetText(const std::string& text);
    std::string GetXml() const;
    std::shared_ptr<MsXmlDomNode> GetParent() const;     // none: nullptr
    std::shared_ptr<MsXmlDomNode> GetFirstChild() const; // none: nullptr
    bool HasChildNodes() const;
    std::shared_ptr<MsXmlDomNode> RemoveChild(const MsXmlDomNode& child);
    // XPath 1.0 with the document's selection namespaces; a rejected expression throws 65024.
    std::shared_ptr<MsXmlDomNode> SelectSingleNode(const std::string& xpath) const; // none: nullptr
    std::shared_ptr<MsXmlDomNodeList> SelectNodes(const std::string& xpath) const;  // never nullptr
    // A new element of the same document, not attached anywhere yet. The name may carry a
    // prefix; an empty namespace URI creates an element in no namespace.
    std::shared_ptr<MsXmlDomElement> CreateElement(const std::string& name,
                                                   const std::string& namespaceUri) const;

    _xmlNode* raw() const { return node_; }
    const std::shared_ptr<DomState>& state() const { return state_; }

  protected:
    _xmlNode* require(const char* = nullptr) const;
    std::shared_ptr<DomState> state_;
    _xmlNode* node_ = nullptr;
};

class MsXmlDomElement : public MsXmlDomNode {
  public:
    using MsXmlDomNode::MsXmlDomNode;

    // The first match when it is an element; nullptr otherwise.
    std::shared_ptr<MsXmlDomElement> SelectSingleElement(const std::string& xpath) const;
    // By qualified name as written ("Version", "appv:PackageId"); absent gives "".
    std::string GetAttribute(const std::string& name) const;
    void SetAttribute(const std::string& name, const std::string& value);
    std::shared_ptr<MsXmlDomElement> AppendChildElement(const std::string& name,
                                                        const std::string& namespaceUri);
    std::shared_ptr<MsXmlDomElement> InsertChildElementBefore(const std::string& name,
                                                              const std::string& namespaceUri,
                                                              const MsXmlDomNode& reference);
};

class MsXmlDomNodeList {
  public:
    MsXmlDomNodeList(std::shared_ptr<DomState> state, std::vector<_xmlNode*> nodes);
    int GetLength() const { return static_cast<int>(nodes_.size()); }
    std::shared_ptr<MsXmlDomNode> GetItem(int index) const; // past the end: nullptr

  private:
    std::shared_ptr<DomState> state_;
    std::vector<_xmlNode*> nodes_;
};

} // namespace quendle
