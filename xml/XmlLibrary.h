#pragma once
#include "core/Exception.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

// Shared plumbing of the XML services over libxml2 and libxslt. Only xml/ includes this.
namespace quendle::xmllib {

// Sets the process-wide parser defaults once: no external resource is ever loaded, and
// XSLT may neither read nor write files or the network.
void initialize();

// Options of every document parse: no network; never substitute entities or load a DTD.
constexpr int ParseOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES;

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct XPathContextFree {
    void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObject* o) const { xmlXPathFreeObject(o); }
};
struct XPathCompFree {
    void operator()(xmlXPathCompExpr* c) const { xmlXPathFreeCompExpr(c); }
};
struct XmlCharFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
struct BufferFree {
    void operator()(xmlBuffer* b) const { xmlBufferFree(b); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextFree>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectFree>;
using XPathCompPtr = std::unique_ptr<xmlXPathCompExpr, XPathCompFree>;
using XmlCharPtr = std::unique_ptr<xmlChar, XmlCharFree>;
using BufferPtr = std::unique_ptr<xmlBuffer, BufferFree>;

inline const xmlChar* x(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}
inline const xmlChar* x(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
inline std::string str(const xmlChar* s) {
    return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
}
// Takes ownership of a libxml2-allocated string.
inline std::string take(xmlChar* s) {
    return str(XmlCharPtr(s).get());
}

// libxml2 reports errors through a per-thread handler; this collects them while it lives
// and restores the previous handler afterwards.
class ErrorCollector {
  public:
    ErrorCollector();
    ~ErrorCollector();
    ErrorCollector(const ErrorCollector&) = delete;
    ErrorCollector& operator=(const ErrorCollector&) = delete;

    // Handler usable with the *SetStructuredErrors functions of schemas.
    static void onError(void* self, xmlError* error);

    std::vector<XmlParseErrorRecord> records; // errors and fatal errors, not warnings
    std::string text() const;                 // every reason, one per line

  private:
    void* previousContext_;
    xmlStructuredErrorFunc previous_;
    void* previousGenericContext_;
    xmlGenericErrorFunc previousGeneric_;
};

// The message of a failed platform call in the form the COM layer gives it, with its code.
[[noreturn]] void throwPlatformError(std::string_view description,
                                     std::source_location where = std::source_location::current());

constexpr uint32_t E_FAIL_CODE = 0x80004005;

} // namespace quendle::xmllib
