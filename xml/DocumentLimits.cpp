#include "xml/DocumentLimits.h"

#include "xml/XmlLibrary.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>

#include <unordered_map>

namespace quendle::xmllib {

namespace {

class Limits {
  public:
    explicit Limits(std::vector<XmlParseErrorRecord>& refusals) : refusals_(refusals) {}

    // Walks elements and attribute values without recursion: nesting depth is the attacker's.
    bool check(xmlNode* root) {
        std::vector<xmlNode*> pending{root};
        while (!pending.empty()) {
            xmlNode* n = pending.back();
            pending.pop_back();
            if (n->type == XML_ENTITY_REF_NODE) {
                total_ += expansion(reinterpret_cast<xmlEntity*>(n->children), 0);
                if (total_ > MaxEntityExpansion)
                    return refuse("Entity references expand to more than " +
                                      std::to_string(MaxEntityExpansion) + " bytes.",
                                  n);
                references_.push_back(n);
                continue;
            }
            if (n->type == XML_ELEMENT_NODE) {
                uint64_t count = 0;
                for (xmlAttr* a = n->properties; a; a = a->next) {
                    if (++count > MaxAttributesPerElement)
                        return refuse(attributeLimitText(str(n->name)), n);
                    for (xmlNode* c = a->children; c; c = c->next)
                        pending.push_back(c);
                }
            }
            if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) {
                for (xmlNode* c = n->children; c; c = c->next)
                    pending.push_back(c);
            }
        }
        return true;
    }

    // Every checked reference becomes its text: the parts of a package hold no markup in
    // entities, and text is what an edit reads and what a strict reader accepts again.
    void inlineReferences(xmlDoc* doc) {
        for (xmlNode* ref : references_) {
            std::string text = take(xmlNodeGetContent(ref));
            xmlNode* replacement = xmlNewDocTextLen(doc, x(text), static_cast<int>(text.size()));
            if (replacement) {
                xmlReplaceNode(ref, replacement);
                xmlFreeNode(ref);
            }
        }
        if (xmlDtd* dtd = doc->intSubset) {
            xmlUnlinkNode(reinterpret_cast<xmlNode*>(dtd));
            doc->intSubset = nullptr;
            xmlFreeDtd(dtd);
        }
    }

  private:
    // The bytes an entity expands to, counted (not built) and remembered per entity.
    uint64_t expansion(xmlEntity* entity, int depth) {
        if (!entity || depth > 40)
            return MaxEntityExpansion + 1;
        if (auto it = sizes_.find(entity); it != sizes_.end())
            return it->second;
        uint64_t size = 0;
        if (entity->children) {
            std::vector<xmlNode*> pending;
            for (xmlNode* c = entity->children; c; c = c->next)
                pending.push_back(c);
            while (!pending.empty() && size <= MaxEntityExpansion) {
                xmlNode* n = pending.back();
                pending.pop_back();
                if (n->type == XML_ENTITY_REF_NODE)
                    size += expansion(reinterpret_cast<xmlEntity*>(n->children), depth + 1);
                else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE)
                    size += static_cast<uint64_t>(xmlStrlen(n->content));
                else if (n->type == XML_ELEMENT_NODE)
                    for (xmlNode* c = n->children; c; c = c->next)
                        pending.push_back(c);
            }
        } else if (entity->content) {
            size = static_cast<uint64_t>(entity->length);
        }
        sizes_.emplace(entity, size);
        return size;
    }

    bool refuse(std::string why, xmlNode* at) {
        refusals_.push_back({std::move(why), {}, static_cast<int>(xmlGetLineNo(at))});
        return false;
    }

    std::vector<XmlParseErrorRecord>& refusals_;
    std::unordered_map<xmlEntity*, uint64_t> sizes_;
    std::vector<xmlNode*> references_;
    uint64_t total_ = 0;
};

} // namespace

std::string attributeLimitText(const std::string& element) {
    return "Element \"" + element + "\" has more than " + std::to_string(MaxAttributesPerElement) +
           " attributes.";
}

bool scannableEncoding(std::string_view head) {
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF"))
        return false;
    return head.substr(0, 4).find('\0') == std::string_view::npos;
}

bool StartTagScanner::feed(const char* bytes, size_t length) {
    auto ends = [&](std::string_view tail) {
        return recent_.size() >= tail.size() && std::string_view(recent_).ends_with(tail);
    };
    auto remember = [&](char c) {
        recent_ += c;
        if (recent_.size() > 16)
            recent_.erase(0, recent_.size() - 9);
    };
    for (size_t i = 0; i < length; ++i) {
        char c = bytes[i];
        if (c == '\n')
            ++line_;
        switch (state_) {
        case State::Text:
            if (c == '<')
                state_ = State::Open;
            break;
        case State::Open:
            recent_.clear();
            if (c == '/') {
                state_ = State::EndTag;
            } else if (c == '?') {
                state_ = State::Instruction;
            } else if (c == '!') {
                recent_ = "<!";
                state_ = State::Declaration;
                depth_ = 0;
                quote_ = 0;
            } else {
                name_.assign(1, c);
                count_ = 0;
                state_ = State::TagName;
            }
            break;
        case State::TagName:
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/') {
                state_ = c == '>' ? State::Text : State::Tag;
            } else if (name_.size() < 100) {
                name_ += c;
            }
            break;
        case State::Tag:
            if (c == '"' || c == '\'') {
                quote_ = c;
                state_ = State::Quoted;
            } else if (c == '=') {
                if (++count_ > MaxAttributesPerElement)
                    return false;
            } else if (c == '>') {
                state_ = State::Text;
            }
            break;
        case State::Quoted:
            if (c == quote_)
                state_ = State::Tag;
            break;
        case State::EndTag:
            if (c == '>')
                state_ = State::Text;
            break;
        case State::Instruction:
            remember(c);
            if (ends("?>"))
                state_ = State::Text;
            break;
        case State::Comment:
            remember(c);
            if (ends("-->"))
                state_ = State::Text;
            break;
        case State::CData:
            remember(c);
            if (ends("]]>"))
                state_ = State::Text;
            break;
        case State::Declaration:
            // A comment, a CDATA section or a DOCTYPE with its internal subset: no start tag
            // inside, only its end matters.
            remember(c);
            if (ends("<!--")) {
                state_ = State::Comment;
                recent_.clear();
            } else if (ends("<![CDATA[") && depth_ == 0) {
                state_ = State::CData;
                recent_.clear();
            } else if (quote_) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '"' || c == '\'') {
                quote_ = c;
            } else if (c == '[' && !ends("<![")) {
                ++depth_;
            } else if (c == ']' && depth_ > 0) {
                --depth_;
            } else if (c == '>' && depth_ == 0) {
                state_ = State::Text;
            }
            break;
        }
    }
    return true;
}

AttributeGuard::AttributeGuard(xmlParserCtxt* ctxt) : ctxt_(ctxt), previousPrivate_(ctxt->_private) {
    ctxt->_private = this;
    ctxt->sax->startElementNs = &AttributeGuard::startElement;
}

AttributeGuard::~AttributeGuard() {
    ctxt_->sax->startElementNs = xmlSAX2StartElementNs;
    ctxt_->_private = previousPrivate_;
}

void AttributeGuard::startElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                  const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                                  int attributeCount, int defaulted, const xmlChar** attributes) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    auto* self = static_cast<AttributeGuard*>(ctxt->_private);
    // Namespace declarations are attributes too, and are copied and searched the same way.
    if (static_cast<uint64_t>(attributeCount) + static_cast<uint64_t>(namespaceCount) >
        MaxAttributesPerElement) {
        self->refusals_.push_back(
            {attributeLimitText(str(localname)), {}, ctxt->input ? ctxt->input->line : 0});
        xmlStopParser(ctxt);
        return;
    }
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, namespaceCount, namespaces, attributeCount, defaulted,
                          attributes);
}

void enforceDocumentLimits(xmlDoc* doc, std::vector<XmlParseErrorRecord>& refusals) {
    xmlNode* root = xmlDocGetRootElement(doc);
    Limits limits(refusals);
    if (root && !limits.check(root))
        return;
    limits.inlineReferences(doc);
}

} // namespace quendle::xmllib
