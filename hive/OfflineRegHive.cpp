#include "hive/OfflineRegHive.h"

#include "core/SystemError.h"
#include "hive/HiveName.h"
#include "hive/HiveTree.h"
#include "hive/OfflineRegException.h"
#include "hive/RegfFormat.h"
#include "hive/RegfReader.h"
#include "hive/RegfWriter.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

OfflineRegHive::OfflineRegHive() = default;
OfflineRegHive::~OfflineRegHive() = default;
OfflineRegHive::OfflineRegHive(OfflineRegHive&&) noexcept = default;
OfflineRegHive& OfflineRegHive::operator=(OfflineRegHive&&) noexcept = default;

const std::shared_ptr<HiveTree>& OfflineRegHive::tree() const {
    if (!tree_)
        throw Exception(HiveNotOpenText);
    return tree_;
}

void OfflineRegHive::Open(const std::string& path) {
    try {
        tree_ = RegfReader::readFile(path);
    } catch (const regf::RegfError& e) {
        throw OfflineRegException(e.win32Error(), formatStringId(Msg::PathSystemError, {path, e.what()}));
    } catch (const std::bad_alloc&) {
        throw OfflineRegException(win32::NotEnoughMemory, path);
    }
}

std::shared_ptr<HiveTree> OfflineRegHive::ReadImage(std::span<const uint8_t> image) {
    try {
        return RegfReader::read(image);
    } catch (const std::exception& e) { // RegfError, and a size the machine cannot hold
        throw Exception(formatStringId(Msg::HiveUnreadable, {e.what()}));
    }
}

void OfflineRegHive::CreateNew(const std::string& rootName, uint32_t minorVersion) {
    auto name = hivename::fromUtf8(rootName);
    if (!name || name->size() > regf::MaxKeyNameLength || minorVersion < 3 || minorVersion > 6)
        throw OfflineRegException(win32::InvalidParameter, rootName);
    tree_ = HiveTree::createEmpty(*name, minorVersion);
}

void OfflineRegHive::Save(const std::string& path) const {
    const auto& t = tree();
    try {
        RegfWriter::writeFile(*t, path);
    } catch (const regf::RegfError& e) {
        throw OfflineRegException(e.win32Error(), formatStringId(Msg::PathSystemError, {path, e.what()}));
    }
}

void OfflineRegHive::Close() {
    tree_.reset();
}

OfflineRegKey OfflineRegHive::RootKey() const {
    const auto& t = tree();
    return OfflineRegKey(t, t->root());
}

void OfflineRegHive::DeleteKey(const std::string& keyPath) {
    OfflineRegKey key = RootKey().Open(keyPath);
    uint32_t error = tree()->deleteKey(*key.key_);
    if (error != win32::Success)
        throw OfflineRegException(error, keyPath);
}

namespace {

// Post-order over the nodes themselves, so that names need no round trip through UTF-8.
uint32_t deleteTree(HiveTree& tree, HiveKey& key) {
    while (!key.subkeys.empty()) {
        std::shared_ptr<HiveKey> child = key.subkeys.back();
        if (uint32_t error = deleteTree(tree, *child))
            return error;
    }
    return tree.deleteKey(key);
}

} // namespace

void OfflineRegHive::DeleteKeyTree(const std::string& keyPath) {
    OfflineRegKey key = RootKey().Open(keyPath);
    if (!key.key_->parent)
        throw OfflineRegException(win32::AccessDenied, keyPath);
    uint32_t error = deleteTree(*tree(), *key.key_);
    if (error != win32::Success)
        throw OfflineRegException(error, keyPath);
}

uint32_t OfflineRegHive::formatMinorVersion() const {
    return tree()->minorVersion();
}

} // namespace quendle
