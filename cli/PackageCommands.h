#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

class AppV5Package;
class CommandFile;
class ICommandContainer;

// The bodies of the commands that need the command framework itself: the two top-level
// commands that run sub-commands, and TransformManifest, whose parameter pairs are checked as
// command-line errors. Failures are exceptions.
class PackageCommands {
  public:
    // `commandLine` is the first sub-command's name followed by its arguments and any further
    // "/Name" sub-commands. Saves once at the end when something changed; the result is then the
    // save's (0, or the exit code of a save that failed and was presented).
    static uint32_t update(AppV5Package& package, ICommandContainer& container,
                           const std::string& packagePath, const std::vector<std::string>& commandLine);
    static uint32_t batchFileUpdate(AppV5Package& package, CommandFile& commandFile,
                                    const std::string& packagePath, const std::string& commandFilePath,
                                    bool noFail);
    // `parameters` are "-name value" pairs of transform parameters.
    static void transformManifest(AppV5Package& package, const ICommandContainer& container,
                                  const std::string& part, const std::string& xslFile,
                                  const std::vector<std::string>& parameters);

    // True when `name` names a command of the container (top-level names included).
    static bool namesCommand(const ICommandContainer& container, const std::string& name);
};

} // namespace quendle
