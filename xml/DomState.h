#pragma once
#include "xml/XmlLibrary.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quendle {

// The libxml2 document behind a document wrapper and every node taken from it.
class DomState {
  public:
    explicit DomState(xmlDoc* doc) : doc(doc) {}
    ~DomState();
    DomState(const DomState&) = delete;
    DomState& operator=(const DomState&) = delete;

    // A node removed from the tree or created and not yet attached: freed with the document.
    void adopt(xmlNode* node) { detached.insert(node); }

    xmlDoc* doc;
    std::vector<std::pair<std::string, std::string>> selectionNamespaces; // prefix, URI
    std::unordered_set<xmlNode*> detached;
};

// Parses "xmlns:a='uri' xmlns:b=\"uri\"" as the SelectionNamespaces property gives it.
std::vector<std::pair<std::string, std::string>> parseSelectionNamespaces(const std::string& text);

} // namespace quendle
