#include "cli/QuendleCommandContainer.h"

#include "cli/PackageCommands.h"
#include "core/Exception.h"
#include "package/AppV5Package.h"
#include "package/PackageFiles.h"
#include "package/PackageFolders.h"
#include "package/PackageHistory.h"
#include "package/PackageIdentity.h"
#include "package/PackageRegistry.h"
#include "package/RegistryImport.h"
#include "util/strings/StringSystem.h"

namespace quendle {
namespace {

enum class Count { Exactly, AtLeast };

// The parser always delivers one value per parameter; anything else is an internal fault.
void checkCount(const CommandValues& values, size_t expected, Count kind = Count::Exactly) {
    bool ok = kind == Count::Exactly ? values.size() == expected : values.size() >= expected;
    if (!ok)
        throw Exception(Msg::UnexpectedException);
}

// The package model's commands need the one package of the run.
AppV5Package& requirePackage(AppV5Package* package) {
    if (!package)
        throw Exception(Msg::NullPointer);
    return *package;
}

// The registry commands: the key path is checked before the package is opened (177).
PackageRegistry& openedRegistry(AppV5Package* package, const std::string& keyPath) {
    PackageRegistry::checkKeyPath(keyPath);
    AppV5Package& opened = requirePackage(package);
    opened.openOnDemand();
    return opened.registry();
}

} // namespace

uint32_t QuendleCommandContainer::update(const CommandValues& values) {
    return PackageCommands::update(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::batchFileUpdate(const CommandValues& values) {
    return PackageCommands::batchFileUpdate(requirePackage(package_), commandFile_, values);
}

uint32_t QuendleCommandContainer::help(const CommandValues& values) {
    checkCount(values, 1);
    printHelp(values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::updatePackageIdentity(const CommandValues& values) {
    checkCount(values, 3);
    quendle::updatePackageIdentity(requirePackage(package_), values[0], values[1], values[2]);
    return 0;
}

uint32_t QuendleCommandContainer::updatePackageHistory(const CommandValues& values) {
    checkCount(values, 2);
    quendle::updatePackageHistory(requirePackage(package_), values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::addFile(const CommandValues& values) {
    checkCount(values, 2);
    addFileCommand(requirePackage(package_), values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::updateFile(const CommandValues& values) {
    checkCount(values, 2);
    updateFileCommand(requirePackage(package_), values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::delFile(const CommandValues& values) {
    checkCount(values, 1);
    deleteFileCommand(requirePackage(package_), values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::addScriptFile(const CommandValues& values) {
    checkCount(values, 1);
    addScriptFileCommand(requirePackage(package_), values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::updateScriptFile(const CommandValues& values) {
    checkCount(values, 2);
    updateScriptFileCommand(requirePackage(package_), values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::delScriptFile(const CommandValues& values) {
    checkCount(values, 1);
    deleteScriptFileCommand(requirePackage(package_), values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::setNodeText(const CommandValues& values) {
    return PackageCommands::setNodeText(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::newElement(const CommandValues& values) {
    return PackageCommands::newElement(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::setElementAttribute(const CommandValues& values) {
    return PackageCommands::setElementAttribute(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::delSingleNode(const CommandValues& values) {
    return PackageCommands::delSingleNode(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::delNodes(const CommandValues& values) {
    return PackageCommands::delNodes(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::transformManifest(const CommandValues& values) {
    return PackageCommands::transformManifest(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::setRegistryKey(const CommandValues& values) {
    checkCount(values, 2);
    // The levels compare exactly: "Merge" passes the parser but sets no level.
    const std::string& level = values[1];
    openedRegistry(package_, values[0])
        .SetRegistryKey(values[0], level == "merge", level == "overwrite", level == "deleted");
    return 0;
}

uint32_t QuendleCommandContainer::setRegistryValue(const CommandValues& values) {
    checkCount(values, 5);
    openedRegistry(package_, values[0])
        .SetRegistryValue(values[0], values[1], PackageRegistry::valueTypeFromText(values[2]), values[3],
                          equalsIgnoreCaseAscii(values[4], "true"));
    return 0;
}

uint32_t QuendleCommandContainer::setVirtualizeRegValueDeleted(const CommandValues& values) {
    checkCount(values, 2);
    openedRegistry(package_, values[0]).SetVirtualizeRegValueDeleted(values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::delRegistryValue(const CommandValues& values) {
    checkCount(values, 2);
    openedRegistry(package_, values[0]).DeleteRegistryValue(values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::delRegistryKey(const CommandValues& values) {
    checkCount(values, 1);
    openedRegistry(package_, values[0]).DeleteRegistryKey(values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::delRegistryKeyAndSubkeys(const CommandValues& values) {
    checkCount(values, 1);
    openedRegistry(package_, values[0]).DeleteRegistryKeyTree(values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::addFolder(const CommandValues& values) {
    checkCount(values, 2);
    addFolderCommand(requirePackage(package_), values[0], values[1]);
    return 0;
}

uint32_t QuendleCommandContainer::delFolder(const CommandValues& values) {
    checkCount(values, 1);
    deleteFolderCommand(requirePackage(package_), values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::importRegistry(const CommandValues& values) {
    checkCount(values, 1);
    importRegistryCommand(requirePackage(package_), values[0]);
    return 0;
}

} // namespace quendle
