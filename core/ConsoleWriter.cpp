#include "core/ConsoleWriter.h"

#include "util/strings/StringSystem.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quendle {
namespace {

ConsoleWriter* theWriter = nullptr;
ConsoleWriter* theErrorWriter = nullptr;

const char* sgrFor(uint16_t attribute) {
    switch (attribute) {
    case AttributeBrightRed:
        return "\x1b[91m";
    case AttributeGreen:
        return "\x1b[32m";
    case AttributeGrey:
        return "\x1b[90m";
    default:
        return "\x1b[0m";
    }
}

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// CLICOLOR_FORCE=0 is the documented way of not forcing.
bool colorForced() {
    const char* v = std::getenv("CLICOLOR_FORCE");
    return v && *v && std::string(v) != "0";
}

} // namespace

ConsoleWriter::ConsoleWriter(std::FILE* stream, bool terminal) : stream_(stream), terminal_(terminal) {
    // NO_COLOR is the user's explicit wish and wins over everything else.
    colors_ = !envSet("NO_COLOR") && (colorForced() || terminal_);
}

void ConsoleWriter::install(bool outputTerminal, bool errorTerminal) {
    if (!theWriter) {
        std::fflush(stdout);
        static ConsoleWriter writer(stdout, outputTerminal);
        static ConsoleWriter errorWriter(stderr, errorTerminal);
        theWriter = &writer;
        theErrorWriter = &errorWriter;
    }
}

ConsoleWriter* ConsoleWriter::installed() {
    return theWriter;
}

ConsoleWriter* ConsoleWriter::errors() {
    return theErrorWriter;
}

bool ConsoleWriter::write(std::string_view input) {
    // Text on the screen that shows a progress line starts below it; text into a file does not
    // disturb the line.
    if (theErrorWriter && theErrorWriter->transientOpen_ && (this == theErrorWriter || terminal_))
        theErrorWriter->endTransient();
    // Standard output is always UTF-8, whatever a text picked up on its way (a file name, a value).
    std::string mapped;
    if (!isValidUtf8(input))
        mapped = utf8OrWindows1252(input);
    std::string_view text = mapped.empty() ? input : std::string_view(mapped);
    // "\r\n" is written as "\n"; everything else, a lone "\r" included, goes out unchanged.
    for (size_t start = 0; start < text.size();) {
        size_t crlf = text.find("\r\n", start);
        size_t stop = crlf == std::string_view::npos ? text.size() : crlf;
        std::fwrite(text.data() + start, 1, stop - start, stream_);
        start = stop;
        if (crlf != std::string_view::npos)
            ++start; // skip the "\r"; the "\n" starts the next run
    }
    std::fflush(stream_);
    return true;
}

void ConsoleWriter::writeTransient(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
    transientOpen_ = true;
}

void ConsoleWriter::endTransient() {
    if (!transientOpen_)
        return;
    transientOpen_ = false;
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

bool ConsoleWriter::writeLine(std::string_view text) {
    std::string line(text);
    line += '\n';
    return write(line);
}

void ConsoleWriter::setAttribute(uint16_t attribute) {
    if (attribute == attribute_)
        return;
    attribute_ = attribute;
    if (colors_) {
        std::fputs(sgrFor(attribute), stream_);
        std::fflush(stream_);
    }
}

ConsoleColorScope::ConsoleColorScope(uint16_t attribute)
    : ConsoleColorScope(ConsoleWriter::installed(), attribute) {}

ConsoleColorScope::ConsoleColorScope(ConsoleWriter* writer, uint16_t attribute) : writer_(writer) {
    if (writer_) {
        previous_ = writer_->attribute();
        writer_->setAttribute(attribute);
    }
}

ConsoleColorScope::~ConsoleColorScope() {
    if (writer_)
        writer_->setAttribute(previous_);
}

void writeErrorLine(std::string_view text) {
    if (ConsoleWriter* w = ConsoleWriter::errors()) {
        ConsoleColorScope red(w, AttributeBrightRed);
        w->writeLine(text);
    }
}

void writeWarningLine(std::string_view text) {
    if (ConsoleWriter* w = ConsoleWriter::errors())
        w->writeLine(text);
}

} // namespace quendle
