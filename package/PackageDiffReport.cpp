// The two forms of a package diff: lines for a person, one JSON document for a pipeline.
#include "package/PackageDiff.h"

#include "core/ConsoleWriter.h"
#include "util/strings/JsonText.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/MessageIds.h"
#include "util/strings/StringSystem.h"

namespace quendle {

namespace {

using Kind = PackageDiff::Kind;
using Lines = std::vector<std::pair<std::string, uint16_t>>;

constexpr size_t LongestShownValue = 100;

std::string label(uint32_t offset) {
    return formatStringId(static_cast<uint32_t>(Msg::DiffLabelFirst) + offset, {});
}

const char* mark(Kind kind) {
    return kind == Kind::Added ? "  + " : kind == Kind::Removed ? "  - " : "  ~ ";
}

uint16_t colourOf(Kind kind) {
    return kind == Kind::Added ? AttributeGreen : AttributeDefault;
}

// A long value is cut, by code points, so that each difference stays one line to read.
std::string shown(const std::string& text) {
    std::string out;
    size_t count = 0;
    for (size_t at = 0; at < text.size();) {
        char32_t c = nextCodePoint(text, at);
        if (++count > LongestShownValue)
            return out + "...";
        appendUtf8(out, c == '\n' || c == '\r' || c == '\t' ? U' ' : c);
    }
    return out;
}

std::string quoted(const std::string& text) {
    return "\"" + shown(text) + "\"";
}

std::string padded(const std::string& text, size_t width) {
    std::string out = text;
    for (size_t n = codePointCount(text); n < width; ++n)
        out += ' ';
    return out;
}

std::string sizeText(uint64_t size) {
    return formatStringId(Msg::DiffFileSize, {std::to_string(size)});
}

std::string valueText(const RegistryChange::State& s) {
    std::string data = RegistryChange::dataText(s.type, s.data), text = RegistryChange::typeName(s.type);
    const uint32_t low = s.type & 0xFFFF;
    if (low == 1 || low == 2 || low == 6)
        text += " " + quoted(data);
    else if (low == 7) {
        std::string list;
        for (size_t at = 0; at <= data.size() && !data.empty();) {
            size_t end = std::min(data.find('\n', at), data.size());
            list += (list.empty() ? "" : ", ") + ("\"" + data.substr(at, end - at) + "\"");
            at = end + 1;
        }
        text += " " + shown(list);
    } else if (!data.empty())
        text += " " + shown(data);
    std::string flags;
    for (const std::string& f : RegistryChange::flagNames(s.type))
        flags += (flags.empty() ? "" : ", ") + f;
    return flags.empty() ? text : text + " [" + flags + "]";
}

std::string registryLine(const RegistryChange& c) {
    const std::string key = c.key.empty() ? "\\" : c.key;
    if (!c.isValue) {
        if (c.kind == RegistryChange::Kind::Changed)
            return key + "  " + formatStringId(Msg::DiffKeyLevel, {c.before.level, c.after.level});
        return key + "  [" + (c.kind == RegistryChange::Kind::Added ? c.after.level : c.before.level) + "]";
    }
    std::string name = c.value.empty() ? label(11) : "\"" + c.value + "\"";
    std::string line = key + "  " + name + " = ";
    if (c.kind == RegistryChange::Kind::Added)
        return line + valueText(c.after);
    if (c.kind == RegistryChange::Kind::Removed)
        return line + valueText(c.before);
    return line + valueText(c.before) + " -> " + valueText(c.after);
}

Kind kindOf(RegistryChange::Kind k) {
    return k == RegistryChange::Kind::Added     ? Kind::Added
           : k == RegistryChange::Kind::Removed ? Kind::Removed
                                                : Kind::Changed;
}

Kind kindOf(XmlChange::Kind k) {
    switch (k) {
    case XmlChange::Kind::ElementAdded:
    case XmlChange::Kind::AttributeAdded:
        return Kind::Added;
    case XmlChange::Kind::ElementRemoved:
    case XmlChange::Kind::AttributeRemoved:
        return Kind::Removed;
    default:
        return Kind::Changed;
    }
}

std::string xmlLine(const XmlChange& c) {
    switch (c.kind) {
    case XmlChange::Kind::ElementAdded:
    case XmlChange::Kind::ElementRemoved:
        return c.summary.empty() ? c.xpath : c.xpath + "  " + shown(c.summary);
    case XmlChange::Kind::AttributeAdded:
        return c.xpath + "  " + quoted(c.newValue);
    case XmlChange::Kind::AttributeRemoved:
        return c.xpath + "  " + quoted(c.oldValue);
    default:
        return c.xpath + "  " + quoted(c.oldValue) + " -> " + quoted(c.newValue);
    }
}

void fileLines(const std::vector<PackageDiff::FileChange>& changes, uint32_t title, Lines& out) {
    if (changes.empty())
        return;
    out.push_back({label(title) + ":", AttributeDefault});
    size_t width = 0;
    for (const auto& c : changes)
        width = std::max(width, std::min<size_t>(codePointCount(c.path), 64));
    for (const auto& c : changes) {
        std::string what = c.kind == Kind::Added     ? sizeText(c.sizeAfter)
                           : c.kind == Kind::Removed ? sizeText(c.sizeBefore)
                           : c.blocksKnown
                               ? formatStringId(Msg::DiffFileChanged,
                                                {std::to_string(c.sizeBefore), std::to_string(c.sizeAfter),
                                                 std::to_string(c.blocksChanged), std::to_string(c.blocks)})
                               : formatStringId(Msg::DiffFileResized,
                                                {std::to_string(c.sizeBefore), std::to_string(c.sizeAfter)});
        out.push_back({mark(c.kind) + padded(c.path, width) + "  " + what, colourOf(c.kind)});
    }
}

std::string field(const char* key, const std::string& jsonValue) {
    return jsonString(key) + ": " + jsonValue;
}

std::string optionalString(bool present, const std::string& text) {
    return present ? jsonString(text) : "null";
}

const char* kindName(Kind kind) {
    return kind == Kind::Added ? "added" : kind == Kind::Removed ? "removed" : "changed";
}

std::string stateJson(const RegistryChange& c, bool after) {
    const RegistryChange::State& s = after ? c.after : c.before;
    bool present =
        c.kind == RegistryChange::Kind::Changed || (c.kind == RegistryChange::Kind::Added) == after;
    if (!present)
        return "null";
    if (!c.isValue)
        return "{" + field("level", jsonString(s.level)) + "}";
    std::string flags;
    for (const std::string& f : RegistryChange::flagNames(s.type))
        flags += (flags.empty() ? "" : ", ") + jsonString(f);
    return "{" + field("type", jsonString(RegistryChange::typeName(s.type))) + ", " +
           field("typeCode", std::to_string(s.type)) + ", " + field("flags", "[" + flags + "]") + ", " +
           field("data", jsonString(RegistryChange::dataText(s.type, s.data))) + "}";
}

// A JSON array of the objects, one per line.
template <typename T, typename F> std::string array(const std::vector<T>& items, F object) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += std::string(i ? "," : "") + "\n    " + object(items[i]);
    return out + (items.empty() ? "]" : "\n  ]");
}

std::string filesJson(const std::vector<PackageDiff::FileChange>& changes) {
    return array(changes, [](const PackageDiff::FileChange& c) {
        return "{" + field("change", jsonString(kindName(c.kind))) + ", " +
               field("path", jsonString(c.path)) + ", " +
               field("sizeBefore", c.kind == Kind::Added ? "null" : std::to_string(c.sizeBefore)) + ", " +
               field("sizeAfter", c.kind == Kind::Removed ? "null" : std::to_string(c.sizeAfter)) + ", " +
               field("blocks", c.blocksKnown ? std::to_string(c.blocks) : "null") + ", " +
               field("blocksChanged", c.blocksKnown ? std::to_string(c.blocksChanged) : "null") + "}";
    });
}

} // namespace

std::vector<std::pair<std::string, uint16_t>> PackageDiff::textLines() const {
    Lines out;
    if (count() == 0)
        return out;
    if (!identity.empty()) {
        out.push_back({label(0) + ":", AttributeDefault});
        for (const IdentityChange& c : identity)
            out.push_back({mark(Kind::Changed) + padded(c.field, 10) + "  " + quoted(c.before) + " -> " +
                               quoted(c.after),
                           AttributeDefault});
    }
    fileLines(files, 1, out);
    fileLines(scripts, 2, out);
    if (!shortNames.empty()) {
        out.push_back({label(3) + ":", AttributeDefault});
        auto name = [](const std::string& s) { return s.empty() ? label(10) : s; };
        size_t width = 0;
        for (const ShortNameChange& c : shortNames)
            width = std::max(width, std::min<size_t>(codePointCount(c.path), 64));
        for (const ShortNameChange& c : shortNames)
            out.push_back({mark(c.kind) + padded(c.path, width) + "  " +
                               (c.kind == Kind::Added     ? name(c.after)
                                : c.kind == Kind::Removed ? name(c.before)
                                                          : name(c.before) + " -> " + name(c.after)),
                           colourOf(c.kind)});
    }
    for (const PartChanges& p : parts) {
        if (p.changes.empty())
            continue;
        out.push_back({label(p.label) + " (" + p.part + "):", AttributeDefault});
        for (const XmlChange& c : p.changes)
            out.push_back({mark(kindOf(c.kind)) + xmlLine(c), colourOf(kindOf(c.kind))});
    }
    if (!registry.empty()) {
        out.push_back({label(9) + ":", AttributeDefault});
        for (const RegistryChange& c : registry)
            out.push_back({mark(kindOf(c.kind)) + registryLine(c), colourOf(kindOf(c.kind))});
    }
    out.push_back({count() == 1
                       ? formatStringId(Msg::DiffSummaryOne, {before, after})
                       : formatStringId(Msg::DiffSummary, {static_cast<long long>(count()), before, after}),
                   AttributeDefault});
    return out;
}

std::string PackageDiff::json() const {
    std::string out = "{\n";
    out += "  " + field("before", jsonString(before)) + ",\n";
    out += "  " + field("after", jsonString(after)) + ",\n";
    out += "  " + field("identical", count() == 0 ? "true" : "false") + ",\n";
    out += "  " + field("differences", std::to_string(count())) + ",\n";
    out += "  " +
           field("identity", array(identity,
                                   [](const IdentityChange& c) {
                                       return "{" + field("field", jsonString(c.field)) + ", " +
                                              field("before", jsonString(c.before)) + ", " +
                                              field("after", jsonString(c.after)) + "}";
                                   })) +
           ",\n";
    out += "  " + field("files", filesJson(files)) + ",\n";
    out += "  " + field("scripts", filesJson(scripts)) + ",\n";
    out += "  " +
           field("shortNames",
                 array(shortNames,
                       [](const ShortNameChange& c) {
                           return "{" + field("change", jsonString(kindName(c.kind))) + ", " +
                                  field("path", jsonString(c.path)) + ", " +
                                  field("before", optionalString(c.kind != Kind::Added, c.before)) + ", " +
                                  field("after", optionalString(c.kind != Kind::Removed, c.after)) + "}";
                       })) +
           ",\n";
    for (const PartChanges& p : parts)
        out += "  " +
               field(p.key.c_str(),
                     array(p.changes,
                           [](const XmlChange& c) {
                               bool hasBefore = kindOf(c.kind) != Kind::Added,
                                    hasAfter = kindOf(c.kind) != Kind::Removed;
                               return "{" + field("change", jsonString(XmlChange::kindName(c.kind))) + ", " +
                                      field("xpath", jsonString(c.xpath)) + ", " +
                                      field("before", optionalString(hasBefore, c.oldValue)) + ", " +
                                      field("after", optionalString(hasAfter, c.newValue)) + "}";
                           })) +
               ",\n";
    out += "  " +
           field("registry", array(registry,
                                   [](const RegistryChange& c) {
                                       return "{" + field("change", jsonString(kindName(kindOf(c.kind)))) +
                                              ", " + field("key", jsonString(c.key)) + ", " +
                                              field("value", c.isValue ? jsonString(c.value) : "null") +
                                              ", " + field("before", stateJson(c, false)) + ", " +
                                              field("after", stateJson(c, true)) + "}";
                                   })) +
           "\n";
    return out + "}\n";
}

} // namespace quendle
