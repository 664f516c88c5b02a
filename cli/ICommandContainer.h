#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

class Command;

// A set of named commands that can be run from a command line.
class ICommandContainer {
public:
    virtual ~ICommandContainer() = default;
    virtual uint32_t run(int argc, char** argv) = 0;
    virtual uint32_t executeCommand(const std::string& name, const std::vector<std::string>& arguments) = 0;
    virtual std::string getCommandUsage(const std::string& name) const = 0;
    virtual std::string getGeneralUsage() const = 0;
    virtual void printHelp(const std::string& name) const = 0;
    virtual void showError(const std::string& commandName, const std::string& message) const = 0;
    virtual const std::vector<Command>& getCommands() const = 0;
};

} // namespace quendle
