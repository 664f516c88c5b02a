#pragma once
// The program's real command table with handlers that only record what they were given, so the
// command-line and command-file targets reach the parser, the usage texts and the sub-command
// splitting of /Update without opening any package. /Update runs its real body against a
// package object whose path is a placeholder file: the sub-commands it finds land here.
#include "cli/CommandContainerImpl.h"
#include "cli/PackageCommands.h"
#include "cli/QuendleCommandContainer.h"
#include "package/AppV5Package.h"
#include "util/strings/StringSystem.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace quendle::fuzz {

class RecordingCommandTable : public CommandContainerImpl {
  public:
    explicit RecordingCommandTable(std::string placeholderPackage)
        : placeholder_(std::move(placeholderPackage)) {
        QuendleCommandContainer real(nullptr);
        for (const Command& c : real.getCommands()) {
            std::string name = c.name();
            CommandHandler handler = [this, name](const CommandValues& values) -> uint32_t {
                return record(name, values);
            };
            commands_.emplace_back(name, this, std::move(handler), c.flags(), c.parameters());
        }
    }

    const std::vector<Command>& getCommands() const override { return commands_; }
    size_t calls() const { return calls_; }

  private:
    uint32_t record(const std::string& name, const CommandValues& values) {
        ++calls_;
        // The parser promises one value per declared parameter, except that an optional rest
        // parameter that took nothing gives none.
        const Command* command = findCommand(name, false);
        if (!command)
            std::abort();
        size_t least = 0;
        for (const CommandParameter& p : command->parameters())
            least += !(p.has(ParamRest) && !p.has(ParamRequired));
        if (values.size() < least)
            std::abort();
        if (equalsIgnoreCaseAscii(name, "Update")) {
            AppV5Package package;
            return PackageCommands::update(package, *this, placeholder_,
                                           CommandValues(values.begin() + 1, values.end()));
        }
        if (equalsIgnoreCaseAscii(name, "Help")) {
            printHelp(values.empty() ? std::string() : values[0]);
            return 0;
        }
        return 0;
    }

    std::string placeholder_;
    std::vector<Command> commands_;
    size_t calls_ = 0;
};

} // namespace quendle::fuzz
