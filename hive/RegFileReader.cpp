#include "hive/RegFileReader.h"

#include "core/Exception.h"
#include "hive/RegistryValueText.h"
#include "os/FileSystem.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"

#include <array>
#include <utility>

namespace quendle {
namespace {

constexpr std::string_view Version5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view Version4Header = "REGEDIT4";

struct ParseError {
    uint32_t reason;
};

struct LogicalLine {
    std::string text;
    int number;
};

// The text in UTF-8, from whichever encoding its byte-order mark (or its absence) says.
std::string decode(std::string_view bytes, const std::string& name) {
    auto utf16 = [&](bool little) {
        if (bytes.size() % 2 != 0)
            throw Exception(Msg::RegFileEncodingUnsupported, name);
        std::u16string units(bytes.size() / 2 - 1, u'\0');
        for (size_t i = 2; i < bytes.size(); i += 2) {
            const auto a = static_cast<unsigned char>(bytes[i]);
            const auto b = static_cast<unsigned char>(bytes[i + 1]);
            units[i / 2 - 1] = static_cast<char16_t>(little ? a | (b << 8) : (a << 8) | b);
        }
        return utf16ToUtf8(units);
    };
    if (bytes.starts_with("\xFF\xFE"))
        return utf16(true);
    if (bytes.starts_with("\xFE\xFF"))
        return utf16(false);
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return utf8OrWindows1252(bytes.substr(3));
    return utf8OrWindows1252(bytes);
}

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string_view trimLeft(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// Physical lines joined where one ends in "\": regedit breaks long hex lists that way.
std::vector<LogicalLine> logicalLines(std::string_view text, int& openLine) {
    std::vector<LogicalLine> lines;
    bool continuing = false;
    int number = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view physical = trimRight(text.substr(pos, end - pos));
        ++number;
        pos = end + 1;
        if (continuing && end == text.size() && physical.empty()) {
            openLine = lines.back().number; // only the file's last line end follows the "\"
            return lines;
        }
        if (continuing) {
            physical = trimLeft(physical);
            lines.back().text.append(physical);
        } else {
            lines.push_back({std::string(physical), number});
        }
        continuing = !lines.back().text.empty() && lines.back().text.back() == '\\' &&
                     lines.back().text.front() != '[' && lines.back().text.front() != ';';
        if (continuing)
            lines.back().text.pop_back();
        if (end == text.size())
            break;
    }
    openLine = continuing ? lines.back().number : 0;
    return lines;
}

RegFileRoot rootOf(std::string_view name) {
    static const std::array<std::pair<std::string_view, RegFileRoot>, 10> roots = {{
        {"HKEY_LOCAL_MACHINE", RegFileRoot::LocalMachine},
        {"HKLM", RegFileRoot::LocalMachine},
        {"HKEY_CURRENT_USER", RegFileRoot::CurrentUser},
        {"HKCU", RegFileRoot::CurrentUser},
        {"HKEY_CLASSES_ROOT", RegFileRoot::ClassesRoot},
        {"HKCR", RegFileRoot::ClassesRoot},
        {"HKEY_USERS", RegFileRoot::Users},
        {"HKU", RegFileRoot::Users},
        {"HKEY_CURRENT_CONFIG", RegFileRoot::CurrentConfig},
        {"HKCC", RegFileRoot::CurrentConfig},
    }};
    for (const auto& [text, root] : roots)
        if (equalsIgnoreCaseAscii(name, text))
            return root;
    throw ParseError{Msg::RegFileUnknownRoot};
}

// A quoted string starting at text[pos] ("\\" and "\"" are the escapes regedit writes; any
// other backslash is taken as it stands). Leaves pos after the closing quote.
std::string quoted(std::string_view text, size_t& pos, uint32_t reason) {
    if (pos >= text.size() || text[pos] != '"')
        throw ParseError{reason};
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"'))
            ++pos;
        else if (c == '\0')
            throw ParseError{Msg::RegFileBadStringCharacter};
        out += text[pos];
    }
    throw ParseError{reason};
}

std::vector<uint8_t> hexBytes(std::string_view text) {
    std::vector<uint8_t> bytes;
    text = trimLeft(trimRight(text));
    if (text.empty())
        return bytes;
    size_t pos = 0;
    for (;;) {
        std::string_view item = text.substr(pos, text.find(',', pos) - pos);
        const size_t next = pos + item.size() + 1;
        item = trimLeft(trimRight(item));
        if (item.empty() && next > text.size())
            break; // a trailing comma
        if (item.empty() || item.size() > 2)
            throw ParseError{Msg::RegFileBadHex};
        int value = 0;
        for (char c : item) {
            const int digit = hexDigitValue(c);
            if (digit < 0)
                throw ParseError{Msg::RegFileBadHex};
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<uint8_t>(value));
        if (next > text.size())
            break;
        pos = next;
    }
    return bytes;
}

// ANSI bytes of a REGEDIT4 string type as the UTF-16LE bytes the hive keeps.
std::vector<uint8_t> widened(const std::vector<uint8_t>& ansi) {
    const std::u16string units = utf8ToUtf16(
        windows1252ToUtf8(std::string_view(reinterpret_cast<const char*>(ansi.data()), ansi.size())));
    std::vector<uint8_t> out;
    out.reserve(units.size() * 2);
    for (char16_t unit : units) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return out;
}

bool isStringType(uint32_t type) {
    const uint32_t low = type & regtype::TypeMask;
    return low == regtype::String || low == regtype::ExpandString || low == regtype::MultiString;
}

void parseKey(std::string_view text, RegFileEdit& edit) {
    if (text.back() != ']')
        throw ParseError{Msg::RegFileKeyExpected};
    std::string_view path = text.substr(1, text.size() - 2);
    edit.kind = RegFileEdit::Kind::CreateKey;
    if (!path.empty() && path.front() == '-') {
        edit.kind = RegFileEdit::Kind::DeleteKeyTree;
        path.remove_prefix(1);
    }
    const size_t separator = path.find('\\');
    edit.root = rootOf(path.substr(0, separator));
    if (separator != std::string_view::npos)
        edit.subkey = std::string(path.substr(separator + 1));
}

void parseValue(std::string_view text, bool ansi, RegFileEdit& edit) {
    size_t pos = 0;
    if (text.front() == '@')
        pos = 1;
    else
        edit.valueName = quoted(text, pos, Msg::RegFileBadValueName);
    std::string_view rest = trimLeft(text.substr(pos));
    if (rest.empty() || rest.front() != '=')
        throw ParseError{Msg::RegFileEqualsExpected};
    rest = trimLeft(rest.substr(1));
    edit.kind = RegFileEdit::Kind::SetValue;
    if (rest == "-") {
        edit.kind = RegFileEdit::Kind::DeleteValue;
        return;
    }
    if (!rest.empty() && rest.front() == '"') {
        size_t at = 0;
        const std::string value = quoted(rest, at, Msg::RegFileBadData);
        if (!trimLeft(rest.substr(at)).empty())
            throw ParseError{Msg::RegFileTrailingText};
        edit.type = regtype::String;
        edit.data = regtext::stringData(value);
        return;
    }
    if (startsWithIgnoreCaseAscii(rest, "dword:")) {
        const std::string_view digits = trimRight(rest.substr(6));
        if (digits.empty() || digits.size() > 8)
            throw ParseError{Msg::RegFileBadDword};
        uint32_t value = 0;
        for (char c : digits) {
            const int digit = hexDigitValue(c);
            if (digit < 0)
                throw ParseError{Msg::RegFileBadDword};
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        edit.type = regtype::Dword;
        edit.data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                     static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        return;
    }
    if (startsWithIgnoreCaseAscii(rest, "hex:")) {
        edit.type = regtype::Binary;
        edit.data = hexBytes(rest.substr(4));
        return;
    }
    if (startsWithIgnoreCaseAscii(rest, "hex(")) {
        const size_t close = rest.find("):");
        const std::string_view digits = close == std::string_view::npos ? "" : rest.substr(4, close - 4);
        if (digits.empty() || digits.size() > 8)
            throw ParseError{Msg::RegFileBadData};
        uint32_t type = 0;
        for (char c : digits) {
            const int digit = hexDigitValue(c);
            if (digit < 0)
                throw ParseError{Msg::RegFileBadData};
            type = type * 16 + static_cast<uint32_t>(digit);
        }
        edit.type = type;
        edit.data = hexBytes(rest.substr(close + 2));
        if (ansi && isStringType(type))
            edit.data = widened(edit.data);
        return;
    }
    throw ParseError{Msg::RegFileBadData};
}

} // namespace

std::vector<RegFileEdit> RegFileReader::read(const std::string& path) {
    return parse(hostpath::readSmallFile(hostpath::toLongPath(path), MaxFileSize), path);
}

std::vector<RegFileEdit> RegFileReader::parse(std::string_view bytes, const std::string& name) {
    const std::string text = decode(bytes, name);
    int openLine = 0;
    const std::vector<LogicalLine> lines = logicalLines(text, openLine);
    std::vector<RegFileEdit> edits;
    bool headerSeen = false;
    bool ansi = false;
    bool inKey = false;
    RegFileEdit key{};
    for (const LogicalLine& line : lines) {
        const std::string_view content = trimLeft(line.text);
        if (content.empty() || content.front() == ';')
            continue;
        try {
            if (!headerSeen) {
                if (content != Version5Header && content != Version4Header)
                    throw ParseError{Msg::RegFileNoHeader};
                headerSeen = true;
                ansi = content == Version4Header;
                continue;
            }
            RegFileEdit edit{};
            edit.line = line.number;
            if (content.front() == '[') {
                parseKey(content, edit);
                // Values after a deleted key have no key to go to, as with regedit.
                inKey = edit.kind == RegFileEdit::Kind::CreateKey;
                key = edit;
                edits.push_back(std::move(edit));
                continue;
            }
            if (!inKey && key.line == 0)
                throw ParseError{Msg::RegFileValueBeforeKey};
            edit.root = key.root;
            edit.subkey = key.subkey;
            parseValue(content, ansi, edit);
            if (inKey)
                edits.push_back(std::move(edit));
        } catch (const ParseError& error) {
            throw Exception(Msg::RegFileLineInvalid, name, line.number, loadString(error.reason));
        }
    }
    if (!headerSeen)
        throw Exception(Msg::RegFileLineInvalid, name, lines.empty() ? 1 : lines.back().number,
                        loadString(Msg::RegFileNoHeader));
    if (openLine != 0)
        throw Exception(Msg::RegFileLineInvalid, name, openLine, loadString(Msg::RegFileOpenContinuation));
    return edits;
}

} // namespace quendle
