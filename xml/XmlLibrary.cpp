#include "xml/XmlLibrary.h"

#include "xml/Windows1252Encoding.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxslt/security.h>
#include <libxslt/xsltutils.h>

#include <mutex>

namespace quendle::xmllib {

namespace {

// A package is untrusted: nothing it names may be fetched, neither a DTD nor an entity nor a
// stylesheet's document(). In-memory schema imports are served by their own scoped loader.
xmlParserInputPtr denyExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

void silentGeneric(void*, const char*, ...) {}

} // namespace

void initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(denyExternalEntity);
        // Ours on every platform rather than iconv's where there is one: the same answers on both.
        registerWindows1252Encoding();
        // Indentation of saved files, as the original tools write them.
        xmlThrDefTreeIndentString("\t");
        xmlThrDefIndentTreeOutput(1);
        xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        xsltSetDefaultSecurityPrefs(prefs); // lives for the process
    });
    xmlTreeIndentString = "\t";
    xmlIndentTreeOutput = 1;
}

ErrorCollector::ErrorCollector()
    : previousContext_(xmlStructuredErrorContext), previous_(xmlStructuredError),
      previousGenericContext_(xmlGenericErrorContext), previousGeneric_(xmlGenericError) {
    xmlSetStructuredErrorFunc(this, &ErrorCollector::onError);
    xmlSetGenericErrorFunc(nullptr, silentGeneric);
}

ErrorCollector::~ErrorCollector() {
    xmlSetStructuredErrorFunc(previousContext_, previous_);
    xmlSetGenericErrorFunc(previousGenericContext_, previousGeneric_);
}

namespace {

// The line of the parser's input around the error position, as the parser saw it (UTF-8).
std::string parserSourceLine(const xmlError* error) {
    if (error->domain != XML_FROM_PARSER && error->domain != XML_FROM_NAMESPACE &&
        error->domain != XML_FROM_IO)
        return {};
    auto* ctxt = static_cast<xmlParserCtxt*>(error->ctxt);
    if (!ctxt || !ctxt->input || !ctxt->input->base || !ctxt->input->cur)
        return {};
    const xmlChar* base = ctxt->input->base;
    const xmlChar* cur = ctxt->input->cur;
    const xmlChar* end = ctxt->input->end ? ctxt->input->end : cur;
    if (cur > end)
        cur = end;
    const xmlChar* begin = cur;
    if (begin > base && (*begin == '\n' || begin == end))
        --begin;
    while (begin > base && begin[-1] != '\n' && begin[-1] != '\r')
        --begin;
    const xmlChar* stop = cur;
    while (stop < end && *stop != '\n' && *stop != '\r')
        ++stop;
    return std::string(reinterpret_cast<const char*>(begin), static_cast<size_t>(stop - begin));
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

} // namespace

void ErrorCollector::onError(void* self, xmlError* error) {
    if (!self || !error || error->level == XML_ERR_WARNING || error->level == XML_ERR_NONE)
        return;
    auto* collector = static_cast<ErrorCollector*>(self);
    XmlParseErrorRecord record;
    record.reason = trimmed(error->message ? error->message : "unknown error");
    record.sourceText = parserSourceLine(error);
    record.line = error->line;
    collector->records.push_back(std::move(record));
}

std::string ErrorCollector::text() const {
    std::string out;
    for (const auto& r : records) {
        if (!out.empty())
            out += '\n';
        out += r.reason;
    }
    return out;
}

void throwPlatformError(std::string_view description, std::source_location where) {
    std::string message =
        "Win32 COM Error [" + std::to_string(E_FAIL_CODE) + "]: { " + std::string(description) + " }";
    throw Exception(std::move(message), E_FAIL_CODE, where.file_name(), static_cast<int>(where.line()));
}

} // namespace quendle::xmllib
