#pragma once
#include "core/Exception.h"

#include <cstdint>
#include <vector>

struct _xmlDoc;
struct _xmlParserCtxt;

namespace quendle::xmllib {

// Bounds that keep every later step over a parsed part (XPath, edits, the namespace upgrade,
// the schema check, saving) linear in the part's size.
constexpr uint64_t MaxAttributesPerElement = 1000;
constexpr uint64_t MaxEntityExpansion = 1 << 20;

// Refuses a part (records saying why) whose element carries more than MaxAttributesPerElement
// attributes or whose internal entity references expand to more than MaxEntityExpansion bytes.
// Otherwise replaces every entity reference by its text and drops the DTD, so that edited text
// never expands again and no DTD is written back.
void enforceDocumentLimits(_xmlDoc* doc, std::vector<XmlParseErrorRecord>& refusals);

// Stops a parse at the first start tag with more than MaxAttributesPerElement attributes,
// before the tree builder, which appends each attribute by walking the ones before it.
class AttributeGuard {
  public:
    explicit AttributeGuard(_xmlParserCtxt* ctxt);
    ~AttributeGuard();
    AttributeGuard(const AttributeGuard&) = delete;
    AttributeGuard& operator=(const AttributeGuard&) = delete;

    std::vector<XmlParseErrorRecord>& refusals() { return refusals_; }

  private:
    static void startElement(void* ctx, const unsigned char* localname, const unsigned char* prefix,
                             const unsigned char* uri, int namespaceCount, const unsigned char** namespaces,
                             int attributeCount, int defaulted, const unsigned char** attributes);

    _xmlParserCtxt* ctxt_;
    void* previousPrivate_;
    std::vector<XmlParseErrorRecord> refusals_;
};

} // namespace quendle::xmllib
