#include "package/RegistryImport.h"

#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "hive/RegistryValueText.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/PackageFiles.h"
#include "package/PackageRegistry.h"
#include "util/strings/MessageFormat.h"

namespace quendle {
namespace {

// The subkeys of a key, or none when it does not exist.
std::vector<std::string> subkeysOf(const OfflineRegKey& root, const std::string& path) {
    try {
        return root.Open(path).EnumSubkeys();
    } catch (const IException&) {
        return {};
    }
}

bool keyExists(const OfflineRegKey& root, const std::string& path) {
    try {
        root.Open(path);
        return true;
    } catch (const IException&) {
        return false;
    }
}

} // namespace

RegistryImport::RegistryImport(OfflineRegHive& hive) : hive_(hive) {
    const std::vector<std::string> users = subkeysOf(hive_.RootKey(), "REGISTRY\\USER");
    currentUserKey_ = users.size() == 1 ? users.front() : std::string(CurrentUserToken);
}

std::string RegistryImport::keyPathOf(const RegFileEdit& edit) const {
    std::string base;
    switch (edit.root) {
    case RegFileRoot::LocalMachine:
        base = "REGISTRY\\MACHINE";
        break;
    case RegFileRoot::CurrentUser:
        base = "REGISTRY\\USER\\" + currentUserKey_;
        break;
    case RegFileRoot::ClassesRoot:
        base = "REGISTRY\\MACHINE\\Software\\Classes";
        break;
    case RegFileRoot::Users:
        base = "REGISTRY\\USER";
        break;
    case RegFileRoot::CurrentConfig:
        base = "REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";
        break;
    }
    return edit.subkey.empty() ? base : base + "\\" + edit.subkey;
}

RegistryImport::Counts RegistryImport::apply(const std::vector<RegFileEdit>& edits) {
    Counts counts;
    const OfflineRegKey root = hive_.RootKey();
    for (const RegFileEdit& edit : edits) {
        const std::string path = keyPathOf(edit);
        switch (edit.kind) {
        case RegFileEdit::Kind::CreateKey:
            root.Create(path);
            ++counts.keysWritten;
            break;
        case RegFileEdit::Kind::DeleteKeyTree:
            if (keyExists(root, path)) {
                hive_.DeleteKeyTree(path);
                ++counts.keysDeleted;
            }
            break;
        case RegFileEdit::Kind::DeleteValue: {
            if (!keyExists(root, path))
                break;
            OfflineRegKey key = root.Open(path);
            uint32_t type = 0;
            if (key.GetType(edit.valueName, type)) {
                key.DeleteValue(edit.valueName);
                ++counts.valuesDeleted;
            }
            break;
        }
        case RegFileEdit::Kind::SetValue: {
            OfflineRegKey key = root.Create(path);
            uint32_t flags = 0;
            uint32_t oldType = 0;
            if (key.GetType(edit.valueName, oldType))
                flags = oldType & ~(regtype::TypeMask | appvtype::ValueDeleted);
            key.SetValue(edit.valueName, edit.type | flags, edit.data);
            ++counts.valuesSet;
            break;
        }
        }
    }
    return counts;
}

void importRegistryCommand(AppV5Package& package, std::string_view regFilePath) {
    const std::string path = hostpath::normalizePath(regFilePath);
    if (!hostpath::fileExists(hostpath::toLongPath(path)))
        throw Exception(Msg::FileNotFound, path);
    const std::vector<RegFileEdit> edits = RegFileReader::read(path);
    package.openOnDemand();
    const RegistryImport::Counts counts = RegistryImport(package.registry().hive()).apply(edits);
    if (!edits.empty())
        package.markModified();
    printChange(formatStringId(Msg::RegistryImported, {path, counts.keysWritten, counts.keysDeleted,
                                                       counts.valuesSet, counts.valuesDeleted}));
}

} // namespace quendle
