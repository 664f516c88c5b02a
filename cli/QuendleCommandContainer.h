#pragma once
#include "cli/CommandContainerImpl.h"
#include "cli/CommandFile.h"

#include <string>
#include <utility>
#include <vector>

namespace quendle {

class AppV5Package;

// The program's commands: three top-level commands typed after the program name and the
// sub-commands that edit the one package of the run. The table (QuendleCommandContainer.cpp)
// names, for every command, the function that does its work.
class QuendleCommandContainer : public CommandContainerImpl {
  public:
    // The package is not owned; it may be null while no package model is linked in.
    explicit QuendleCommandContainer(AppV5Package* package);
    QuendleCommandContainer(const QuendleCommandContainer&) = delete;
    QuendleCommandContainer& operator=(const QuendleCommandContainer&) = delete;

    const std::vector<Command>& getCommands() const override;

    AppV5Package* package() const { return package_; }
    CommandFile& commandFile() { return commandFile_; }

    // The XML parts that the XML commands may edit, in the order the usage lists them.
    static const std::vector<std::string>& editableXmlPartNames();

  private:
    AppV5Package* package_;
    CommandFile commandFile_;
    std::vector<Command> commands_;
};

} // namespace quendle
