#include "hive/RegFileWriter.h"

#include "core/Exception.h"
#include "hive/RegistryValueText.h"
#include "os/FileSystem.h"
#include "os/SystemError.h"
#include "os/FileHandle.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"

#include <cstdio>

namespace quendle {

namespace {

constexpr uint32_t KeyDeletedBit = 0x10000;
constexpr uint32_t ValueDeletedBit = 0x20000;
constexpr uint32_t KeyOverwriteBit = 0x40000;
constexpr uint32_t PathVariableBit = 0x400000;
// The registry's own types live in the low word; App-V keeps its flags above them, which regedit
// cannot import: the flags become comments and the value is written as its base type.
constexpr uint32_t BaseTypeMask = 0xFFFF;
// regedit keeps hex lines within 80 columns.
constexpr size_t LineWidth = 80;
constexpr std::string_view CurrentUser = "[{AppVCurrentUserSID}]";

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string nameOf(const HiveValue& value) {
    return value.name.empty() ? "@" : quoted(utf16ToUtf8(value.name));
}

// The text of a REG_SZ that regedit can write between quotes: terminated once, no NUL or line
// break inside, whole UTF-16 code units.
bool plainString(const std::vector<uint8_t>& data, std::string& text) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0)
        return false;
    std::u16string units;
    for (size_t i = 0; i + 2 < data.size(); i += 2) {
        char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (u == 0 || u == u'\r' || u == u'\n')
            return false;
        units += u;
    }
    text = utf16ToUtf8(units);
    return utf8ToUtf16(text) == units;
}

std::string hexLine(std::string head, const std::vector<uint8_t>& data, std::string_view lineEnd) {
    static const char digits[] = "0123456789abcdef";
    std::string out = std::move(head);
    size_t column = out.size();
    for (size_t i = 0; i < data.size(); ++i) {
        bool last = i + 1 == data.size();
        if (column + (last ? 2 : 3) > LineWidth - 1) {
            out += "\\";
            out += lineEnd;
            out += "  ";
            column = 2;
        }
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
        if (!last)
            out += ',';
        column += last ? 2 : 3;
    }
    return out;
}

void writeKey(const HiveKey& key, const std::string& path, const RegFileWriter::Sink& sink,
              std::string_view lineEnd) {
    const HiveValue* defaultValue = nullptr;
    for (const HiveValue& v : key.values)
        if (v.name.empty())
            defaultValue = &v;
    // The hive root and REGISTRY carry no keys a person imports; they appear only with values.
    bool structural = path.empty() || equalsIgnoreCaseAscii(path, "REGISTRY");
    if (!structural || !key.values.empty()) {
        std::string text = "[" + RegFileWriter::keyName(path) + "]" + std::string(lineEnd);
        if (defaultValue && (defaultValue->type & KeyDeletedBit))
            text += formatStringId(Msg::RegCommentKeyDeleted, {}) + std::string(lineEnd);
        else if (defaultValue && (defaultValue->type & KeyOverwriteBit))
            text += formatStringId(Msg::RegCommentKeyOverwrite, {}) + std::string(lineEnd);
        for (const HiveValue& v : key.values) {
            std::string name = v.name.empty() ? "@" : utf16ToUtf8(v.name);
            uint32_t explained =
                PathVariableBit | (v.name.empty() ? KeyDeletedBit | KeyOverwriteBit : ValueDeletedBit);
            if (!v.name.empty() && (v.type & ValueDeletedBit))
                text += formatStringId(Msg::RegCommentValueDeleted, {name}) + std::string(lineEnd);
            if (v.type & PathVariableBit)
                text += formatStringId(Msg::RegCommentPathVariables, {name}) + std::string(lineEnd);
            if (v.type & ~BaseTypeMask & ~explained) {
                char stored[16];
                std::snprintf(stored, sizeof stored, "%x", v.type);
                text += formatStringId(Msg::RegCommentStoredType, {name, stored}) + std::string(lineEnd);
            }
            text += RegFileWriter::valueLine(v, lineEnd) + std::string(lineEnd);
        }
        sink(text + std::string(lineEnd));
    }
    for (const auto& sub : key.subkeys) {
        if (!sub || sub->deleted)
            continue;
        std::string name = utf16ToUtf8(sub->name);
        writeKey(*sub, path.empty() ? name : path + "\\" + name, sink, lineEnd);
    }
}

} // namespace

std::string RegFileWriter::keyName(std::string_view hivePath) {
    auto below = [&](std::string_view prefix, std::string_view& rest) {
        if (hivePath.size() < prefix.size() ||
            !equalsIgnoreCaseAscii(hivePath.substr(0, prefix.size()), prefix))
            return false;
        rest = hivePath.substr(prefix.size());
        return rest.empty() || rest[0] == '\\';
    };
    std::string_view rest;
    if (below("REGISTRY\\MACHINE", rest))
        return "HKEY_LOCAL_MACHINE" + std::string(rest);
    if (below("REGISTRY\\USER\\" + std::string(CurrentUser), rest))
        return "HKEY_CURRENT_USER" + std::string(rest);
    if (below("REGISTRY\\USER", rest))
        return "HKEY_USERS" + std::string(rest);
    return std::string(hivePath);
}

std::string RegFileWriter::valueLine(const HiveValue& value, std::string_view lineEnd) {
    std::string head = nameOf(value) + "=";
    std::string text;
    const uint32_t type = value.type & BaseTypeMask;
    if (type == regtype::String && plainString(value.data, text))
        return head + quoted(text);
    if (type == regtype::Dword && value.data.size() == 4) {
        char buffer[16];
        uint32_t n = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                     (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", n);
        return head + buffer;
    }
    if (type == regtype::Binary)
        return hexLine(head + "hex:", value.data, lineEnd);
    char form[24];
    std::snprintf(form, sizeof form, "hex(%x):", type);
    return hexLine(head + form, value.data, lineEnd);
}

void RegFileWriter::write(const HiveTree& tree, const Sink& sink, std::string_view lineEnd) {
    sink("Windows Registry Editor Version 5.00" + std::string(lineEnd) + std::string(lineEnd));
    if (tree.root())
        writeKey(*tree.root(), "", sink, lineEnd);
}

void RegFileWriter::writeFile(const HiveTree& tree, const std::string& path) {
    FileHandle out = FileHandle::createOrTruncate(path);
    if (!out)
        SystemError::last().raise();
    bool ok = out.writeAll("\xFF\xFE", 2);
    write(
        tree,
        [&](std::string_view text) {
            if (!ok)
                return;
            std::u16string units = utf8ToUtf16Replacing(text);
            std::string bytes;
            bytes.reserve(units.size() * 2);
            for (char16_t u : units) {
                bytes += static_cast<char>(u & 0xFF);
                bytes += static_cast<char>(u >> 8);
            }
            ok = out.writeAll(bytes.data(), bytes.size());
        },
        "\r\n");
    if (!ok || !out.close()) {
        SystemError why = SystemError::last();
        (void)hostpath::deleteFile(path);
        why.raise();
    }
}

} // namespace quendle
