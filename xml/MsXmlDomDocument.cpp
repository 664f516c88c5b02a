#include "xml/MsXmlDomDocument.h"

#include "os/FileSystem.h"
#include "os/SystemError.h"
#include "os/FileHandle.h"
#include "resources/EmbeddedResource.h"
#include "xml/DocumentLimits.h"
#include "xml/DomState.h"
#include "xml/MsXmlSchemaCollection.h"

#include <libxml/encoding.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <algorithm>

namespace quendle {

using namespace xmllib;

namespace {

constexpr uint32_t ResourceNameNotFound = 1814;

struct ParserCtxtFree {
    void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};
struct SaveCtxtClose {
    void operator()(xmlSaveCtxt* c) const { xmlSaveClose(c); }
};

// Whether a document saved in `encoding` can be read again: its first bytes must let a parser
// recognise the encoding. UTF-7 cannot: it writes "<" as "+ADw-", so a part declared UTF-7 would
// be saved unreadable; such a part is written back in UTF-8 instead.
bool readsBackIn(const std::string& encoding) {
    xmlCharEncodingHandler* handler = xmlFindCharEncodingHandler(encoding.c_str());
    if (!handler)
        return false;
    BufferPtr in(xmlBufferCreate()), out(xmlBufferCreate());
    int written = -1;
    if (in && out && xmlBufferCat(in.get(), reinterpret_cast<const xmlChar*>("<?xml")) == 0)
        written = xmlCharEncOutFunc(handler, out.get(), in.get());
    xmlCharEncCloseFunc(handler);
    return written >= 4 && xmlDetectCharEncoding(xmlBufferContent(out.get()), xmlBufferLength(out.get())) !=
                               XML_CHAR_ENCODING_NONE;
}

// Whether the text begins with an XML declaration, in UTF-8 or UTF-16 either way round.
bool startsWithDeclaration(std::string_view bytes) {
    auto matches = [&](std::string_view b, int step, int offset) {
        static const char decl[] = "<?xml";
        for (int i = 0; i < 5; ++i) {
            size_t at = static_cast<size_t>(offset + i * step);
            if (at >= b.size() || b[at] != decl[i])
                return false;
        }
        return true;
    };
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    else if (bytes.starts_with("\xFF\xFE"))
        return matches(bytes.substr(2), 2, 0);
    else if (bytes.starts_with("\xFE\xFF"))
        return matches(bytes.substr(2), 2, 1);
    if (bytes.size() > 1 && bytes[0] == '<' && bytes[1] == '\0')
        return matches(bytes, 2, 0);
    if (bytes.size() > 1 && bytes[0] == '\0' && bytes[1] == '<')
        return matches(bytes, 2, 1);
    return matches(bytes, 1, 0);
}

bool hasStructuralChild(const xmlNode* n) {
    for (const xmlNode* c = n->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE || c->type == XML_COMMENT_NODE || c->type == XML_PI_NODE)
            return true;
    }
    return false;
}

// Indentation is the serializer's job: whitespace-only text between elements is dropped on
// load (as the platform DOM does by default), so saving twice gives the same bytes and new
// elements are indented like their siblings. Text content of leaf elements stays.
void stripIndentation(xmlNode* element) {
    std::vector<xmlNode*> pending{element};
    while (!pending.empty()) {
        xmlNode* n = pending.back();
        pending.pop_back();
        if (xmlNodeGetSpacePreserve(n) == 1)
            continue;
        bool structural = hasStructuralChild(n);
        for (xmlNode* c = n->children; c;) {
            xmlNode* next = c->next;
            if (structural && c->type == XML_TEXT_NODE && xmlIsBlankNode(c)) {
                xmlUnlinkNode(c);
                xmlFreeNode(c);
            } else if (c->type == XML_ELEMENT_NODE) {
                pending.push_back(c);
            }
            c = next;
        }
    }
}

// A package never needs a DTD's external parts; naming one is treated as an attack.
std::vector<XmlParseErrorRecord> externalReferences(xmlDoc* doc) {
    std::vector<XmlParseErrorRecord> found;
    xmlDtd* dtd = doc->intSubset;
    if (!dtd)
        return found;
    if (dtd->SystemID || dtd->ExternalID)
        found.push_back(
            {"External DTD is not allowed: \"" + str(dtd->SystemID ? dtd->SystemID : dtd->ExternalID) + "\".",
             {},
             0});
    for (xmlNode* n = dtd->children; n; n = n->next) {
        if (n->type != XML_ENTITY_DECL)
            continue;
        auto* entity = reinterpret_cast<xmlEntity*>(n);
        if (entity->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY ||
            entity->etype == XML_EXTERNAL_GENERAL_UNPARSED_ENTITY ||
            entity->etype == XML_EXTERNAL_PARAMETER_ENTITY)
            found.push_back(
                {"External entity is not allowed: \"" + str(entity->name) + "\".", str(entity->SystemID), 0});
    }
    return found;
}

std::string serialize(xmlDoc* doc, int options) {
    BufferPtr buffer(xmlBufferCreate());
    if (!buffer)
        throw Exception(Msg::UnexpectedException);
    {
        std::unique_ptr<xmlSaveCtxt, SaveCtxtClose> ctxt(xmlSaveToBuffer(buffer.get(), "UTF-8", options));
        if (!ctxt)
            throw Exception(Msg::UnexpectedException);
        xmlSaveDoc(ctxt.get(), doc);
    }
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<size_t>(xmlBufferLength(buffer.get())));
}

// Where each line of a text begins, so that finding the line of every error stays linear.
std::vector<size_t> lineStarts(const std::string& text) {
    std::vector<size_t> starts{0};
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        starts.push_back(at + 1);
    return starts;
}

// The start of a line (a hostile part puts megabytes and thousands of errors on one line).
std::string lineOf(const std::string& text, const std::vector<size_t>& starts, int line) {
    constexpr size_t MaxSourceText = 400;
    if (line <= 0 || static_cast<size_t>(line) > starts.size())
        return {};
    size_t start = starts[static_cast<size_t>(line) - 1];
    size_t end =
        static_cast<size_t>(line) < starts.size() ? starts[static_cast<size_t>(line)] - 1 : text.size();
    std::string out = text.substr(start, std::min(end - start, MaxSourceText + 1));
    if (!out.empty() && out.back() == '\r')
        out.pop_back();
    return out;
}

// Refuses a part with a start tag over the attribute limit before libxml2 parses it.
void checkStartTags(const std::string& name, std::string_view head,
                    const std::function<bool(StartTagScanner&)>& scan) {
    if (!scannableEncoding(head))
        return;
    StartTagScanner scanner;
    if (!scan(scanner))
        throw XmlParseException(name, std::string(),
                                {{attributeLimitText(scanner.element()), {}, scanner.line()}});
}

// The first bytes of a file, enough to tell whether it begins with a declaration.
std::string fileHead(const FileHandle& fd) {
    char head[16];
    long n = fd.readAt(head, sizeof head, 0);
    return n > 0 ? std::string(head, static_cast<size_t>(n)) : std::string();
}

// libxml2 reads and writes through these, so it never sees what the platform's handle is, and
// reads never depend on a file position shared with anyone else.
struct PositionalReader {
    const FileHandle& file;
    uint64_t at = 0;
    static int read(void* context, char* buffer, int length) {
        auto* self = static_cast<PositionalReader*>(context);
        long n = self->file.readAt(buffer, static_cast<size_t>(length), self->at);
        if (n > 0)
            self->at += static_cast<uint64_t>(n);
        return static_cast<int>(n);
    }
};

int writeToFile(void* context, const char* data, int length) {
    return static_cast<FileHandle*>(context)->writeAll(data, static_cast<size_t>(length)) ? length : -1;
}

} // namespace

MsXmlDomDocument::MsXmlDomDocument(std::string name) : name_(std::move(name)) {
    initialize();
}

MsXmlDomDocument::~MsXmlDomDocument() = default;

void MsXmlDomDocument::Load(const std::string& path) {
    // The parser reads the file in pieces through a callback; the external-entity loader,
    // which refuses everything, is not involved.
    FileHandle fd = FileHandle::openForReading(path);
    if (!fd)
        SystemError::last().raise();
    std::string head = fileHead(fd);
    checkStartTags(name_, head, [&](StartTagScanner& scanner) {
        std::vector<char> buffer(1 << 16);
        for (uint64_t at = 0;;) {
            long n = fd.readAt(buffer.data(), buffer.size(), at);
            if (n <= 0)
                return true;
            if (!scanner.feed(buffer.data(), static_cast<size_t>(n)))
                return false;
            at += static_cast<uint64_t>(n);
        }
    });
    parse(head, [&](xmlParserCtxt* ctxt) {
        PositionalReader reader{fd};
        return xmlCtxtReadIO(ctxt, &PositionalReader::read, nullptr, &reader, path.c_str(), nullptr,
                             ParseOptions);
    });
}

void MsXmlDomDocument::LoadFromResource(int resourceId) {
    const EmbeddedResource* resource = findEmbeddedResource(resourceId);
    if (!resource)
        throw WindowsException(ResourceNameNotFound);
    if (resource->size < 2)
        throw Exception(Msg::UnexpectedException);
    LoadXml(resourceText(*resource), resource->name);
}

void MsXmlDomDocument::LoadXml(std::string_view text) {
    LoadXml(text, name_);
}

void MsXmlDomDocument::LoadXml(std::string_view text, const std::string& url) {
    if (text.size() > static_cast<size_t>(INT32_MAX))
        throw Exception(Msg::XmlParseError, name_);
    checkStartTags(name_, text.substr(0, 16),
                   [&](StartTagScanner& scanner) { return scanner.feed(text.data(), text.size()); });
    parse(text.substr(0, 16), [&](xmlParserCtxt* ctxt) {
        return xmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), url.c_str(), nullptr,
                                 ParseOptions);
    });
}

void MsXmlDomDocument::parse(std::string_view head, const std::function<_xmlDoc*(xmlParserCtxt*)>& read) {
    initialize();
    DocPtr doc;
    std::vector<XmlParseErrorRecord> errors;
    {
        ErrorCollector collector;
        std::unique_ptr<xmlParserCtxt, ParserCtxtFree> ctxt(xmlNewParserCtxt());
        if (!ctxt)
            throw Exception(Msg::UnexpectedException);
        {
            AttributeGuard guard(ctxt.get());
            doc.reset(read(ctxt.get()));
            if (!guard.refusals().empty())
                throw XmlParseException(name_, std::string(), std::move(guard.refusals()));
        }
        errors = std::move(collector.records);
        bool wellFormed = doc && ctxt->wellFormed && ctxt->nsWellFormed && errors.empty();
        if (!wellFormed) {
            if (errors.empty())
                throw Exception(Msg::XmlParseError, name_);
            throw XmlParseException(name_, std::string(), std::move(errors));
        }
    }
    if (auto external = externalReferences(doc.get()); !external.empty())
        throw XmlParseException(name_, std::string(), std::move(external));
    std::vector<XmlParseErrorRecord> refusals;
    enforceDocumentLimits(doc.get(), refusals);
    if (!refusals.empty())
        throw XmlParseException(name_, std::string(), std::move(refusals));
    bool declared = startsWithDeclaration(head);
    if (validateOnParse_ && schemas_) {
        std::vector<XmlParseErrorRecord> invalid;
        schemas_->validateDocument(doc.get(), invalid);
        if (!invalid.empty()) {
            // The text that was parsed, with its lines where the file had them.
            std::string content = serialize(doc.get(), declared ? 0 : XML_SAVE_NO_DECL);
            std::vector<size_t> starts = lineStarts(content);
            for (auto& record : invalid) {
                if (record.sourceText.empty())
                    record.sourceText = lineOf(content, starts, record.line);
            }
            throw XmlParseException(name_, std::move(content), std::move(invalid));
        }
    }
    if (xmlNode* root = xmlDocGetRootElement(doc.get()))
        stripIndentation(root);
    if (declared) {
        if (doc->version)
            version_ = str(doc->version);
        if (doc->encoding && readsBackIn(str(doc->encoding)))
            encoding_ = str(doc->encoding);
        if (doc->standalone >= 0)
            standalone_ = doc->standalone == 1;
    }
    state_ = std::make_shared<DomState>(doc.release());
    for (const auto& [name, value] : properties_) {
        if (name == "SelectionNamespaces")
            state_->selectionNamespaces = parseSelectionNamespaces(value);
    }
}

void MsXmlDomDocument::adopt(_xmlDoc* doc) {
    if (xmlNode* root = xmlDocGetRootElement(doc))
        stripIndentation(root);
    state_ = std::make_shared<DomState>(doc);
}

void MsXmlDomDocument::Save(const std::string& path) const {
    if (!state_)
        throw Exception(Msg::UnexpectedException);
    xmlDoc* doc = state_->doc;
    // The declaration comes from the remembered fields, not from what the parser recorded.
    struct DeclarationScope {
        xmlDoc* doc;
        const xmlChar* version;
        int standalone;
        ~DeclarationScope() {
            xmlFree(const_cast<xmlChar*>(doc->version));
            doc->version = version;
            doc->standalone = standalone;
        }
    } scope{doc, doc->version, doc->standalone};
    doc->version = xmlStrdup(x(version_.empty() ? std::string("1.0") : version_));
    doc->standalone = standalone_ ? 1 : -1;

    FileHandle fd = FileHandle::createOrTruncate(path);
    if (!fd)
        SystemError::last().raise();
    initialize();
    ErrorCollector errors;
    std::unique_ptr<xmlSaveCtxt, SaveCtxtClose> ctxt(
        xmlSaveToIO(&writeToFile, nullptr, &fd, encoding_.empty() ? nullptr : encoding_.c_str(),
                    XML_SAVE_FORMAT | XML_SAVE_AS_XML));
    if (!ctxt)
        throwPlatformError("Unsupported encoding: \"" + encoding_ + "\".");
    long written = xmlSaveDoc(ctxt.get(), doc);
    int closed = xmlSaveClose(ctxt.release());
    if (written < 0 || closed < 0 || !errors.records.empty())
        throwPlatformError(errors.records.empty() ? "Failed to write " + path : errors.text());
    if (!fd.close())
        SystemError::last().raise();
}

std::string MsXmlDomDocument::GetXml() const {
    if (!state_)
        throw Exception(Msg::NullPointer);
    return serialize(state_->doc, XML_SAVE_FORMAT | XML_SAVE_NO_DECL | XML_SAVE_AS_XML);
}

std::shared_ptr<MsXmlDomElement> MsXmlDomDocument::GetDocumentElement() const {
    if (!state_)
        return std::make_shared<MsXmlDomElement>();
    return std::make_shared<MsXmlDomElement>(state_, xmlDocGetRootElement(state_->doc));
}

std::shared_ptr<MsXmlDomNode> MsXmlDomDocument::GetDocumentNode() const {
    if (!state_)
        return std::make_shared<MsXmlDomNode>();
    return std::make_shared<MsXmlDomNode>(state_, reinterpret_cast<xmlNode*>(state_->doc));
}

void MsXmlDomDocument::SetProperty(const std::string& name, const std::string& value) {
    properties_[name] = value;
    if (name == "SelectionNamespaces" && state_)
        state_->selectionNamespaces = parseSelectionNamespaces(value);
}

std::string MsXmlDomDocument::GetProperty(const std::string& name) const {
    auto it = properties_.find(name);
    return it == properties_.end() ? std::string() : it->second;
}

void MsXmlDomDocument::SetupSelectionNamespaces(const std::string& defaultPrefix,
                                                NamespaceMap& namespaceMap) {
    if (!state_)
        return;
    xmlNode* root = xmlDocGetRootElement(state_->doc);
    if (!root)
        return;
    SetProperty("SelectionLanguage", "XPath");
    std::string selection;
    for (xmlNs* ns = root->nsDef; ns; ns = ns->next) {
        std::string prefix = ns->prefix ? str(ns->prefix) : defaultPrefix;
        std::string uri = str(ns->href);
        if (!selection.empty())
            selection += ' ';
        selection += "xmlns:" + prefix + "='" + uri + "'";
        namespaceMap[uri] = prefix;
    }
    SetProperty("SelectionNamespaces", selection);
}

} // namespace quendle
