#include "QuendleCommandContainer.h"

#include "core/Exception.h"
#include "msicomp/command/CommandLineException.h"
#include "os/FileSystem.h"
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
    checkCount(values, 2, Count::AtLeast);
    setPackagePath(hostpath::normalizePath(values[0]));
    std::string name = values[1];
    if (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    std::vector<std::string> arguments;
    uint32_t result = 0;
    for (size_t i = 2; i < values.size(); ++i) {
        const std::string& v = values[i];
        // Sub-commands are told apart only by a leading '/' before a known command name.
        if (!v.empty() && v.front() == '/' && findCommand(std::string_view(v).substr(1), false)) {
            if (!name.empty()) {
                result = executeCommand(name, arguments);
                if (result != 0)
                    return result;
            }
            name = v.substr(1);
            arguments.clear();
        } else {
            arguments.push_back(v);
        }
    }
    if (!name.empty())
        result = executeCommand(name, arguments);
    savePackageIfModified();
    return result;
}

uint32_t QuendleCommandContainer::batchFileUpdate(const CommandValues& values) {
    checkCount(values, 3);
    setPackagePath(hostpath::normalizePath(values[0]));
    std::string commandFilePath = hostpath::absolutePath(hostpath::normalizePath(values[1]));
    bool noFail = equalsIgnoreCaseAscii(values[2], "true");
    commandFile_.run(commandFilePath, noFail);
    savePackageIfModified();
    return 0;
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
    checkCount(values, 3);
    notAvailable("Set-NodeText");
}

uint32_t QuendleCommandContainer::newElement(const CommandValues& values) {
    checkCount(values, 6);
    notAvailable("New-Element");
}

uint32_t QuendleCommandContainer::setElementAttribute(const CommandValues& values) {
    checkCount(values, 4);
    notAvailable("Set-ElementAttribute");
}

uint32_t QuendleCommandContainer::delSingleNode(const CommandValues& values) {
    checkCount(values, 2);
    notAvailable("Del-SingleNode");
}

uint32_t QuendleCommandContainer::delNodes(const CommandValues& values) {
    checkCount(values, 2);
    notAvailable("Del-Nodes");
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
    checkCount(values, 2, Count::AtLeast);
    transformParameters(values);
    notAvailable("TransformManifest");
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
