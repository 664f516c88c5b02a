#include "hive/HiveTree.h"
#include "os/SourceDateEpoch.h"

#include "core/SystemError.h"
#include "hive/HiveName.h"
#include "hive/RegfFormat.h"

#include <algorithm>
#include <chrono>

namespace quendle {

std::shared_ptr<HiveKey> HiveKey::findSubkey(std::u16string_view subkeyName) const {
    size_t i = subkeyPosition(subkeyName);
    if (i < subkeys.size() && hivename::compare(subkeys[i]->name, subkeyName) == 0)
        return subkeys[i];
    return nullptr;
}

size_t HiveKey::subkeyPosition(std::u16string_view subkeyName) const {
    auto it = std::lower_bound(subkeys.begin(), subkeys.end(), subkeyName,
                               [](const std::shared_ptr<HiveKey>& k, std::u16string_view n) {
                                   return hivename::compare(k->name, n) < 0;
                               });
    return static_cast<size_t>(it - subkeys.begin());
}

HiveValue* HiveKey::findValue(std::u16string_view valueName) {
    for (auto& v : values) {
        if (hivename::compare(v.name, valueName) == 0)
            return &v;
    }
    return nullptr;
}

std::shared_ptr<HiveTree> HiveTree::createEmpty(std::u16string_view rootName, uint32_t minorVersion) {
    auto tree = std::make_shared<HiveTree>();
    tree->minorVersion_ = minorVersion;
    tree->securityDescriptors_.push_back(defaultSecurityDescriptor());
    auto root = std::make_shared<HiveKey>();
    root->name = std::u16string(rootName);
    root->flags = regf::KeyHiveEntry | regf::KeyNoDelete;
    root->lastWrite = now();
    root->security = 0;
    tree->root_ = std::move(root);
    return tree;
}

uint32_t HiveTree::createSubkey(HiveKey& parent, std::u16string_view name, std::shared_ptr<HiveKey>& out) {
    if (parent.deleted)
        return win32::KeyDeleted;
    if (name.empty() || name.size() > regf::MaxKeyNameLength || name.find(u'\\') != std::u16string_view::npos)
        return win32::InvalidParameter;
    size_t pos = parent.subkeyPosition(name);
    if (pos < parent.subkeys.size() && hivename::compare(parent.subkeys[pos]->name, name) == 0) {
        out = parent.subkeys[pos];
        return win32::Success;
    }
    uint32_t depth = 0;
    for (const HiveKey* k = &parent; k; k = k->parent)
        ++depth;
    if (depth >= regf::MaxTreeDepth)
        return win32::InvalidParameter;
    auto key = std::make_shared<HiveKey>();
    key->name = std::u16string(name);
    key->lastWrite = now();
    key->parent = &parent;
    parent.subkeys.insert(parent.subkeys.begin() + static_cast<std::ptrdiff_t>(pos), key);
    parent.lastWrite = key->lastWrite;
    out = std::move(key);
    return win32::Success;
}

uint32_t HiveTree::openSubkey(const HiveKey& parent, std::u16string_view name,
                              std::shared_ptr<HiveKey>& out) const {
    if (parent.deleted)
        return win32::KeyDeleted;
    auto key = parent.findSubkey(name);
    if (!key)
        return win32::FileNotFound;
    out = std::move(key);
    return win32::Success;
}

uint32_t HiveTree::setValue(HiveKey& key, std::u16string_view name, uint32_t type,
                            std::span<const uint8_t> data) {
    if (key.deleted)
        return win32::KeyDeleted;
    if (name.size() > regf::MaxValueNameLength || data.size() > maxValueSize())
        return win32::InvalidParameter;
    HiveValue* value = key.findValue(name);
    if (!value) {
        key.values.push_back(HiveValue{std::u16string(name), 0, {}});
        value = &key.values.back();
    }
    value->type = type;
    value->data.assign(data.begin(), data.end());
    key.lastWrite = now();
    return win32::Success;
}

uint32_t HiveTree::deleteValue(HiveKey& key, std::u16string_view name) {
    if (key.deleted)
        return win32::KeyDeleted;
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const HiveValue& v) { return hivename::compare(v.name, name) == 0; });
    if (it == key.values.end())
        return win32::FileNotFound;
    key.values.erase(it);
    key.lastWrite = now();
    return win32::Success;
}

uint32_t HiveTree::deleteKey(HiveKey& key) {
    if (key.deleted)
        return win32::KeyDeleted;
    if (!key.parent || (key.flags & regf::KeyNoDelete) || !key.subkeys.empty())
        return win32::AccessDenied;
    HiveKey& parent = *key.parent;
    auto it = std::find_if(parent.subkeys.begin(), parent.subkeys.end(),
                           [&](const std::shared_ptr<HiveKey>& k) { return k.get() == &key; });
    if (it == parent.subkeys.end())
        return win32::RegistryCorrupt;
    // Open handles may still point at the key: they see it as deleted from now on.
    std::shared_ptr<HiveKey> keep = *it;
    parent.subkeys.erase(it);
    parent.lastWrite = now();
    keep->deleted = true;
    keep->parent = nullptr;
    return win32::Success;
}

uint64_t HiveTree::maxValueSize() const {
    if (minorVersion_ >= 4)
        return static_cast<uint64_t>(regf::BigDataSegmentSize) * regf::BigDataMaxSegments;
    // One cell: a signed 32-bit size that includes its own four bytes, in a bin with a header.
    return 0x7FFFFFFFull - regf::BinAlignment - 8;
}

std::vector<uint8_t> HiveTree::defaultSecurityDescriptor() {
    auto sid = [](std::vector<uint32_t> subAuthorities) {
        std::vector<uint8_t> s = {1, static_cast<uint8_t>(subAuthorities.size()), 0, 0, 0, 0, 0, 5};
        for (uint32_t a : subAuthorities)
            for (int i = 0; i < 4; ++i)
                s.push_back(static_cast<uint8_t>(a >> (8 * i)));
        return s;
    };
    const auto system = sid({18});
    const auto administrators = sid({32, 544});
    const auto users = sid({32, 545});
    constexpr uint32_t KeyAllAccess = 0xF003F;
    constexpr uint32_t KeyRead = 0x20019;
    constexpr uint8_t ContainerInherit = 0x02;

    std::vector<uint8_t> acl(8);
    auto addAce = [&](uint32_t mask, const std::vector<uint8_t>& who) {
        size_t start = acl.size();
        acl.resize(start + 8);
        acl[start] = 0; // access allowed
        acl[start + 1] = ContainerInherit;
        regf::put16(&acl[start + 2], static_cast<uint16_t>(8 + who.size()));
        regf::put32(&acl[start + 4], mask);
        acl.insert(acl.end(), who.begin(), who.end());
    };
    addAce(KeyAllAccess, system);
    addAce(KeyAllAccess, administrators);
    addAce(KeyRead, users);
    acl[0] = 2;
    regf::put16(&acl[2], static_cast<uint16_t>(acl.size()));
    regf::put16(&acl[4], 3);

    constexpr uint16_t SelfRelative = 0x8000;
    constexpr uint16_t DaclPresent = 0x0004;
    std::vector<uint8_t> sd(20);
    sd[0] = 1;
    regf::put16(&sd[2], SelfRelative | DaclPresent);
    uint32_t owner = 20;
    uint32_t group = owner + static_cast<uint32_t>(administrators.size());
    uint32_t dacl = group + static_cast<uint32_t>(system.size());
    regf::put32(&sd[4], owner);
    regf::put32(&sd[8], group);
    regf::put32(&sd[12], 0);
    regf::put32(&sd[16], dacl);
    sd.insert(sd.end(), administrators.begin(), administrators.end());
    sd.insert(sd.end(), system.begin(), system.end());
    sd.insert(sd.end(), acl.begin(), acl.end());
    return sd;
}

uint64_t HiveTree::now() {
    using namespace std::chrono;
    constexpr uint64_t UnixEpochAsFileTime = 116444736000000000ull;
    // Key times and the hive's own follow SOURCE_DATE_EPOCH like the archive's dates.
    if (std::optional<int64_t> seconds = sourceDateEpoch())
        return UnixEpochAsFileTime + static_cast<uint64_t>(*seconds) * 10000000ull;
    auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return UnixEpochAsFileTime + static_cast<uint64_t>(since / 100);
}

} // namespace quendle
