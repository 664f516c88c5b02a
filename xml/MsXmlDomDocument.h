#pragma once
#include "core/Exception.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlParserCtxt;

namespace quendle {

class MsXmlSchemaCollection;
class XslTransform;

// An XML file loaded for reading and editing. Remembers the file's XML declaration and writes
// it back on save; collects every parse or validation error into one XmlParseException.
class MsXmlDomDocument {
  public:
    explicit MsXmlDomDocument(std::string name = {});
    ~MsXmlDomDocument();
    MsXmlDomDocument(const MsXmlDomDocument&) = delete;
    MsXmlDomDocument& operator=(const MsXmlDomDocument&) = delete;

    void SetValidateOnParse(bool validate) { validateOnParse_ = validate; }
    bool GetValidateOnParse() const { return validateOnParse_; }
    const std::string& GetName() const { return name_; }

    // Parses a file in UTF-8, UTF-16 with byte-order mark or its declared encoding.
    void Load(const std::string& path);
    // Parses one of the program's embedded XML resources.
    void LoadFromResource(int resourceId);
    // Parses XML text given as UTF-8 (or with its own byte-order mark / declaration).
    void LoadXml(std::string_view text);
    // Writes the document indented, with the remembered declaration and encoding.
    void Save(const std::string& path) const;
    // The document as UTF-8 text without declaration, indented as Save writes it.
    std::string GetXml() const;

    // An empty wrapper when there is no root element.
    std::shared_ptr<MsXmlDomElement> GetDocumentElement() const;
    // The document node itself (XPath from the top: "/appx:Package").
    std::shared_ptr<MsXmlDomNode> GetDocumentNode() const;

    // "SelectionNamespaces" ("xmlns:p='uri' ...") and "SelectionLanguage" act; others are kept.
    void SetProperty(const std::string& name, const std::string& value);
    std::string GetProperty(const std::string& name) const;
    // Binds the root element's namespace declarations for XPath (the default namespace under
    // defaultPrefix) and records each URI with its prefix in namespaceMap.
    void SetupSelectionNamespaces(const std::string& defaultPrefix, NamespaceMap& namespaceMap);
    void SetSchemas(std::shared_ptr<const MsXmlSchemaCollection> schemas) { schemas_ = std::move(schemas); }

    // The XML declaration to write.
    const std::string& encoding() const { return encoding_; }
    const std::string& version() const { return version_; }
    bool standalone() const { return standalone_; }
    bool hasDom() const { return state_ != nullptr; }

  private:
    friend class XslTransform;
    friend class MsXmlSchemaCollection;
    void LoadXml(std::string_view text, const std::string& url);
    void parse(std::string_view head, const std::function<_xmlDoc*(_xmlParserCtxt*)>& read);
    void adopt(_xmlDoc* doc);

    bool validateOnParse_ = false;
    std::string name_;
    std::shared_ptr<DomState> state_;
    std::string encoding_ = "UTF-8";
    bool standalone_ = true;
    std::string version_ = "1.0";
    std::map<std::string, std::string> properties_;
    std::shared_ptr<const MsXmlSchemaCollection> schemas_;
};

} // namespace quendle
