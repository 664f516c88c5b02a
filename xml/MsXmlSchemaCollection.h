#pragma once
#include "core/Exception.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct _xmlDoc;
struct _xmlSchema;

namespace quendle {

class MsXmlDomDocument;

// XML Schema documents keyed by target namespace, compiled together, so that a document
// loaded with validation is checked against all of them.
class MsXmlSchemaCollection {
  public:
    MsXmlSchemaCollection();
    ~MsXmlSchemaCollection();
    MsXmlSchemaCollection(const MsXmlSchemaCollection&) = delete;
    MsXmlSchemaCollection& operator=(const MsXmlSchemaCollection&) = delete;

    void Add(const std::string& targetNamespace, const MsXmlDomDocument& schema);
    // Compiles the schemas against each other; a broken schema throws with the library's text.
    void Validate();

    // Appends one record per validation error of doc; compiles first when needed.
    void validateDocument(_xmlDoc* doc, std::vector<XmlParseErrorRecord>& errors) const;

  private:
    struct Compiled;
    std::vector<std::pair<std::string, std::string>> schemas_; // namespace, UTF-8 schema text
    mutable std::unique_ptr<Compiled> compiled_;
    void compile() const;
};

} // namespace quendle
