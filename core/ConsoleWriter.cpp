#include "core/ConsoleWriter.h"

#include "util/strings/StringSystem.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quendle {
namespace {

ConsoleWriter* theWriter = nullptr;

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

ConsoleWriter::ConsoleWriter(bool terminal) {
    terminal_ = terminal;
    // NO_COLOR is the user's explicit wish and wins over everything else.
    colors_ = !envSet("NO_COLOR") && (colorForced() || terminal_);
}

void ConsoleWriter::install(bool terminal) {
    if (!theWriter) {
        std::fflush(stdout);
        static ConsoleWriter writer(terminal);
        theWriter = &writer;
    }
}

ConsoleWriter* ConsoleWriter::installed() {
    return theWriter;
}

bool ConsoleWriter::write(std::string_view input) {
    // Standard output is always UTF-8, whatever a text picked up on its way (a file name, a value).
    std::string mapped;
    if (!isValidUtf8(input))
        mapped = utf8OrWindows1252(input);
    std::string_view text = mapped.empty() ? input : std::string_view(mapped);
    // "\r\n" is written as "\n"; everything else, a lone "\r" included, goes out unchanged.
    for (size_t start = 0; start < text.size();) {
        size_t crlf = text.find("\r\n", start);
        size_t stop = crlf == std::string_view::npos ? text.size() : crlf;
        std::fwrite(text.data() + start, 1, stop - start, stdout);
        start = stop;
        if (crlf != std::string_view::npos)
            ++start; // skip the "\r"; the "\n" starts the next run
    }
    std::fflush(stdout);
    return true;
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
        std::fputs(sgrFor(attribute), stdout);
        std::fflush(stdout);
    }
}

ConsoleColorScope::ConsoleColorScope(uint16_t attribute) {
    if (ConsoleWriter* w = ConsoleWriter::installed()) {
        previous_ = w->attribute();
        w->setAttribute(attribute);
    }
}

ConsoleColorScope::~ConsoleColorScope() {
    if (ConsoleWriter* w = ConsoleWriter::installed())
        w->setAttribute(previous_);
}

} // namespace quendle
