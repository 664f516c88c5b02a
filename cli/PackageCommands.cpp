#include "cli/PackageCommands.h"

#include "cli/Command.h"
#include "cli/CommandFile.h"
#include "cli/CommandLineException.h"
#include "cli/ICommandContainer.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/XmlPartEditor.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/XslTransform.h"

namespace quendle {

namespace {

// The parser guarantees the count; a mismatch is a defect of the command table.
void requireCount(const PackageCommands::Values& values, size_t count) {
    if (values.size() != count)
        throw Exception(Msg::UnexpectedException);
}

void requireAtLeast(const PackageCommands::Values& values, size_t count) {
    if (values.size() < count)
        throw Exception(Msg::UnexpectedException);
}

bool isTrue(const std::string& value) {
    return equalsIgnoreCaseAscii(value, "true");
}

// Saves when something changed; a failed save has been presented and its code is the result.
uint32_t saveIfModified(AppV5Package& package, uint32_t result) {
    if (!package.isModified())
        return result;
    uint32_t saved = package.save();
    return saved != 0 ? saved : result;
}

} // namespace

bool PackageCommands::namesCommand(const ICommandContainer& container, const std::string& name) {
    for (const Command& command : container.getCommands())
        if (equalsIgnoreCaseAscii(command.name(), name))
            return true;
    return false;
}

uint32_t PackageCommands::update(AppV5Package& package, ICommandContainer& container, const Values& values) {
    requireAtLeast(values, 2);
    package.setPackagePath(hostpath::normalizePath(values[0]));
    std::string name = values[1];
    if (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    std::vector<std::string> arguments;
    uint32_t result = 0;
    for (size_t i = 2; i < values.size(); ++i) {
        const std::string& value = values[i];
        if (value.empty() || value[0] != '/' || !namesCommand(container, value.substr(1))) {
            arguments.push_back(value);
            continue;
        }
        if (!name.empty()) {
            result = container.executeCommand(name, arguments);
            if (result != 0)
                return result;
        }
        name = value.substr(1);
        arguments.clear();
    }
    if (!name.empty())
        result = container.executeCommand(name, arguments);
    return saveIfModified(package, result);
}

uint32_t PackageCommands::batchFileUpdate(AppV5Package& package, CommandFile& commandFile,
                                          const Values& values) {
    requireCount(values, 3);
    package.setPackagePath(hostpath::normalizePath(values[0]));
    std::string path = hostpath::absolutePath(hostpath::normalizePath(values[1]));
    commandFile.run(path, isTrue(values[2]));
    return saveIfModified(package, 0);
}

uint32_t PackageCommands::setNodeText(AppV5Package& package, ICommandContainer&, const Values& values) {
    requireCount(values, 3);
    package.openOnDemand();
    XmlPartEditor(package).setNodeText(values[0], values[1], values[2]);
    return 0;
}

uint32_t PackageCommands::newElement(AppV5Package& package, ICommandContainer&, const Values& values) {
    requireCount(values, 6);
    package.openOnDemand();
    XmlPartEditor(package).newElement(values[0], values[1], values[2], values[3], values[4],
                                      isTrue(values[5]));
    return 0;
}

uint32_t PackageCommands::setElementAttribute(AppV5Package& package, ICommandContainer&,
                                              const Values& values) {
    requireCount(values, 4);
    package.openOnDemand();
    XmlPartEditor(package).setElementAttribute(values[0], values[1], values[2], values[3]);
    return 0;
}

uint32_t PackageCommands::delSingleNode(AppV5Package& package, ICommandContainer&, const Values& values) {
    requireCount(values, 2);
    package.openOnDemand();
    XmlPartEditor(package).deleteSingleNode(values[0], values[1]);
    return 0;
}

uint32_t PackageCommands::delNodes(AppV5Package& package, ICommandContainer&, const Values& values) {
    requireCount(values, 2);
    package.openOnDemand();
    XmlPartEditor(package).deleteNodes(values[0], values[1]);
    return 0;
}

uint32_t PackageCommands::transformManifest(AppV5Package& package, ICommandContainer& container,
                                            const Values& values) {
    static const char* const name = "TransformManifest";
    requireAtLeast(values, 2);
    package.openOnDemand();
    std::string xslPath = hostpath::absolutePath(hostpath::normalizePath(values[1]));
    MsXmlDomDocument stylesheet(hostpath::fileNameOf(xslPath));
    stylesheet.Load(hostpath::toLongPath(xslPath));
    XslTransform transform;
    transform.SetStylesheet(stylesheet);
    if (values.size() % 2 != 0)
        throw CommandLineException(&container, name, loadString(Msg::TransformParameterPairExpected));
    for (size_t i = 2; i + 1 < values.size(); i += 2) {
        const std::string& parameter = values[i];
        if (parameter.empty() || parameter[0] != '-')
            throw CommandLineException(&container, name, loadString(Msg::TransformParameterNameExpected));
        size_t start = parameter.find_first_not_of('-');
        transform.AddParameter(start == std::string::npos ? std::string() : parameter.substr(start),
                               values[i + 1]);
    }
    XmlPartEditor(package).transformPart(values[0], xslPath, transform);
    return 0;
}

} // namespace quendle
