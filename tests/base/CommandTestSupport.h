#pragma once
#include "cli/CommandContainerImpl.h"
#include "cli/CommandLineException.h"
#include "core/ConsoleWriter.h"
#include "core/ExceptionPresenter.h"
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
    };

    RecordingContainer() {
        auto record = [this](const char* name) {
            return [this, name](const CommandValues& v) -> uint32_t {
                calls.push_back({name, v});
                if (onCall)
                    onCall(name, v);
                return 0;
            };
        };
        const std::vector<std::string> parts = {"AppxManifest.xml", "StreamMap.xml"};
        commands_.emplace_back(
            "Update", this, record("Update"), CommandTopLevel,
            std::vector<CommandParameter>{{"", {}, ParamPositional | ParamRequired, 0, 131},
                                          {"", {}, ParamPositional | ParamRequired | ParamRest, 0, 135}});
        commands_.emplace_back("Help", this, record("Help"), CommandTopLevel,
                               std::vector<CommandParameter>{{"", {}, ParamPositional, 0, 0}});
        commands_.emplace_back(
            "Add-File", this, record("Add-File"), 0,
            std::vector<CommandParameter>{{"", {}, ParamPositional | ParamRequired, 0, 132},
                                          {"", {}, ParamPositional | ParamRequired, 0, 133}});
        commands_.emplace_back(
            "Del-File", this, record("Del-File"), 0,
            std::vector<CommandParameter>{{"", {}, ParamPositional | ParamRequired, 0, 132}});
        commands_.emplace_back(
            "Set-NodeText", this, record("Set-NodeText"), 0,
            std::vector<CommandParameter>{{"", parts, ParamPositional | ParamRequired, 0, 145},
                                          {"-xpath", {}, ParamRequired, 0, 146},
                                          {"-nodetext", {}, 0, 0, 147}});
        commands_.emplace_back(
            "Set-RegistryValue", this, record("Set-RegistryValue"), 0,
            std::vector<CommandParameter>{{"", {}, ParamPositional | ParamRequired, 0, 165},
                                          {"-type", {"sz", "dword"}, 0, 0, 168},
                                          {"-pathvariable", {}, ParamSwitch, 0, 170},
                                          {"-offset", {}, ParamDashValueAllowed, 0, 169}});
        commands_.emplace_back("Pick", this, record("Pick"), 0,
                               std::vector<CommandParameter>{{"-left", {}, ParamRequired, 1, 146},
                                                             {"-right", {}, ParamRequired, 1, 0},
                                                             {"-flag", {}, ParamSwitch | ParamHidden, 0, 0}});
        commands_.emplace_back("Broken", this, CommandHandler(), 0, std::vector<CommandParameter>{});
    }

    const std::vector<Command>& getCommands() const override { return commands_; }

    std::vector<Call> calls;
    std::function<void(const std::string&, const CommandValues&)> onCall;

  private:
    std::vector<Command> commands_;
};

// Installs the console writer (once per process) and captures what is written while it lives.
class CapturedOutput {
  public:
    explicit CapturedOutput(bool colors = false) {
        ConsoleWriter::install();
        ConsoleWriter::installed()->setColorsEnabled(colors);
        testing::internal::CaptureStdout();
    }
    ~CapturedOutput() {
        if (!taken_)
            testing::internal::GetCapturedStdout();
        ConsoleWriter::installed()->setColorsEnabled(false);
    }
    std::string take() {
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

  private:
    bool taken_ = false;
};

// The exception a call throws, presented as the program would present it.
template <typename F> std::string presentedError(F&& f, uint32_t* code = nullptr) {
    CapturedOutput out;
    try {
        f();
    } catch (...) {
        uint32_t c = handleCurrentException();
        if (code)
            *code = c;
        return out.take();
    }
    ADD_FAILURE() << "no exception";
    return out.take();
}

} // namespace quendle::test
