#pragma once
#include "cli/CommandParameter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quendle {

class ICommandContainer;

using CommandValues = std::vector<std::string>;
// Receives the parsed values in declaration order and returns the command's result.
using CommandHandler = std::function<uint32_t(const CommandValues&)>;
// Whether the parsed values ask for data on standard output (JSON, registry text, a diff) that
// nothing else may precede, not even the banner.
using OutputRule = std::function<bool(const CommandValues&)>;

enum CommandFlags : uint32_t {
    CommandTopLevel = 0x2000, // typed directly after the program name; its own usage line
};

// A named command: its parameters, how its arguments are parsed into values, and its usage.
class Command {
  public:
    Command(std::string name, const ICommandContainer* owner, CommandHandler handler, uint32_t flags,
            std::vector<CommandParameter> parameters);

    const std::string& name() const { return name_; }
    uint32_t flags() const { return flags_; }
    bool isTopLevel() const { return (flags_ & CommandTopLevel) != 0; }
    const std::vector<CommandParameter>& parameters() const { return parameters_; }
    const CommandHandler& handler() const { return handler_; }
    // A command without a rule prints its results after the banner.
    Command& printsDataOnlyWhen(OutputRule rule) {
        dataOnly_ = std::move(rule);
        return *this;
    }
    bool printsDataOnly(const CommandValues& values) const { return dataOnly_ && dataOnly_(values); }

    // One value per parameter in declaration order (an absent optional parameter gives "", an
    // absent switch "false"); at the place of a Rest parameter, every argument it took.
    // Throws CommandLineException for every error of the arguments.
    CommandValues parseArguments(const std::vector<std::string>& arguments) const;
    // "  /Name <placeholders...>\n\n".
    std::string getUsage() const;

  private:
    [[noreturn]] void throwMissingArgument(const CommandParameter& p) const;
    [[noreturn]] void throwUnknownParameters(const std::vector<std::string>& leftovers) const;
    [[noreturn]] void throwMissingGroups(unsigned missingGroups) const;

    std::string name_;
    const ICommandContainer* owner_;
    CommandHandler handler_;
    uint32_t flags_;
    std::vector<CommandParameter> parameters_;
    OutputRule dataOnly_;
};

} // namespace quendle
