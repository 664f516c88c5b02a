#include "QuendleCommandContainer.h"

#include "core/Exception.h"
#include "msicomp/command/CommandLineException.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/PackageCommands.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"

namespace quendle {
namespace {

enum class Count { Exactly, AtLeast };

// The parser always delivers one value per parameter; anything else is an internal fault.
void checkCount(const CommandValues& values, size_t expected, Count kind = Count::Exactly) {
    bool ok = kind == Count::Exactly ? values.size() == expected : values.size() >= expected;
    if (!ok)
        throw Exception(65000);
}

void checkSourceFile(const std::string& path) {
    if (!hostpath::pathExists(path))
        throw Exception(65012, path);
}

// Sub-commands whose package operations are not part of this build yet fail cleanly.
[[noreturn]] void notAvailable(const char* command) {
    throw Exception("The command \"" + std::string(command) + "\" is not available yet in this build.");
}

// The package model's commands need the one package of the run.
AppV5Package& requirePackage(AppV5Package* package) {
    if (!package)
        throw Exception(65022);
    return *package;
}

} // namespace

void QuendleCommandContainer::setPackagePath(const std::string& path) {
    if (!hostpath::fileExists(path))
        throw Exception(65012, path);
    // The package model takes the path here once it is linked in (package_->setPackagePath).
}

void QuendleCommandContainer::savePackageIfModified() {
    // The package model saves here when a sub-command changed it (package_->isModified / save).
}

uint32_t QuendleCommandContainer::update(const CommandValues& values) {
    return PackageCommands::update(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::batchFileUpdate(const CommandValues& values) {
    return PackageCommands::batchFileUpdate(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::help(const CommandValues& values) {
    checkCount(values, 1);
    printHelp(values[0]);
    return 0;
}

uint32_t QuendleCommandContainer::updatePackageIdentity(const CommandValues& values) {
    checkCount(values, 3);
    notAvailable("Update-PackageIdentity");
}

uint32_t QuendleCommandContainer::updatePackageHistory(const CommandValues& values) {
    checkCount(values, 2);
    if (values[0].empty() != values[1].empty())
        throw Exception(184);
    notAvailable("Update-PackageHistory");
}

uint32_t QuendleCommandContainer::addFile(const CommandValues& values) {
    checkCount(values, 2);
    checkSourceFile(values[1]);
    notAvailable("Add-File");
}

uint32_t QuendleCommandContainer::updateFile(const CommandValues& values) {
    checkCount(values, 2);
    checkSourceFile(values[1]);
    notAvailable("Update-File");
}

uint32_t QuendleCommandContainer::delFile(const CommandValues& values) {
    checkCount(values, 1);
    notAvailable("Del-File");
}

uint32_t QuendleCommandContainer::addScriptFile(const CommandValues& values) {
    checkCount(values, 1);
    checkSourceFile(values[0]);
    notAvailable("Add-ScriptFile");
}

uint32_t QuendleCommandContainer::updateScriptFile(const CommandValues& values) {
    checkCount(values, 2);
    checkSourceFile(values[1]);
    notAvailable("Update-ScriptFile");
}

uint32_t QuendleCommandContainer::delScriptFile(const CommandValues& values) {
    checkCount(values, 1);
    notAvailable("Del-ScriptFile");
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

std::vector<std::pair<std::string, std::string>>
QuendleCommandContainer::transformParameters(const CommandValues& values) const {
    if (values.size() % 2 != 0)
        throw CommandLineException(this, "TransformManifest", loadString(162));
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 2; i + 1 < values.size(); i += 2) {
        const std::string& name = values[i];
        if (name.empty() || name.front() != '-')
            throw CommandLineException(this, "TransformManifest", loadString(161));
        size_t start = name.find_first_not_of('-');
        out.emplace_back(start == std::string::npos ? std::string() : name.substr(start), values[i + 1]);
    }
    return out;
}

uint32_t QuendleCommandContainer::transformManifest(const CommandValues& values) {
    return PackageCommands::transformManifest(requirePackage(package_), *this, values);
}

uint32_t QuendleCommandContainer::setRegistryKey(const CommandValues& values) {
    checkCount(values, 2);
    notAvailable("Set-RegistryKey");
}

uint32_t QuendleCommandContainer::setRegistryValue(const CommandValues& values) {
    checkCount(values, 5);
    notAvailable("Set-RegistryValue");
}

uint32_t QuendleCommandContainer::setVirtualizeRegValueDeleted(const CommandValues& values) {
    checkCount(values, 2);
    notAvailable("Set-VirtualizeRegValueDeleted");
}

uint32_t QuendleCommandContainer::delRegistryValue(const CommandValues& values) {
    checkCount(values, 2);
    notAvailable("Del-RegistryValue");
}

uint32_t QuendleCommandContainer::delRegistryKey(const CommandValues& values) {
    checkCount(values, 1);
    notAvailable("Del-RegistryKey");
}

uint32_t QuendleCommandContainer::delRegistryKeyAndSubkeys(const CommandValues& values) {
    checkCount(values, 1);
    notAvailable("Del-RegistryKeyAndSubkeys");
}

} // namespace quendle
