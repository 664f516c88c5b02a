#include "core/ExceptionPresenter.h"

#include "core/ConsoleWriter.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringTable.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace quendle {

void showErrorReport(const std::string& title, const std::string& message, const std::string& details) {
    std::fprintf(stderr, "%s\n%s\n", title.c_str(), message.c_str());
    if (!details.empty())
        std::fprintf(stderr, "\n%s\n", details.c_str());
    std::fflush(stderr);
}

const ExceptionPresenter& ExceptionPresenter::instance() {
    static const ExceptionPresenter presenter;
    return presenter;
}

namespace {

void presentText(const std::string& full, const std::string& shortMessage) {
    if (ConsoleWriter::errors()) {
        writeErrorLine(full);
        return;
    }
    showErrorReport("Error", shortMessage, full == shortMessage ? std::string() : full);
}

} // namespace

void ExceptionPresenter::Present(const IException& e) const {
    const auto* ex = dynamic_cast<const Exception*>(&e);
    if (!ex)
        return;
    const std::string& full = ex->message();
    std::string shortMessage = full.substr(0, full.find(StackTraceMarker));
    if (ex->GetKind() == ExceptionSeh)
        shortMessage = loadString(Msg::UnhandledProblem);
    presentText(full, shortMessage);
}

void ExceptionPresenter::Present(const std::exception& e) const {
    std::string text = e.what();
    presentText(text, text);
}

const XmlParseExceptionPresenter& XmlParseExceptionPresenter::instance() {
    static const XmlParseExceptionPresenter presenter;
    return presenter;
}

namespace {

struct ReportSegment {
    uint16_t attribute;
    std::string text;
};

// A hostile part can hold thousands of errors on one line of megabytes: the report shows the
// first errors and the start of each line, so that its size stays bounded.
constexpr size_t MaxReportedErrors = 20;
constexpr size_t MaxShownLineBytes = 400;

std::string clipped(std::string text) {
    if (text.size() <= MaxShownLineBytes)
        return text;
    size_t cut = MaxShownLineBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text + " [...]";
}

// The validation report as coloured pieces, so the console and the plain text agree.
std::vector<ReportSegment> reportSegments(const XmlParseException& e) {
    std::vector<ReportSegment> out;
    out.push_back({AttributeBrightRed, "\nValidation failed on " + e.fileName() + "\n====================="});
    std::vector<std::string> lines;
    if (!e.content().empty()) {
        size_t start = 0;
        for (;;) {
            size_t nl = e.content().find('\n', start);
            lines.push_back(
                e.content().substr(start, nl == std::string::npos ? std::string::npos : nl - start));
            if (nl == std::string::npos)
                break;
            start = nl + 1;
        }
    }
    for (size_t index = 0; index < e.errors().size(); ++index) {
        const auto& r = e.errors()[index];
        if (index == MaxReportedErrors) {
            out.push_back({AttributeBrightRed,
                           formatStringId(Msg::MoreErrorsNotShown,
                                          {static_cast<int>(e.errors().size() - MaxReportedErrors)})});
            break;
        }
        out.push_back({AttributeBrightRed, "\nReason: " + clipped(r.reason) +
                                               "\nSource: " + clipped(r.sourceText) +
                                               "\nLine: " + std::to_string(r.line) + "\n"});
        if (r.line <= 0 || lines.empty())
            continue;
        int from = std::max(1, r.line - 10);
        int to = std::min(static_cast<int>(lines.size()), r.line + 10);
        for (int n = from; n <= to; ++n) {
            std::string text = lines[n - 1];
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            out.push_back({n == r.line ? AttributeBrightRed : AttributeGrey,
                           std::to_string(n) + ": " + clipped(text) + "\n"});
        }
    }
    return out;
}

} // namespace

std::string XmlParseException::reportText() const {
    std::string text;
    for (const auto& s : reportSegments(*this))
        text += s.text;
    return text;
}

const IExceptionPresenter& Exception::GetPresenter() const {
    return ExceptionPresenter::instance();
}

const IExceptionPresenter& XmlParseException::GetPresenter() const {
    return XmlParseExceptionPresenter::instance();
}

void XmlParseExceptionPresenter::Present(const IException& e) const {
    const auto* ex = dynamic_cast<const XmlParseException*>(&e);
    if (!ex)
        return;
    ConsoleWriter* w = ConsoleWriter::errors();
    if (!w) {
        showErrorReport("Error", ex->reportText(), std::string());
        return;
    }
    for (const auto& s : reportSegments(*ex)) {
        ConsoleColorScope scope(w, s.attribute);
        w->write(s.text);
    }
}

uint32_t handleCurrentException() {
    try {
        throw;
    } catch (const Exception& e) {
        e.GetPresenter().Present(e);
        return e.code();
    } catch (const std::exception& e) {
        ExceptionPresenter::instance().Present(e);
        return GenericErrorCode;
    } catch (...) {
        Exception e("Unknown exception");
        e.GetPresenter().Present(e);
        return GenericErrorCode;
    }
}

} // namespace quendle
