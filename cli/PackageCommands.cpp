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

uint32_t PackageCommands::update(AppV5Package& package, ICommandContainer& container,
                                 const std::string& packagePath,
                                 const std::vector<std::string>& commandLine) {
    if (commandLine.empty())
        throw Exception(Msg::UnexpectedException); // the parser requires the first sub-command
    package.setPackagePath(hostpath::normalizePath(packagePath));
    std::string name = commandLine[0];
    if (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    std::vector<std::string> arguments;
    uint32_t result = 0;
    for (size_t i = 1; i < commandLine.size(); ++i) {
        const std::string& value = commandLine[i];
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
                                          const std::string& packagePath, const std::string& commandFilePath,
                                          bool noFail) {
    package.setPackagePath(hostpath::normalizePath(packagePath));
    std::string path = hostpath::absolutePath(hostpath::normalizePath(commandFilePath));
    commandFile.run(path, noFail);
    return saveIfModified(package, 0);
}

void PackageCommands::transformManifest(AppV5Package& package, const ICommandContainer& container,
                                        const std::string& part, const std::string& xslFile,
                                        const std::vector<std::string>& parameters) {
    static const char* const name = "TransformManifest";
    package.openOnDemand();
    std::string xslPath = hostpath::absolutePath(hostpath::normalizePath(xslFile));
    MsXmlDomDocument stylesheet(hostpath::fileNameOf(xslPath));
    stylesheet.Load(hostpath::toLongPath(xslPath));
    XslTransform transform;
    transform.SetStylesheet(stylesheet);
    if (parameters.size() % 2 != 0)
        throw CommandLineException(&container, name, loadString(Msg::TransformParameterPairExpected));
    for (size_t i = 0; i + 1 < parameters.size(); i += 2) {
        const std::string& parameter = parameters[i];
        if (parameter.empty() || parameter[0] != '-')
            throw CommandLineException(&container, name, loadString(Msg::TransformParameterNameExpected));
        size_t start = parameter.find_first_not_of('-');
        transform.AddParameter(start == std::string::npos ? std::string() : parameter.substr(start),
                               parameters[i + 1]);
    }
    XmlPartEditor(package).transformPart(part, xslPath, transform);
}

} // namespace quendle
