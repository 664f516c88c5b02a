#pragma once
#include "cli/CommandContainerImpl.h"
#include "cli/CommandFile.h"

#include <string>
#include <utility>
#include <vector>

namespace quendle {

class AppV5Package;

// The program's commands: three top-level commands typed after the program name and the
// sub-commands that edit the one package of the run. The table is in QuendleCommandContainer.cpp,
// the handlers in QuendleCommandHandlers.cpp.
class QuendleCommandContainer : public CommandContainerImpl {
  public:
    // The package is not owned; it may be null while no package model is linked in.
    explicit QuendleCommandContainer(AppV5Package* package);
    QuendleCommandContainer(const QuendleCommandContainer&) = delete;
    QuendleCommandContainer& operator=(const QuendleCommandContainer&) = delete;

    const std::vector<Command>& getCommands() const override;

    AppV5Package* package() const { return package_; }
    CommandFile& commandFile() { return commandFile_; }

    // Top-level commands.
    uint32_t update(const CommandValues& values);
    uint32_t batchFileUpdate(const CommandValues& values);
    uint32_t help(const CommandValues& values);

    // Identity, history, files and scripts.
    uint32_t updatePackageIdentity(const CommandValues& values);
    uint32_t updatePackageHistory(const CommandValues& values);
    uint32_t addFile(const CommandValues& values);
    uint32_t updateFile(const CommandValues& values);
    uint32_t delFile(const CommandValues& values);
    uint32_t addScriptFile(const CommandValues& values);
    uint32_t updateScriptFile(const CommandValues& values);
    uint32_t delScriptFile(const CommandValues& values);

    // XML parts.
    uint32_t setNodeText(const CommandValues& values);
    uint32_t newElement(const CommandValues& values);
    uint32_t setElementAttribute(const CommandValues& values);
    uint32_t delSingleNode(const CommandValues& values);
    uint32_t delNodes(const CommandValues& values);
    uint32_t transformManifest(const CommandValues& values);

    // Virtual registry.
    uint32_t setRegistryKey(const CommandValues& values);
    uint32_t setRegistryValue(const CommandValues& values);
    uint32_t setVirtualizeRegValueDeleted(const CommandValues& values);
    uint32_t delRegistryValue(const CommandValues& values);
    uint32_t delRegistryKey(const CommandValues& values);
    uint32_t delRegistryKeyAndSubkeys(const CommandValues& values);

    // Looking inside a package without changing it.
    uint32_t verify(const CommandValues& values);
    uint32_t info(const CommandValues& values);
    uint32_t expand(const CommandValues& values);
    uint32_t exportRegistry(const CommandValues& values);

    // True when the command line asks for data on standard output (JSON, registry text) that
    // nothing else may precede, not even the banner.
    static bool writesDataToStandardOutput(int argc, char** argv);
    // Bulk edits.
    uint32_t addFolder(const CommandValues& values);
    uint32_t delFolder(const CommandValues& values);
    uint32_t importRegistry(const CommandValues& values);

    // The XML parts that the XML commands may edit, in the order the usage lists them.
    static const std::vector<std::string>& editableXmlPartNames();

  private:
    AppV5Package* package_;
    CommandFile commandFile_;
    std::vector<Command> commands_;
};

} // namespace quendle
