#include "util/strings/MessageFormat.h"

#include "util/strings/StringTable.h"

#include <cctype>
#include <charconv>

namespace quendle {

std::string MessageArg::text() const {
    if (auto s = std::get_if<std::string>(&value_))
        return *s;
    return std::to_string(std::get<long long>(value_));
}

long long MessageArg::number() const {
    if (auto n = std::get_if<long long>(&value_))
        return *n;
    const std::string& s = std::get<std::string>(value_);
    long long n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    return n;
}

namespace {

std::string formatError(std::string_view templ) {
    // 0x57: ERROR_INVALID_PARAMETER, what the system reports for an insert without argument.
    return "Format message error [win32 error 0x57] while composing the message [" + std::string(templ) +
           "].";
}

} // namespace

std::string formatMessage(std::string_view templ, const MessageArgs& args) {
    std::string out;
    out.reserve(templ.size() + 32);
    for (size_t i = 0; i < templ.size(); ++i) {
        char c = templ[i];
        if (c != '%' || i + 1 >= templ.size()) {
            out += c;
            continue;
        }
        char next = templ[i + 1];
        if (next == '0')
            return out; // "%0" ends the message without a line end
        if (!std::isdigit(static_cast<unsigned char>(next))) {
            // "%%", "%.", "%!" and the like stand for the character itself.
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
            ++i;
            continue;
        }
        size_t j = i + 1;
        unsigned index = 0;
        while (j < templ.size() && std::isdigit(static_cast<unsigned char>(templ[j])) && index < 100)
            index = index * 10 + (templ[j++] - '0');
        std::string_view spec = "s";
        if (j < templ.size() && templ[j] == '!') {
            size_t end = templ.find('!', j + 1);
            if (end == std::string_view::npos)
                return formatError(templ);
            spec = templ.substr(j + 1, end - j - 1);
            j = end + 1;
        }
        if (index == 0 || index > args.size())
            return formatError(templ);
        const MessageArg& arg = args[index - 1];
        bool numeric = !spec.empty() && (spec.back() == 'd' || spec.back() == 'u' || spec.back() == 'x');
        if (numeric && spec.back() == 'x') {
            char buf[32];
            auto r = std::to_chars(buf, buf + sizeof buf, static_cast<unsigned long long>(arg.number()), 16);
            out.append(buf, r.ptr);
        } else if (numeric) {
            out += std::to_string(arg.number());
        } else {
            out += arg.text();
        }
        i = j - 1;
    }
    return out;
}

std::string formatString(std::string_view templ, const MessageArgs& args) {
    std::string out;
    out.reserve(templ.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < templ.size(); ++i) {
        char c = templ[i];
        if (c != '%' || i + 1 >= templ.size()) {
            out += c;
            continue;
        }
        char f = templ[i + 1];
        if (f == '%') {
            out += '%';
        } else if (f == 's' || f == 'd') {
            if (next < args.size()) {
                const MessageArg& arg = args[next];
                out += f == 'd' ? std::to_string(arg.number()) : arg.text();
            }
            ++next;
        } else {
            out += c;
            continue;
        }
        ++i;
    }
    return out;
}

namespace {

// Whether a template writes its inserts printf style ("%s", "%d") rather than "%1".
bool printfStyle(std::string_view templ) {
    bool printf = false;
    for (size_t i = 0; i + 1 < templ.size(); ++i) {
        if (templ[i] != '%')
            continue;
        char next = templ[++i];
        if (next >= '1' && next <= '9')
            return false;
        printf = printf || next == 's' || next == 'd';
    }
    return printf;
}

} // namespace

std::string formatMessageId(uint32_t id, const MessageArgs& args) {
    // Some of the table's texts keep the printf inserts they always had; either kind of text may
    // be raised by id.
    std::string templ = loadString(id);
    return printfStyle(templ) ? formatString(templ, args) : formatMessage(templ, args);
}

std::string formatStringId(uint32_t id, const MessageArgs& args) {
    return formatString(loadString(id), args);
}

} // namespace quendle
