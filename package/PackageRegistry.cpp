#include "package/PackageRegistry.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "core/SystemError.h"
#include "hive/OfflineRegException.h"
#include "hive/RegistryValueText.h"
#include "os/FileSystem.h"
#include "os/SystemError.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace quendle {
namespace {

constexpr const char* HiveFileName = "Registry.dat";
constexpr uint32_t DefaultValueDeletedType = appvtype::KeyDeleted;
const std::vector<uint8_t> ZeroDword(4, 0);

// The hive file in the folder: "Registry.dat" in whatever case the archive gave it.
std::string hiveFileIn(const std::string& folder) {
    for (const std::string& name : hostpath::folderEntries(hostpath::toLongPath(folder))) {
        if (equalsIgnoreCaseAscii(name, HiveFileName))
            return hostpath::joinPath(folder, name);
    }
    return hostpath::joinPath(folder, HiveFileName);
}

} // namespace

PackageRegistry::PackageRegistry(std::string location, std::function<void()> onChange)
    : path_(hostpath::folderExists(hostpath::toLongPath(location)) ? hiveFileIn(location)
                                                                   : std::move(location)),
      onChange_(std::move(onChange)) {}

OfflineRegHive& PackageRegistry::hive() {
    if (!hive_.isOpen())
        hive_.Open(hostpath::toLongPath(path_));
    return hive_;
}

void PackageRegistry::save() {
    if (!hive_.isOpen())
        return;
    // Written beside the old hive and renamed over it, so that a failed save keeps the old one.
    std::string path = hostpath::toLongPath(path_);
    std::string fresh = path + ".new";
    hostpath::deleteFile(fresh);
    hive_.Save(fresh);
    if (!hostpath::renameFile(fresh, path)) {
        uint32_t error = SystemError::last().win32Code();
        hostpath::deleteFile(fresh);
        throw OfflineRegException(error, path);
    }
}

void PackageRegistry::changed(std::string_view line) {
    if (ConsoleWriter* writer = ConsoleWriter::installed()) {
        ConsoleColorScope green(AttributeGreen);
        writer->writeLine(line);
    }
    if (onChange_)
        onChange_();
}

void PackageRegistry::SetRegistryKey(const std::string& keyPath, bool merge, bool overwrite, bool deleted) {
    OfflineRegKey key = hive().RootKey().Create(keyPath);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool exists = key.GetValue("", type, data);
    if (overwrite) {
        if (!exists) {
            type = 0;
            data.clear();
        }
        key.SetValue("", (type & ~appvtype::KeyDeleted) | appvtype::KeyOverwrite, data);
    }
    if (deleted)
        key.SetValue("", DefaultValueDeletedType, ZeroDword);
    if (merge && exists) {
        type &= ~(appvtype::KeyDeleted | appvtype::KeyOverwrite);
        if (type == 0 && data.empty())
            key.DeleteValue("");
        else
            key.SetValue("", type, data);
    }
    changed(formatStringId(Msg::RegistryKeyUpdated, {keyPath}));
}

void PackageRegistry::SetRegistryValue(const std::string& keyPath, const std::string& valueName,
                                       uint32_t valueType, const std::string& valueText, bool pathVariable) {
    OfflineRegKey key = hive().RootKey().Create(keyPath);
    uint32_t flags = 0;
    uint32_t oldType = 0;
    if (key.GetType(valueName, oldType))
        flags = oldType & ~(regtype::TypeMask | appvtype::ValueDeleted);
    if (pathVariable)
        flags |= appvtype::PathVariable;
    key.SetValueFromText(valueName, valueType, flags, valueText);
    changed(formatStringId(Msg::RegistryValueSet, {valueName, keyPath, valueText}));
}

void PackageRegistry::SetVirtualizeRegValueDeleted(const std::string& keyPath, const std::string& valueName) {
    OfflineRegKey key = hive().RootKey().Create(keyPath);
    key.SetValue(valueName, appvtype::ValueDeleted, ZeroDword);
    changed(formatStringId(Msg::RegistryValueVirtualizedDeleted, {valueName, keyPath}));
}

void PackageRegistry::DeleteRegistryValue(const std::string& keyPath, const std::string& valueName) {
    OfflineRegKey key = hive().RootKey().Open(keyPath);
    key.DeleteValue(valueName);
    changed(formatStringId(Msg::RegistryValueDeleted, {valueName, keyPath}));
}

void PackageRegistry::DeleteRegistryKey(const std::string& keyPath) {
    hive().DeleteKey(keyPath);
    changed(formatStringId(Msg::RegistryKeyDeleted, {keyPath}));
}

void PackageRegistry::DeleteRegistryKeyTree(const std::string& keyPath) {
    hive().DeleteKeyTree(keyPath);
    changed(formatStringId(Msg::RegistryKeyDeleted, {keyPath}));
}

bool PackageRegistry::isValidKeyPath(const std::string& keyPath) {
    size_t first = keyPath.find_first_not_of('\\');
    if (first == std::string::npos)
        return false;
    size_t last = keyPath.find_last_not_of('\\');
    std::string_view trimmed = std::string_view(keyPath).substr(first, last - first + 1);
    size_t sep = trimmed.find('\\');
    if (sep == std::string_view::npos)
        return false;
    std::string_view second = trimmed.substr(sep + 1);
    second = second.substr(0, second.find('\\'));
    return equalsIgnoreCaseAscii(trimmed.substr(0, sep), "REGISTRY") &&
           (equalsIgnoreCaseAscii(second, "MACHINE") || equalsIgnoreCaseAscii(second, "USER"));
}

void PackageRegistry::checkKeyPath(const std::string& keyPath) {
    if (!isValidKeyPath(keyPath))
        throw Exception(Msg::RegistryKeyPathInvalid);
}

uint32_t PackageRegistry::valueTypeFromText(const std::string& text) {
    if (text == "sz")
        return regtype::String;
    if (text == "expandsz")
        return regtype::ExpandString;
    if (text == "dword")
        return regtype::Dword;
    if (text == "multisz")
        return regtype::MultiString;
    if (text == "binary")
        return regtype::Binary;
    return regtype::None;
}

} // namespace quendle
