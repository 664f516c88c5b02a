#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

class AppV5Package;
class CommandFile;
class ICommandContainer;

// The bodies of the top-level commands and of the XML commands. Each takes the one package of
// the run, the container that runs the sub-commands, and the values the parser produced in
// declaration order; each returns the command's result. Failures are exceptions.
class PackageCommands {
  public:
    using Values = std::vector<std::string>;

    // package, first sub-command, its arguments, further "/Name" sub-commands. Saves once at the
    // end when something changed; the result is then the save's (0, or the exit code of a save
    // that failed and was presented).
    static uint32_t update(AppV5Package& package, ICommandContainer& container, const Values& values);
    // package, command file, "true"/"false" of -nofail.
    static uint32_t batchFileUpdate(AppV5Package& package, CommandFile& commandFile, const Values& values);

    static uint32_t setNodeText(AppV5Package& package, ICommandContainer& container, const Values& values);
    static uint32_t newElement(AppV5Package& package, ICommandContainer& container, const Values& values);
    static uint32_t setElementAttribute(AppV5Package& package, ICommandContainer& container,
                                        const Values& values);
    static uint32_t delSingleNode(AppV5Package& package, ICommandContainer& container, const Values& values);
    static uint32_t delNodes(AppV5Package& package, ICommandContainer& container, const Values& values);
    // part, XSL file, then "-name value" pairs of transform parameters.
    static uint32_t transformManifest(AppV5Package& package, ICommandContainer& container,
                                      const Values& values);

    // True when `name` names a command of the container (top-level names included).
    static bool namesCommand(const ICommandContainer& container, const std::string& name);
};

} // namespace quendle
