#include "xml/XslTransform.h"
#include "xml/DomState.h"
#include "xml/MsXmlDomDocument.h"

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <set>

namespace quendle {

using namespace xmllib;

namespace {

constexpr const char* XsltNamespace = "http://www.w3.org/1999/XSL/Transform";

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

// libxslt only warns about an XSLT element it does not know and skips it at run time; a 1.0
// stylesheet that uses one is broken and is rejected like any other stylesheet error.
bool usesUnknownXsltElement(xmlDoc* doc) {
    static const std::set<std::string> known = {"apply-imports",
                                                "apply-templates",
                                                "attribute",
                                                "attribute-set",
                                                "call-template",
                                                "choose",
                                                "comment",
                                                "copy",
                                                "copy-of",
                                                "decimal-format",
                                                "element",
                                                "fallback",
                                                "for-each",
                                                "if",
                                                "import",
                                                "include",
                                                "key",
                                                "message",
                                                "namespace-alias",
                                                "number",
                                                "otherwise",
                                                "output",
                                                "param",
                                                "preserve-space",
                                                "processing-instruction",
                                                "sort",
                                                "strip-space",
                                                "stylesheet",
                                                "template",
                                                "text",
                                                "transform",
                                                "value-of",
                                                "variable",
                                                "when",
                                                "with-param"};
    xmlNode* root = xmlDocGetRootElement(doc);
    if (!root)
        return false;
    std::string version = take(xmlGetProp(root, x("version")));
    if (root->ns && str(root->ns->href) != XsltNamespace)
        version = take(xmlGetNsProp(root, x("version"), x(XsltNamespace)));
    if (version != "1.0")
        return false; // forwards-compatible processing
    std::vector<xmlNode*> pending{root};
    while (!pending.empty()) {
        xmlNode* n = pending.back();
        pending.pop_back();
        if (n->ns && str(n->ns->href) == XsltNamespace && !known.contains(str(n->name)))
            return true;
        for (xmlNode* c = n->children; c; c = c->next) {
            if (c->type == XML_ELEMENT_NODE)
                pending.push_back(c);
        }
    }
    return false;
}

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

XslTransform::XslTransform() {
    initialize();
}
XslTransform::~XslTransform() = default;

void XslTransform::SetStylesheet(const MsXmlDomDocument& stylesheet) {
    if (!stylesheet.state_)
        throw Exception(Msg::NullPointer);
    stylesheet_ = stylesheet.state_;
}

void XslTransform::AddParameter(const std::string& name, const std::string& value) {
    parameters_.emplace_back(name, value);
}

void XslTransform::Transform(const MsXmlDomDocument& input, MsXmlDomDocument& result) const {
    if (!input.state_ || !stylesheet_)
        throw Exception(Msg::NullPointer);
    std::string messages;
    ErrorCollector xmlErrors;
    XsltErrorScope scope(messages);

    if (usesUnknownXsltElement(stylesheet_->doc))
        throw Exception(Msg::XslTransformInvalid);
    // libxslt takes the document it compiles; the caller's stylesheet stays untouched.
    xmlDoc* copy = xmlCopyDoc(stylesheet_->doc, 1);
    if (!copy)
        throw Exception(Msg::UnexpectedException);
    std::unique_ptr<xsltStylesheet, StylesheetFree> sheet(xsltParseStylesheetDoc(copy));
    if (!sheet || sheet->errors > 0) {
        if (!sheet)
            xmlFreeDoc(copy);
        throw Exception(Msg::XslTransformInvalid);
    }
    std::unique_ptr<xsltTransformContext, TransformCtxtFree> ctxt(
        xsltNewTransformContext(sheet.get(), input.state_->doc));
    if (!ctxt)
        throw Exception(Msg::UnexpectedException);
    xsltSetTransformErrorFunc(ctxt.get(), &messages, collectText);
    if (xsltSetCtxtSecurityPrefs(xsltGetDefaultSecurityPrefs(), ctxt.get()) != 0)
        throw Exception(Msg::UnexpectedException);
    // libxslt refuses a second value for a name and then fails the whole run; the first
    // value is the one a stylesheet sees, so later duplicates are left out.
    std::set<std::string> passed;
    for (const auto& [name, value] : parameters_) {
        if (passed.insert(name).second)
            xsltQuoteOneUserParam(ctxt.get(), x(name), x(value));
    }
    DocPtr output(
        xsltApplyStylesheetUser(sheet.get(), input.state_->doc, nullptr, nullptr, nullptr, ctxt.get()));
    if (!output || ctxt->state == XSLT_STATE_ERROR || ctxt->state == XSLT_STATE_STOPPED) {
        std::string description = tidy(messages);
        if (description.empty())
            description = tidy(xmlErrors.text());
        throwPlatformError(description.empty() ? "The transform failed." : description);
    }
    result.adopt(output.release());
}

} // namespace quendle
