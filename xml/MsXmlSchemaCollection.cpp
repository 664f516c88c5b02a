#include "xml/MsXmlSchemaCollection.h"
#include "xml/DomState.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/XmlLibrary.h"

#include <libxml/parserInternals.h>
#include <libxml/xmlschemas.h>

namespace quendle {

using namespace xmllib;

namespace {

constexpr const char* SchemaScheme = "quendle-schema:";

struct SchemaParserFree {
    void operator()(xmlSchemaParserCtxt* c) const { xmlSchemaFreeParserCtxt(c); }
};
struct SchemaFree {
    void operator()(xmlSchema* s) const { xmlSchemaFree(s); }
};
struct ValidCtxtFree {
    void operator()(xmlSchemaValidCtxt* c) const { xmlSchemaFreeValidCtxt(c); }
};

// While schemas compile, their imports are served from memory and nothing else is loaded.
class InMemoryLoaderScope {
  public:
    explicit InMemoryLoaderScope(const std::vector<std::pair<std::string, std::string>>& schemas)
        : previous_(xmlGetExternalEntityLoader()) {
        current = &schemas;
        xmlSetExternalEntityLoader(load);
    }
    ~InMemoryLoaderScope() {
        xmlSetExternalEntityLoader(previous_);
        current = nullptr;
    }
    InMemoryLoaderScope(const InMemoryLoaderScope&) = delete;
    InMemoryLoaderScope& operator=(const InMemoryLoaderScope&) = delete;

  private:
    static xmlParserInputPtr load(const char* url, const char*, xmlParserCtxtPtr ctxt) {
        if (!current || !url)
            return nullptr;
        std::string_view u(url);
        if (!u.starts_with(SchemaScheme))
            return nullptr;
        size_t index = 0;
        for (char c : u.substr(std::string_view(SchemaScheme).size())) {
            if (c < '0' || c > '9')
                return nullptr;
            index = index * 10 + static_cast<size_t>(c - '0');
        }
        if (index >= current->size())
            return nullptr;
        const std::string& text = (*current)[index].second;
        xmlParserInputBufferPtr buffer =
            xmlParserInputBufferCreateMem(text.data(), static_cast<int>(text.size()), XML_CHAR_ENCODING_NONE);
        if (!buffer)
            return nullptr;
        xmlParserInputPtr input = xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE);
        if (!input) {
            xmlFreeParserInputBuffer(buffer);
            return nullptr;
        }
        input->filename = reinterpret_cast<const char*>(xmlStrdup(x(url)));
        return input;
    }

    static inline thread_local const std::vector<std::pair<std::string, std::string>>* current = nullptr;
    xmlExternalEntityLoader previous_;
};

} // namespace

struct MsXmlSchemaCollection::Compiled {
    std::unique_ptr<xmlSchema, SchemaFree> schema;
};

MsXmlSchemaCollection::MsXmlSchemaCollection() {
    initialize();
}
MsXmlSchemaCollection::~MsXmlSchemaCollection() = default;

void MsXmlSchemaCollection::Add(const std::string& targetNamespace, const MsXmlDomDocument& schema) {
    if (!schema.hasDom())
        throw Exception(Msg::NullPointer);
    std::string text = schema.GetXml();
    for (auto& entry : schemas_) {
        if (entry.first == targetNamespace) {
            entry.second = std::move(text);
            compiled_.reset();
            return;
        }
    }
    schemas_.emplace_back(targetNamespace, std::move(text));
    compiled_.reset();
}

void MsXmlSchemaCollection::Validate() {
    if (schemas_.empty())
        throw Exception(Msg::NullPointer);
    compile();
}

void MsXmlSchemaCollection::compile() const {
    if (compiled_)
        return;
    // One driver schema imports every namespace of the collection, in the order added.
    std::string driver = "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">";
    for (size_t i = 0; i < schemas_.size(); ++i) {
        driver += "<xs:import namespace=\"" + schemas_[i].first + "\" schemaLocation=\"" + SchemaScheme +
                  std::to_string(i) + "\"/>";
    }
    driver += "</xs:schema>";

    ErrorCollector errors;
    InMemoryLoaderScope loader(schemas_);
    std::unique_ptr<xmlSchemaParserCtxt, SchemaParserFree> parser(
        xmlSchemaNewMemParserCtxt(driver.data(), static_cast<int>(driver.size())));
    if (!parser)
        throw Exception(Msg::UnexpectedException);
    xmlSchemaSetParserStructuredErrors(parser.get(), &ErrorCollector::onError, &errors);
    std::unique_ptr<xmlSchema, SchemaFree> schema(xmlSchemaParse(parser.get()));
    if (!schema || !errors.records.empty())
        throwPlatformError(errors.records.empty()
                               ? std::string("The schema collection could not be compiled.")
                               : errors.text());
    compiled_ = std::make_unique<Compiled>();
    compiled_->schema = std::move(schema);
}

void MsXmlSchemaCollection::validateDocument(_xmlDoc* doc, std::vector<XmlParseErrorRecord>& errors) const {
    compile();
    ErrorCollector collector;
    std::unique_ptr<xmlSchemaValidCtxt, ValidCtxtFree> ctxt(xmlSchemaNewValidCtxt(compiled_->schema.get()));
    if (!ctxt)
        throw Exception(Msg::UnexpectedException);
    xmlSchemaSetValidStructuredErrors(ctxt.get(), &ErrorCollector::onError, &collector);
    int result = xmlSchemaValidateDoc(ctxt.get(), doc);
    if (result != 0 && collector.records.empty())
        collector.records.push_back({"The document is not valid against the schemas.", {}, 0});
    for (auto& r : collector.records)
        errors.push_back(std::move(r));
}

} // namespace quendle
