#include "xml/XmlTreeDiff.h"

#include "xml/DomState.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

namespace quendle {

using namespace xmllib;

namespace {

using Kind = XmlChange::Kind;

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The element's own text: its text and CDATA children, not those of its child elements.
std::string ownText(const xmlNode* n) {
    std::string text;
    for (const xmlNode* c = n->children; c; c = c->next)
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
            text += str(c->content);
    return trimmed(text);
}

std::string namespaceOf(const xmlNode* n) {
    return n->ns ? str(n->ns->href) : std::string();
}

bool sameName(const xmlNode* a, const xmlNode* b) {
    return str(a->name) == str(b->name) && namespaceOf(a) == namespaceOf(b);
}

struct Attribute {
    std::string ns, name, value;
    bool operator<(const Attribute& o) const { return std::tie(ns, name) < std::tie(o.ns, o.name); }
};

std::vector<Attribute> attributesOf(const xmlNode* n) {
    std::vector<Attribute> out;
    for (xmlAttr* a = n->properties; a; a = a->next) {
        out.push_back({a->ns ? str(a->ns->href) : std::string(), str(a->name),
                       take(xmlNodeGetContent(reinterpret_cast<xmlNode*>(a)))});
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string xmlOf(xmlNode* n) {
    BufferPtr buffer(xmlBufferCreate());
    if (!buffer || xmlNodeDump(buffer.get(), n->doc, n, 0, 0) < 0)
        return {};
    return str(xmlBufferContent(buffer.get()));
}

std::string summaryOf(const xmlNode* n) {
    std::string out;
    for (xmlAttr* a = n->properties; a; a = a->next) {
        std::string prefix = a->ns && a->ns->prefix ? str(a->ns->prefix) + ":" : std::string();
        out += (out.empty() ? "" : " ") + prefix + str(a->name) + "=\"" +
               take(xmlNodeGetContent(reinterpret_cast<xmlNode*>(a))) + "\"";
    }
    std::string text = ownText(n);
    if (out.empty() && !text.empty())
        out = "\"" + text + "\"";
    return out;
}

class Differ {
  public:
    Differ(const std::string& prefix, const XmlTreeDiff::Skip& skip) : prefix_(prefix), skip_(skip) {}

    std::vector<XmlChange> changes;

    std::vector<xmlNode*> children(const xmlNode* n) const {
        std::vector<xmlNode*> out;
        for (xmlNode* c = n->children; c; c = c->next)
            if (c->type == XML_ELEMENT_NODE && !(skip_ && skip_(str(c->name), str(n->name))))
                out.push_back(c);
        return out;
    }

    // The location step of an element: prefixed name, and its position when it has same-named
    // siblings. Prefixes are those the XML commands bind: the root element's declarations, its
    // default namespace under the part's prefix.
    std::string step(const xmlNode* n) {
        std::string name = prefixFor(n->doc, n->ns) + str(n->name);
        if (!n->parent || n->parent->type != XML_ELEMENT_NODE)
            return name;
        auto [place, fresh] = positions_.try_emplace(n);
        if (fresh) {
            // Every sibling's place at once: a long list of children is walked once, not once per child.
            std::map<std::pair<std::string, std::string>, std::vector<const xmlNode*>> byName;
            for (const xmlNode* c = n->parent->children; c; c = c->next)
                if (c->type == XML_ELEMENT_NODE)
                    byName[{namespaceOf(c), str(c->name)}].push_back(c);
            for (const auto& [key, list] : byName)
                for (size_t i = 0; i < list.size(); ++i)
                    positions_[list[i]] = list.size() > 1 ? i + 1 : 0;
            place = positions_.find(n);
        }
        return place->second ? name + "[" + std::to_string(place->second) + "]" : name;
    }

    std::string prefixFor(xmlDoc* doc, const xmlNs* ns) {
        if (!ns)
            return {};
        auto& bound = prefixes_[doc];
        if (bound.empty()) {
            bound[""] = "";
            if (xmlNode* root = xmlDocGetRootElement(doc))
                for (const xmlNs* d = root->nsDef; d; d = d->next)
                    bound.emplace(str(d->href), d->prefix ? str(d->prefix) : prefix_);
        }
        auto found = bound.find(str(ns->href));
        std::string prefix = found != bound.end() ? found->second
                             : ns->prefix         ? str(ns->prefix)
                                                  : std::string();
        return prefix.empty() ? prefix : prefix + ":";
    }

    std::string attributeName(const xmlNode* element, const Attribute& a) {
        for (const xmlAttr* at = element->properties; at; at = at->next)
            if (at->ns && str(at->name) == a.name && str(at->ns->href) == a.ns)
                return prefixFor(element->doc, at->ns) + a.name;
        return a.name;
    }

    size_t hashOf(xmlNode* n) {
        auto found = hashes_.find(n);
        if (found != hashes_.end())
            return found->second;
        std::string key = namespaceOf(n) + '\x01' + str(n->name) + '\x01';
        for (const Attribute& a : attributesOf(n))
            key += a.ns + '\x02' + a.name + '\x02' + a.value + '\x01';
        key += ownText(n) + '\x01';
        for (xmlNode* c : children(n)) {
            size_t h = hashOf(c);
            key.append(reinterpret_cast<const char*>(&h), sizeof h);
        }
        return hashes_[n] = std::hash<std::string>()(key);
    }

    void element(Kind kind, xmlNode* n, const std::string& path, int depth) {
        XmlChange c{kind, path, str(n->name), {}, depth, {}, {}, summaryOf(n)};
        (kind == Kind::ElementAdded ? c.newValue : c.oldValue) = xmlOf(n);
        changes.push_back(std::move(c));
    }

    void compare(xmlNode* a, xmlNode* b, const std::string& pathA, const std::string& pathB, int depth) {
        if (hashOf(a) == hashOf(b))
            return;
        std::vector<Attribute> before = attributesOf(a), after = attributesOf(b);
        auto i = before.begin(), j = after.begin();
        auto attribute = [&](Kind kind, const Attribute& at, const std::string& path, std::string old,
                             std::string now) {
            changes.push_back({kind,
                               path + "/@" + attributeName(kind == Kind::AttributeRemoved ? a : b, at),
                               str(a->name),
                               at.name,
                               depth,
                               std::move(old),
                               std::move(now),
                               {}});
        };
        while (i != before.end() || j != after.end()) {
            if (j == after.end() || (i != before.end() && *i < *j)) {
                attribute(Kind::AttributeRemoved, *i, pathA, i->value, {});
                ++i;
            } else if (i == before.end() || *j < *i) {
                attribute(Kind::AttributeAdded, *j, pathB, {}, j->value);
                ++j;
            } else {
                if (i->value != j->value)
                    attribute(Kind::AttributeChanged, *j, pathB, i->value, j->value);
                ++i, ++j;
            }
        }
        std::string textA = ownText(a), textB = ownText(b);
        if (textA != textB)
            changes.push_back({Kind::TextChanged, pathB, str(b->name), {}, depth, textA, textB, {}});
        compareChildren(children(a), children(b), pathA, pathB, depth + 1);
    }

  private:
    // Pairs of positions of equal subtrees, in order: the longest common subsequence where the
    // lists are small enough for it, otherwise the earliest equal subtree further on.
    std::vector<std::pair<size_t, size_t>> anchors(const std::vector<xmlNode*>& a,
                                                   const std::vector<xmlNode*>& b) {
        std::vector<size_t> ha, hb;
        for (xmlNode* n : a)
            ha.push_back(hashOf(n));
        for (xmlNode* n : b)
            hb.push_back(hashOf(n));
        std::vector<std::pair<size_t, size_t>> out;
        size_t head = 0, tailA = a.size(), tailB = b.size();
        while (head < a.size() && head < b.size() && ha[head] == hb[head])
            out.emplace_back(head, head), ++head;
        std::vector<std::pair<size_t, size_t>> tail;
        while (tailA > head && tailB > head && ha[tailA - 1] == hb[tailB - 1])
            tail.emplace_back(--tailA, --tailB);
        const size_t n = tailA - head, m = tailB - head;
        if (n * m <= 1000000) {
            std::vector<uint32_t> table((n + 1) * (m + 1), 0);
            auto at = [&](size_t i, size_t j) -> uint32_t& { return table[i * (m + 1) + j]; };
            for (size_t i = n; i-- > 0;)
                for (size_t j = m; j-- > 0;)
                    at(i, j) = ha[head + i] == hb[head + j] ? at(i + 1, j + 1) + 1
                                                            : std::max(at(i + 1, j), at(i, j + 1));
            for (size_t i = 0, j = 0; i < n && j < m;) {
                if (ha[head + i] == hb[head + j])
                    out.emplace_back(head + i++, head + j++);
                else if (at(i + 1, j) >= at(i, j + 1))
                    ++i;
                else
                    ++j;
            }
        } else {
            std::unordered_map<size_t, std::vector<size_t>> positions;
            for (size_t j = tailB; j-- > head;)
                positions[hb[j]].push_back(j);
            size_t next = head;
            for (size_t i = head; i < tailA; ++i) {
                auto& list = positions[ha[i]];
                while (!list.empty() && list.back() < next)
                    list.pop_back();
                if (!list.empty())
                    out.emplace_back(i, list.back()), next = list.back() + 1, list.pop_back();
            }
        }
        out.insert(out.end(), tail.rbegin(), tail.rend());
        return out;
    }

    void compareChildren(const std::vector<xmlNode*>& a, const std::vector<xmlNode*>& b,
                         const std::string& pathA, const std::string& pathB, int depth) {
        std::vector<std::pair<size_t, size_t>> matched = anchors(a, b);
        matched.emplace_back(a.size(), b.size());
        size_t fromA = 0, fromB = 0;
        for (auto [toA, toB] : matched) {
            gap(std::vector<xmlNode*>(a.begin() + fromA, a.begin() + toA),
                std::vector<xmlNode*>(b.begin() + fromB, b.begin() + toB), pathA, pathB, depth);
            fromA = toA + 1, fromB = toB + 1;
        }
    }

    // Children between two matches: each old one is paired with the new one of its name that
    // shares most attribute values with it; what stays unpaired was removed or added.
    void gap(const std::vector<xmlNode*>& a, const std::vector<xmlNode*>& b, const std::string& pathA,
             const std::string& pathB, int depth) {
        std::vector<bool> taken(b.size(), false);
        std::vector<std::pair<xmlNode*, xmlNode*>> pairs;
        // Beyond this many candidates, elements are paired in order of their names alone.
        const bool quick = a.size() * b.size() > 250000;
        std::map<std::pair<std::string, std::string>, size_t> nextOfName;
        for (xmlNode* old : a) {
            std::vector<Attribute> attributes = attributesOf(old);
            size_t best = b.size(), bestScore = 0;
            size_t& from = nextOfName[{namespaceOf(old), str(old->name)}];
            for (size_t j = quick ? from : 0; j < b.size(); ++j) {
                if (taken[j] || !sameName(old, b[j]))
                    continue;
                if (quick) {
                    best = j, from = j + 1;
                    break;
                }
                std::vector<Attribute> other = attributesOf(b[j]);
                size_t score = 1;
                for (const Attribute& x : attributes)
                    score += std::any_of(other.begin(), other.end(), [&](const Attribute& y) {
                        return x.ns == y.ns && x.name == y.name && x.value == y.value;
                    });
                if (score > bestScore)
                    best = j, bestScore = score;
            }
            if (best == b.size()) {
                element(Kind::ElementRemoved, old, pathA + "/" + step(old), depth);
                continue;
            }
            taken[best] = true;
            pairs.emplace_back(old, b[best]);
        }
        for (auto [old, now] : pairs)
            compare(old, now, pathA + "/" + step(old), pathB + "/" + step(now), depth);
        for (size_t j = 0; j < b.size(); ++j)
            if (!taken[j])
                element(Kind::ElementAdded, b[j], pathB + "/" + step(b[j]), depth);
    }

    const std::string& prefix_;
    const XmlTreeDiff::Skip& skip_;
    std::unordered_map<const xmlNode*, size_t> hashes_;
    std::unordered_map<const xmlDoc*, std::unordered_map<std::string, std::string>> prefixes_;
    std::unordered_map<const xmlNode*, size_t> positions_; // among same-named siblings; 0 for an only one
};

xmlNode* rootOf(const MsXmlDomDocument* document) {
    if (!document)
        return nullptr;
    auto root = document->GetDocumentElement();
    return root ? root->raw() : nullptr;
}

} // namespace

const char* XmlChange::kindName(Kind kind) {
    switch (kind) {
    case Kind::ElementAdded:
        return "elementAdded";
    case Kind::ElementRemoved:
        return "elementRemoved";
    case Kind::AttributeAdded:
        return "attributeAdded";
    case Kind::AttributeRemoved:
        return "attributeRemoved";
    case Kind::AttributeChanged:
        return "attributeChanged";
    case Kind::TextChanged:
        break;
    }
    return "textChanged";
}

std::vector<XmlChange> XmlTreeDiff::compare(const MsXmlDomDocument* before, const MsXmlDomDocument* after,
                                            const std::string& defaultPrefix, const Skip& skip) {
    Differ differ(defaultPrefix, skip);
    xmlNode* a = rootOf(before);
    xmlNode* b = rootOf(after);
    if (a && b && sameName(a, b)) {
        differ.compare(a, b, "/" + differ.step(a), "/" + differ.step(b), 0);
    } else {
        if (a)
            differ.element(Kind::ElementRemoved, a, "/" + differ.step(a), 0);
        if (b)
            differ.element(Kind::ElementAdded, b, "/" + differ.step(b), 0);
    }
    return std::move(differ.changes);
}

} // namespace quendle
