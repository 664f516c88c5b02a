#include "package/RegistryDiff.h"

#include "hive/HiveName.h"
#include "hive/HiveTree.h"
#include "hive/RegistryValueText.h"
#include "package/PackageRegistry.h"

#include <cstdio>
#include <map>

namespace quendle {

namespace {

using Kind = RegistryChange::Kind;
constexpr uint32_t LevelBits = appvtype::KeyDeleted | appvtype::KeyOverwrite;

std::string levelOf(const HiveKey& key) {
    for (const HiveValue& v : key.values) {
        if (!v.name.empty())
            continue;
        if (v.type & appvtype::KeyDeleted)
            return "deleted";
        if (v.type & appvtype::KeyOverwrite)
            return "overwrite";
    }
    return "merge";
}

// A key's default value that carries only its level (or nothing: type 0 without data) is no
// value of its own.
bool isLevelMarker(const HiveValue& v) {
    if (!v.name.empty() || (v.type & ~LevelBits) != 0)
        return false;
    bool zeros = true;
    for (uint8_t b : v.data)
        zeros = zeros && b == 0;
    return v.data.empty() || ((v.type & appvtype::KeyDeleted) && v.data.size() == 4 && zeros);
}

RegistryChange::State stateOf(const HiveValue& v) {
    return {{}, v.name.empty() ? v.type & ~LevelBits : v.type, v.data};
}

class Walker {
  public:
    std::vector<RegistryChange> changes;

    void key(const HiveKey* a, const HiveKey* b, const std::string& path) {
        static const HiveKey none;
        if (!path.empty()) {
            if (!a || !b)
                changes.push_back({a ? Kind::Removed : Kind::Added,
                                   path,
                                   false,
                                   {},
                                   {a ? levelOf(*a) : std::string(), 0, {}},
                                   {b ? levelOf(*b) : std::string(), 0, {}}});
            else if (levelOf(*a) != levelOf(*b))
                changes.push_back(
                    {Kind::Changed, path, false, {}, {levelOf(*a), 0, {}}, {levelOf(*b), 0, {}}});
        }
        std::map<std::u16string, std::pair<const HiveValue*, const HiveValue*>> values;
        for (const HiveValue& v : (a ? *a : none).values)
            if (!isLevelMarker(v))
                values[hivename::upcased(v.name)].first = &v;
        for (const HiveValue& v : (b ? *b : none).values)
            if (!isLevelMarker(v))
                values[hivename::upcased(v.name)].second = &v;
        for (const auto& [name, pair] : values) {
            auto [old, now] = pair;
            RegistryChange c{Kind::Changed, path, true, hivename::toUtf8((now ? now : old)->name), {}, {}};
            if (old)
                c.before = stateOf(*old);
            if (now)
                c.after = stateOf(*now);
            c.kind = !old ? Kind::Added : !now ? Kind::Removed : Kind::Changed;
            if (c.kind != Kind::Changed || c.before.type != c.after.type || c.before.data != c.after.data)
                changes.push_back(std::move(c));
        }
        std::map<std::u16string, std::pair<const HiveKey*, const HiveKey*>> subkeys;
        for (const auto& k : (a ? *a : none).subkeys)
            if (!k->deleted)
                subkeys[hivename::upcased(k->name)].first = k.get();
        for (const auto& k : (b ? *b : none).subkeys)
            if (!k->deleted)
                subkeys[hivename::upcased(k->name)].second = k.get();
        for (const auto& [name, pair] : subkeys) {
            std::string child = hivename::toUtf8((pair.second ? pair.second : pair.first)->name);
            key(pair.first, pair.second, path.empty() ? child : path + "\\" + child);
        }
    }
};

std::string utf16Text(const std::vector<uint8_t>& data, size_t from, size_t to) {
    std::u16string text;
    for (size_t i = from; i + 1 < to; i += 2)
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    return hivename::toUtf8(text);
}

} // namespace

std::string RegistryChange::typeName(uint32_t type) {
    static const char* const names[] = {"REG_NONE",
                                        "REG_SZ",
                                        "REG_EXPAND_SZ",
                                        "REG_BINARY",
                                        "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN",
                                        "REG_LINK",
                                        "REG_MULTI_SZ",
                                        "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR",
                                        "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};
    uint32_t low = type & regtype::TypeMask;
    if (low < std::size(names))
        return names[low];
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", low);
    return buffer;
}

std::vector<std::string> RegistryChange::flagNames(uint32_t type) {
    std::vector<std::string> out;
    if (type & appvtype::ValueDeleted)
        out.push_back("deleted");
    if (type & appvtype::PathVariable)
        out.push_back("pathvariable");
    if (uint32_t other = type & ~regtype::TypeMask & ~appvtype::ValueDeleted & ~appvtype::PathVariable) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%x", other);
        out.push_back(buffer);
    }
    return out;
}

std::string RegistryChange::dataText(uint32_t type, const std::vector<uint8_t>& data) {
    const uint32_t low = type & regtype::TypeMask;
    if (low == regtype::String || low == regtype::ExpandString || low == 6) {
        std::string text = utf16Text(data, 0, data.size());
        return text.substr(0, text.find('\0'));
    }
    if ((low == regtype::Dword && data.size() == 4) || (low == 11 && data.size() == 8)) {
        unsigned long long number = 0;
        for (size_t i = data.size(); i-- > 0;)
            number = number << 8 | data[i];
        return std::to_string(number);
    }
    if (low == regtype::MultiString) {
        std::string text = utf16Text(data, 0, data.size()), out;
        for (size_t at = 0; at < text.size();) {
            size_t end = std::min(text.find('\0', at), text.size());
            if (end > at)
                out += (out.empty() ? "" : "\n") + text.substr(at, end - at);
            at = end + 1;
        }
        return out;
    }
    std::string hex;
    for (uint8_t b : data) {
        char buffer[4];
        std::snprintf(buffer, sizeof buffer, "%02x", b);
        hex += buffer;
    }
    return hex;
}

std::vector<RegistryChange> diffRegistry(const HiveTree* before, const HiveTree* after) {
    Walker walker;
    walker.key(before ? before->root().get() : nullptr, after ? after->root().get() : nullptr, "");
    return std::move(walker.changes);
}

} // namespace quendle
