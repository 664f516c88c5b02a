#pragma once
#include "cli/Command.h"
#include "cli/ICommandContainer.h"

#include <functional>

namespace quendle {

// Runs a command line against the commands of getCommands(): finds the command (proposing a
// near name when it is misspelt), parses its arguments, calls its handler, and builds the usage
// texts from the same declarations.
class CommandContainerImpl : public ICommandContainer {
  public:
    // What the program prints of its own: the banner before every command line except one whose
    // command prints data only, and the answer to "--version" (its exit code).
    struct ProgramOutput {
        std::function<void()> banner;
        std::function<uint32_t()> version;
    };
    void setProgramOutput(ProgramOutput output) { program_ = std::move(output); }

    // argv[1] without its first character names the command ("/Update" -> "Update"). Before it
    // may stand "-quiet" (no progress lines); in its place "--version", "--help" or "-h".
    uint32_t run(int argc, char** argv) override;
    uint32_t executeCommand(const std::string& name, const std::vector<std::string>& arguments) override;
    std::string getCommandUsage(const std::string& name) const override;
    std::string getGeneralUsage() const override;
    void printHelp(const std::string& name) const override;
    void showError(const std::string& commandName, const std::string& message) const override;

    // The command of that name (ASCII case folding), or nullptr. With suggest, a near miss
    // throws CommandLineException naming the last command in table order within distance 3.
    const Command* findCommand(std::string_view name, bool suggest) const;

    // File name of the running executable, as the usage shows it.
    static std::string programName();

  private:
    // The command of that name; CommandLineException when there is none.
    const Command& commandNamed(const std::string& name) const;

    ProgramOutput program_;
};

} // namespace quendle
