#include "cli/CommandContainerImpl.h"

#include "cli/CommandLineException.h"
#include "core/ConsoleWriter.h"
#include "core/ExceptionPresenter.h"
#include "core/ProgressLine.h"
#include "os/FileSystem.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"

#include <climits>
#include <string_view>

namespace quendle {
namespace {

// A word as an error names it: a hostile command file may give one of megabytes.
std::string shownWord(const std::string& word) {
    constexpr size_t MaxShownCodePoints = 80;
    size_t pos = 0;
    for (size_t n = 0; n < MaxShownCodePoints && pos < word.size(); ++n)
        nextCodePoint(word, pos);
    return pos < word.size() ? word.substr(0, pos) + "..." : word;
}

} // namespace

uint32_t CommandContainerImpl::run(int argc, char** argv) {
    // "-quiet" before the command turns the progress lines off; in that place it never meant
    // anything else (a command name starts there).
    int first = 1;
    if (argc > first && argv[first] &&
        (std::string_view(argv[first]) == "-quiet" || std::string_view(argv[first]) == "--quiet")) {
        ProgressLine::setQuiet(true);
        ++first;
    }
    // The options every Linux tool answers, recognised only in the command's place so that no
    // command line that meant something before changes its meaning.
    const std::string_view option = argc > first && argv[first] ? argv[first] : "";
    if (option == "--version")
        return program_.version ? program_.version() : 0;
    std::string name;
    std::vector<std::string> arguments;
    // Bytes that are not UTF-8 are read as Windows-1252, the rule of command files too, so that
    // every text the run stores or prints is valid UTF-8.
    if (option == "--help" || option == "-h") {
        name = "Help";
    } else if (argc > first && argv[first]) {
        name = utf8OrWindows1252(argv[first]);
        if (!name.empty()) {
            // The first character is the command marker, whatever it is; drop the whole of it.
            size_t pos = 0;
            nextCodePoint(name, pos);
            name.erase(0, pos);
        }
    }
    if (argc > first && argv[first])
        for (int i = first + 1; i < argc; ++i)
            arguments.push_back(utf8OrWindows1252(argv[i] ? argv[i] : ""));

    const Command* command = nullptr;
    CommandValues values;
    try {
        command = &commandNamed(name);
        values = command->parseArguments(arguments);
    } catch (...) {
        // A refused command line prints no data: the banner heads its usage.
        if (program_.banner)
            program_.banner();
        throw;
    }
    if (program_.banner && !command->printsDataOnly(values))
        program_.banner();
    return command->handler()(values); // an empty handler raises std::bad_function_call
}

uint32_t CommandContainerImpl::executeCommand(const std::string& name,
                                              const std::vector<std::string>& arguments) {
    const Command& command = commandNamed(name);
    CommandValues values = command.parseArguments(arguments);
    return command.handler()(values); // an empty handler raises std::bad_function_call
}

const Command& CommandContainerImpl::commandNamed(const std::string& name) const {
    if (name.empty())
        throw CommandLineException(this);
    const Command* command = findCommand(name, true);
    // Nothing near enough to suggest: the word that was not understood is still named.
    if (!command)
        throw CommandLineException(this, "", formatStringId(Msg::CommandUnknown, {shownWord(name)}));
    return *command;
}

const Command* CommandContainerImpl::findCommand(std::string_view name, bool suggest) const {
    const std::vector<Command>& commands = getCommands();
    for (const auto& c : commands) {
        if (equalsIgnoreCaseAscii(c.name(), name))
            return &c;
    }
    if (!suggest)
        return nullptr;
    size_t typedLength = codePointCount(name);
    const Command* suggestion = nullptr;
    for (const auto& c : commands) {
        if (withinSuggestionRange(typedLength, c.name(), 4) && editDistance(name, c.name()) < 4)
            suggestion = &c; // the last near command in table order wins
    }
    if (suggestion)
        throw CommandLineException(
            this, "", formatStringId(Msg::CommandSuggestion, {std::string(name), suggestion->name()}));
    return nullptr;
}

std::string CommandContainerImpl::programName() {
    std::string exe = hostpath::executablePath();
    return exe.empty() ? "quendle" : hostpath::fileNameOf(exe);
}

std::string CommandContainerImpl::getGeneralUsage() const {
    std::string text = "Usage:\n";
    std::string others;
    const std::string program = programName();
    for (const auto& c : getCommands()) {
        if (c.isTopLevel())
            text += program + " " + c.getUsage();
        else
            others += c.getUsage();
    }
    if (!others.empty())
        text += "Valid commands:\n" + others;
    return text;
}

std::string CommandContainerImpl::getCommandUsage(const std::string& name) const {
    std::string text = "Usage:\n";
    const std::string program = programName();
    for (const auto& c : getCommands()) {
        if (c.isTopLevel())
            text += program + " " + c.getUsage();
    }
    for (const auto& c : getCommands()) {
        if (!c.isTopLevel() && equalsIgnoreCaseAscii(c.name(), name))
            return text + c.getUsage();
    }
    return {};
}

void CommandContainerImpl::printHelp(const std::string& name) const {
    if (ConsoleWriter* w = ConsoleWriter::installed())
        w->writeLine(name.empty() ? getGeneralUsage() : getCommandUsage(name));
}

void CommandContainerImpl::showError(const std::string& commandName, const std::string& message) const {
    std::string usage;
    if (!commandName.empty()) {
        usage = getCommandUsage(commandName);
        // A top-level command has no usage of its own: the general one is the helpful answer.
        if (usage.empty()) {
            const Command* c = findCommand(commandName, false);
            if (c && c->isTopLevel())
                usage = getGeneralUsage();
        }
    } else {
        usage = getGeneralUsage();
    }
    // Usage shown because of an error goes with the error, to standard error.
    ConsoleWriter* w = ConsoleWriter::errors();
    if (!w) {
        showErrorReport("Error", message, usage);
        return;
    }
    ConsoleColorScope red(w, AttributeBrightRed);
    if (!message.empty()) {
        w->writeLine(message);
        w->writeLine("");
    }
    w->writeLine(usage);
}

} // namespace quendle
