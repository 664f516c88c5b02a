#pragma once
#include "core/Exception.h"

#include <cstdint>
#include <string>
#include <string_view>
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

// Counts the attributes of each start tag in the raw bytes of a part, before libxml2 2.9 parses
// it: its parser compares every attribute of a start tag with all the ones before it, so a single
// tag of 100,000 attributes would cost seconds before any guard could see it. Exact for the
// encodings in which "<", ">", "=" and quotes are single ASCII bytes (UTF-8 and the 8-bit and
// multi-byte code pages); a part in UTF-16 is left to AttributeGuard.
class StartTagScanner {
  public:
    // False once a start tag has more than MaxAttributesPerElement attributes.
    bool feed(const char* bytes, size_t length);
    const std::string& element() const { return name_; }
    int line() const { return line_; }

  private:
    enum class State { Text, Open, Tag, TagName, Quoted, EndTag, Instruction, Comment, CData, Declaration };
    State state_ = State::Text;
    char quote_ = 0;
    std::string recent_; // the last bytes of the markup being skipped, to find its end
    std::string name_;
    uint64_t count_ = 0;
    int line_ = 1;
    int depth_ = 0; // brackets of a DOCTYPE's internal subset
};

// The reason given for an element over the attribute limit.
std::string attributeLimitText(const std::string& element);

// True when the first bytes show an encoding in which ASCII characters are single bytes.
bool scannableEncoding(std::string_view head);

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
