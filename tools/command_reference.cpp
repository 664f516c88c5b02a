// Writes the parts of the installed documentation that list the commands: the manual page and the
// bash completion. Both are hand-written templates; only the command lists come from the program's
// own command table, so a command added to the table appears in both without editing either.
//
//   command_reference man  TEMPLATE OUTPUT VERSION DATE
//   command_reference bash TEMPLATE OUTPUT
//
// Manual template: the lines "@SYNOPSIS@", "@TOP_LEVEL_COMMANDS@" and "@SUB_COMMANDS@" become the
// generated lists, "@VERSION@" and "@DATE@" are replaced anywhere. A command's prose sits between
// '.\" @describe NAME' and '.\" @end' anywhere in the template and is moved under the command.
// Completion template: the line "@COMPLETION_DATA@" becomes the command and parameter lists.

#include "cli/QuendleCommandContainer.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace quendle;

namespace {

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Text as roff shows it literally: backslashes and minus signs escaped.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

std::string bold(const std::string& text) {
    return "\\fB" + roff(text) + "\\fR";
}
std::string italic(const std::string& text) {
    return "\\fI" + roff(text) + "\\fR";
}

// The placeholder of a parameter's value: its listed values in bold, else its text in italics.
std::string valueRoff(const CommandParameter& p) {
    if (!p.allowedValues.empty()) {
        std::string alternatives;
        for (const auto& v : p.allowedValues)
            alternatives += (alternatives.empty() ? "" : "|\\:") + bold(v); // may break after "|"
        return p.has(ParamPositional) ? "{" + alternatives + "}" : alternatives;
    }
    std::string text = p.getValueText();
    return italic(text.empty() ? "sub-command" : text);
}

// One command as the synopsis of a manual page writes it: names in bold, values in italics,
// optional parts in brackets, repeatable parts followed by "...".
std::string synopsisRoff(const Command& c) {
    std::string line = bold("/" + c.name());
    for (const auto& p : c.parameters()) {
        if (p.has(ParamHidden))
            continue;
        std::string item;
        if (p.has(ParamPositional))
            item = valueRoff(p);
        else
            item = p.has(ParamSwitch) ? bold(p.name) : bold(p.name) + " " + valueRoff(p);
        if (p.has(ParamRest))
            item += " .\\|.\\|.";
        if (!p.has(ParamRequired))
            item = "[" + item + "]";
        line += " " + item;
    }
    return line;
}

struct Descriptions {
    std::map<std::string, std::vector<std::string>> byCommand; // lower-case name -> roff lines
    std::map<std::string, std::string> spelling;               // lower-case name -> as written
    std::vector<std::string> rest;                             // the template without them
};

Descriptions splitDescriptions(const std::vector<std::string>& lines) {
    const std::string open = ".\\\" @describe ", close = ".\\\" @end";
    Descriptions d;
    std::vector<std::string>* target = nullptr;
    for (const auto& line : lines) {
        if (line.rfind(open, 0) == 0) {
            std::string name = line.substr(open.size());
            d.spelling[lowerAscii(name)] = name;
            target = &d.byCommand[lowerAscii(name)];
        } else if (line == close) {
            target = nullptr;
        } else {
            (target ? *target : d.rest).push_back(line);
        }
    }
    return d;
}

std::string commandEntries(const std::vector<Command>& commands, bool topLevel, Descriptions& d) {
    // Command lines are neither hyphenated nor stretched: a reader copies them as they stand.
    std::string out = ".nh\n.ad l\n";
    for (const auto& c : commands) {
        if (c.isTopLevel() != topLevel)
            continue;
        out += ".TP\n" + synopsisRoff(c) + "\n";
        auto found = d.byCommand.find(lowerAscii(c.name()));
        if (found == d.byCommand.end() || found->second.empty()) {
            // A new command still appears, with the pointer to its usage; the build says so.
            std::cerr << "command_reference: no description of " << c.name() << " in the manual\n";
            // /Help shows a top-level command only in the general usage.
            out += "See \\fBquendle /Help" + (topLevel ? std::string() : " " + roff(c.name())) + "\\fR.\n";
        } else {
            for (const auto& line : found->second)
                out += line + "\n";
            d.byCommand.erase(found);
        }
    }
    return out + ".ad\n.hy\n";
}

int writeManual(const std::vector<Command>& commands, const std::string& templ, const std::string& output,
                const std::string& version, const std::string& date) {
    Descriptions d = splitDescriptions(readLines(templ));
    std::string synopsis;
    for (const auto& c : commands) {
        if (c.isTopLevel())
            synopsis += ".br\n\\fBquendle\\fR " + synopsisRoff(c) + "\n";
    }
    std::string topLevel = commandEntries(commands, true, d);
    std::string subCommands = commandEntries(commands, false, d);
    if (!d.byCommand.empty()) {
        // Prose for a command that is gone would describe something the program cannot do.
        for (const auto& [name, lines] : d.byCommand)
            std::cerr << "command_reference: the manual describes " << d.spelling[name]
                      << ", which is not a command\n";
        return 1;
    }
    std::string text;
    for (const auto& line : d.rest) {
        if (line == "@SYNOPSIS@")
            text += synopsis;
        else if (line == "@TOP_LEVEL_COMMANDS@")
            text += topLevel;
        else if (line == "@SUB_COMMANDS@")
            text += subCommands;
        else
            text += line + "\n";
    }
    replaceAll(text, "@VERSION@", version);
    replaceAll(text, "@DATE@", date);
    writeText(output, text);
    return 0;
}

// What the completion offers for a parameter's value: its listed values, host files, or nothing.
std::string valueKind(const Command& c, const CommandParameter& p) {
    if (!p.allowedValues.empty()) {
        std::string list;
        for (const auto& v : p.allowedValues)
            list += (list.empty() ? "=" : "|") + v;
        return list;
    }
    if (p.has(ParamSwitch))
        return "none";
    switch (p.textId) {
    case 131: // appv_package
        return "appv";
    case 135: // command
        return "cmd";
    case 192: // identity_package_id, identity_version_id, identity_version: "auto" or a value
    case 193:
    case 194:
        return "=auto";
    case 0:
        // The one positional of /Help names a sub-command.
        return c.isTopLevel() && p.has(ParamPositional) ? "cmd" : "none";
    default:
        break;
    }
    // Texts of later commands: a host path names itself so; a package or registry path does not
    // exist on this machine.
    std::string text = p.getValueText();
    if (text.find("package_path") != std::string::npos || text.find("registry") != std::string::npos)
        return "none";
    if (text.find("folder") != std::string::npos || text.find("directory") != std::string::npos)
        return "dir";
    auto endsWith = [&](const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith("_path") || endsWith("_file") ? "file" : "none";
}

std::string shellSingleQuoted(const std::string& s) {
    std::string q = "'";
    for (char ch : s)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

int writeCompletion(const std::vector<Command>& commands, const std::string& templ,
                    const std::string& output) {
    std::string top, subs, params;
    for (const auto& c : commands) {
        (c.isTopLevel() ? top : subs) += " " + shellSingleQuoted(c.isTopLevel() ? "/" + c.name() : c.name());
        std::string spec;
        for (const auto& p : c.parameters()) {
            std::string kind = p.has(ParamRest)         ? "r"
                               : p.has(ParamPositional) ? "p"
                               : p.has(ParamSwitch)     ? "s"
                                                        : "n";
            spec += (spec.empty() ? "" : " ") + kind + ":" + p.name + ":" + valueKind(c, p);
        }
        params += "    [" + lowerAscii(c.name()) + "]=" + shellSingleQuoted(spec) + "\n";
    }
    std::string data = "_quendle_top_level=(" + top.substr(1) + ")\n" + "_quendle_sub_commands=(" +
                       subs.substr(1) + ")\n" +
                       "# Per command, each parameter in declaration order as kind:name:values\n"
                       "# (kind p positional, r rest, n named with a value, s switch).\n"
                       "declare -gA _quendle_params=(\n" +
                       params + ")\n";
    std::string text;
    for (const auto& line : readLines(templ))
        text += line == "@COMPLETION_DATA@" ? data : line + "\n";
    writeText(output, text);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        QuendleCommandContainer container(nullptr);
        const auto& commands = container.getCommands();
        if (args.size() == 5 && args[0] == "man")
            return writeManual(commands, args[1], args[2], args[3], args[4]);
        if (args.size() == 3 && args[0] == "bash")
            return writeCompletion(commands, args[1], args[2]);
    } catch (const std::exception& e) {
        std::cerr << "command_reference: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: command_reference man TEMPLATE OUTPUT VERSION DATE\n"
                 "       command_reference bash TEMPLATE OUTPUT\n";
    return 2;
}
