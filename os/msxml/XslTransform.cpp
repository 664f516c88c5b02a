#include "os/msxml/XslTransform.h"
#include "os/msxml/DomState.h"
#include "os/msxml/MsXmlDomDocument.h"

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>

namespace quendle {

using namespace xmllib;

namespace {

struct StylesheetFree {
    void operator()(xsltStylesheet* s) const { xsltFreeStylesheet(s); }
};
struct TransformCtxtFree {
    void operator()(xsltTransformContext* c) const { xsltFreeTransformContext(c); }
};

// libxslt reports through printf-style handlers; the text is gathered for the exception.
void collectText(void* ctx, const char* format, ...) {
    auto* out = static_cast<std::string*>(ctx);
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0)
        out->append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

class XsltErrorScope {
public:
    explicit XsltErrorScope(std::string& sink) { xsltSetGenericErrorFunc(&sink, collectText); }
    ~XsltErrorScope() { xsltSetGenericErrorFunc(nullptr, nullptr); }
    XsltErrorScope(const XsltErrorScope&) = delete;
    XsltErrorScope& operator=(const XsltErrorScope&) = delete;
};

std::string tidy(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (char& c : text) {
        if (c == '\n')
            c = ' ';
    }
    return text;
}

} // namespace

XslTransform::XslTransform() { initialize(); }
XslTransform::~XslTransform() = default;

void XslTransform::SetStylesheet(const MsXmlDomDocument& stylesheet) {
    if (!stylesheet.state_)
        throw Exception(65022);
    stylesheet_ = stylesheet.state_;
}

void XslTransform::AddParameter(const std::string& name, const std::string& value) {
    parameters_.emplace_back(name, value);
}

void XslTransform::Transform(const MsXmlDomDocument& input, MsXmlDomDocument& result) const {
    if (!input.state_ || !stylesheet_)
        throw Exception(65022);
    std::string messages;
    ErrorCollector xmlErrors;
    XsltErrorScope scope(messages);

    // libxslt takes the document it compiles; the caller's stylesheet stays untouched.
    xmlDoc* copy = xmlCopyDoc(stylesheet_->doc, 1);
    if (!copy)
        throw Exception(65000);
    std::unique_ptr<xsltStylesheet, StylesheetFree> sheet(xsltParseStylesheetDoc(copy));
    if (!sheet || sheet->errors > 0) {
        if (!sheet)
            xmlFreeDoc(copy);
        throw Exception(65026);
    }
    std::unique_ptr<xsltTransformContext, TransformCtxtFree> ctxt(xsltNewTransformContext(sheet.get(), input.state_->doc));
    if (!ctxt)
        throw Exception(65000);
    xsltSetTransformErrorFunc(ctxt.get(), &messages, collectText);
    if (xsltSetCtxtSecurityPrefs(xsltGetDefaultSecurityPrefs(), ctxt.get()) != 0)
        throw Exception(65000);
    for (const auto& [name, value] : parameters_) {
        // A repeated name keeps the first value; libxslt's complaint about it is not an error.
        std::string ignored;
        xsltSetTransformErrorFunc(ctxt.get(), &ignored, collectText);
        xsltQuoteOneUserParam(ctxt.get(), x(name), x(value));
        xsltSetTransformErrorFunc(ctxt.get(), &messages, collectText);
    }
    DocPtr output(xsltApplyStylesheetUser(sheet.get(), input.state_->doc, nullptr, nullptr, nullptr, ctxt.get()));
    if (!output || ctxt->state == XSLT_STATE_ERROR || ctxt->state == XSLT_STATE_STOPPED) {
        std::string description = tidy(messages);
        if (description.empty())
            description = tidy(xmlErrors.text());
        throwPlatformError(description.empty() ? "The transform failed." : description);
    }
    result.adopt(output.release());
}

} // namespace quendle
