#include "hive/OfflineRegKey.h"

#include "core/SystemError.h"
#include "hive/HiveName.h"
#include "hive/HiveTree.h"
#include "hive/OfflineRegException.h"
#include "hive/RegistryValueText.h"

namespace quendle {
namespace {

std::u16string wide(const std::string& text) {
    auto w = hivename::fromUtf8(text);
    if (!w)
        throw OfflineRegException(win32::InvalidParameter, "name is not UTF-8: " + text);
    return *w;
}

void check(uint32_t error, const std::string& what) {
    if (error != win32::Success)
        throw OfflineRegException(error, what);
}

// A deleted key keeps its object for the handles still open on it, but its contents are gone.
HiveKey& liveKey(HiveKey& k, const std::string& what) {
    if (k.deleted)
        check(win32::KeyDeleted, what);
    return k;
}

} // namespace

OfflineRegKey::OfflineRegKey(std::shared_ptr<HiveTree> tree, std::shared_ptr<HiveKey> key)
    : tree_(std::move(tree)), key_(std::move(key)) {}

void OfflineRegKey::Close() {
    key_.reset();
    tree_.reset();
}

HiveKey& OfflineRegKey::key() const {
    if (!key_)
        throw Exception(HiveNotOpenText);
    return *key_;
}

OfflineRegKey OfflineRegKey::walk(const std::string& relativePath, bool create) const {
    key();
    std::shared_ptr<HiveKey> current = key_;
    std::u16string path = wide(relativePath);
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        if (end > start) {
            std::u16string_view name(path.data() + start, end - start);
            std::shared_ptr<HiveKey> next;
            uint32_t error =
                create ? tree_->createSubkey(*current, name, next) : tree_->openSubkey(*current, name, next);
            check(error, relativePath);
            current = std::move(next);
        } else if (current->deleted) {
            check(win32::KeyDeleted, relativePath);
        }
        start = end + 1;
    }
    return OfflineRegKey(tree_, std::move(current));
}

OfflineRegKey OfflineRegKey::Create(const std::string& relativePath) const {
    return walk(relativePath, true);
}

OfflineRegKey OfflineRegKey::Open(const std::string& relativePath) const {
    return walk(relativePath, false);
}

void OfflineRegKey::SetValue(const std::string& name, uint32_t type, std::span<const uint8_t> data) {
    HiveKey& k = key();
    check(tree_->setValue(k, wide(name), type, data), name);
}

void OfflineRegKey::SetValue(const std::string& name, uint32_t type, const void* data, size_t size) {
    SetValue(name, type, std::span<const uint8_t>(static_cast<const uint8_t*>(data), data ? size : 0));
}

bool OfflineRegKey::GetValue(const std::string& name, uint32_t& type, std::vector<uint8_t>& data) const {
    const HiveValue* v = liveKey(key(), name).findValue(wide(name));
    if (!v)
        return false;
    type = v->type;
    data = v->data;
    return true;
}

bool OfflineRegKey::GetType(const std::string& name, uint32_t& type) const {
    const HiveValue* v = liveKey(key(), name).findValue(wide(name));
    if (!v)
        return false;
    type = v->type;
    return true;
}

void OfflineRegKey::DeleteValue(const std::string& name) {
    HiveKey& k = key();
    check(tree_->deleteValue(k, wide(name)), name);
}

std::vector<std::string> OfflineRegKey::EnumSubkeys() const {
    const HiveKey& k = liveKey(key(), "");
    std::vector<std::string> names;
    names.reserve(k.subkeys.size());
    for (const auto& s : k.subkeys)
        names.push_back(hivename::toUtf8(s->name));
    return names;
}

std::vector<std::string> OfflineRegKey::EnumValues() const {
    const HiveKey& k = liveKey(key(), "");
    std::vector<std::string> names;
    names.reserve(k.values.size());
    for (const auto& v : k.values)
        names.push_back(hivename::toUtf8(v.name));
    return names;
}

void OfflineRegKey::SetValueFromText(const std::string& name, uint32_t valueType, uint32_t typeFlags,
                                     const std::string& text) {
    key();
    std::vector<uint8_t> data = regtext::dataFromText(valueType, text);
    SetValue(name, valueType | typeFlags, data);
}

std::string OfflineRegKey::Name() const {
    return hivename::toUtf8(key().name);
}

} // namespace quendle
