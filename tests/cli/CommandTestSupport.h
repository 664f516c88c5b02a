#pragma once
#include "cli/CommandContainerImpl.h"
#include "cli/CommandLineException.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quendle::test {

// A small command table that records every call, with the parameter kinds the real table uses
// and a command with one-of groups, which the real table does not have.
class RecordingContainer : public CommandContainerImpl {
  public:
    struct Call {
        std::string command;
        CommandValues values;
        bool operator==(const Call&) const = default;
    };

    RecordingContainer() {
        using Params = std::vector<CommandParameter>;
        auto add = [this](const char* name, int flags, Params params, bool handled = true) {
            CommandHandler record = [this, name](const CommandValues& v) -> uint32_t {
                calls.push_back({name, v});
                if (onCall)
                    onCall(name, v);
                return 0;
            };
            commands_.emplace_back(name, this, handled ? record : CommandHandler(), flags, std::move(params));
        };
        const int positional = ParamPositional | ParamRequired;
        add("Update", CommandTopLevel,
            {{"", {}, positional, 0, 131}, {"", {}, positional | ParamRest, 0, 135}});
        add("Help", CommandTopLevel, {{"", {}, ParamPositional, 0, 0}});
        add("Add-File", 0, {{"", {}, positional, 0, 132}, {"", {}, positional, 0, 133}});
        add("Del-File", 0, {{"", {}, positional, 0, 132}});
        add("Set-NodeText", 0,
            {{"", {"AppxManifest.xml", "StreamMap.xml"}, positional, 0, 145},
             {"-xpath", {}, ParamRequired, 0, 146},
             {"-nodetext", {}, 0, 0, 147}});
        add("Set-RegistryValue", 0,
            {{"", {}, positional, 0, 165},
             {"-type", {"sz", "dword"}, 0, 0, 168},
             {"-pathvariable", {}, ParamSwitch, 0, 170},
             {"-offset", {}, ParamDashValueAllowed, 0, 169}});
        add("Pick", 0,
            {{"-left", {}, ParamRequired, 1, 146},
             {"-right", {}, ParamRequired, 1, 0},
             {"-flag", {}, ParamSwitch | ParamHidden, 0, 0}});
        add("Broken", 0, {}, false);
    }

    const std::vector<Command>& getCommands() const override { return commands_; }

    std::vector<Call> calls;
    std::function<void(const std::string&, const CommandValues&)> onCall;

  private:
    std::vector<Command> commands_;
};

} // namespace quendle::test
