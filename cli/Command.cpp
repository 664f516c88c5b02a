#include "cli/Command.h"

#include "cli/CommandLineException.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"

#include <map>

namespace quendle {
namespace {

enum Decoration { Optional = 1, Placeholder = 2, Group = 4, Name = 8, Line = 16, Repeated = 32 };

std::string decorate(int style, const std::string& text) {
    switch (style) {
    case Optional:
        return "[" + text + "]";
    case Placeholder:
        return "<" + text + ">";
    case Group:
        return "{ " + text + " }";
    case Name:
        return "/" + text + " ";
    case Line:
        return "  " + text + "\n\n";
    case Repeated:
        return "*" + text;
    default:
        return text;
    }
}

bool beginsWithDash(const std::string& s) {
    return !s.empty() && s.front() == '-';
}

} // namespace

Command::Command(std::string name, const ICommandContainer* owner, CommandHandler handler, uint32_t flags,
                 std::vector<CommandParameter> parameters)
    : name_(std::move(name)), owner_(owner), handler_(std::move(handler)), flags_(flags),
      parameters_(std::move(parameters)) {}

CommandValues Command::parseArguments(const std::vector<std::string>& arguments) const {
    // Consumed arguments are blanked out in the work copy; what is left at the end is unknown.
    std::vector<std::string> work = arguments;
    size_t remaining = work.size();
    CommandValues values;
    unsigned requiredGroups = 0, seenGroups = 0;

    for (size_t i = 0; i < parameters_.size(); ++i) {
        const CommandParameter& p = parameters_[i];
        std::string value;
        bool found = false;
        if (p.has(ParamRest)) {
            for (size_t j = i; j < work.size(); ++j) {
                if (work[j].empty())
                    continue;
                values.push_back(work[j]);
                work[j].clear();
                --remaining;
                found = true;
            }
        } else if (p.has(ParamPositional)) {
            if (i < work.size() && !work[i].empty() && !beginsWithDash(work[i])) {
                value = work[i];
                work[i].clear();
                --remaining;
                found = true;
            }
        } else {
            size_t j = 0;
            while (j < work.size() && !equalsIgnoreCaseAscii(work[j], p.name))
                ++j;
            if (j == work.size()) {
                if (p.has(ParamSwitch))
                    value = "false";
            } else if (p.has(ParamSwitch)) {
                value = "true";
                work[j].clear();
                --remaining;
                found = true;
            } else {
                if (j + 1 >= work.size() || (!p.has(ParamDashValueAllowed) && beginsWithDash(work[j + 1])))
                    throw CommandLineException(owner_, name_,
                                               formatStringId(Msg::ParameterValueMissing, {p.name}));
                value = work[j + 1];
                work[j].clear();
                work[j + 1].clear();
                remaining -= 2;
                found = true;
            }
        }

        unsigned groupBit = p.group > 0 && p.group <= 4 ? 1u << (p.group - 1) : 0;
        if (groupBit && p.has(ParamRequired))
            requiredGroups |= groupBit;

        if (!found) {
            if (p.has(ParamRequired) && !groupBit)
                throwMissingArgument(p);
        } else {
            if (!p.isAllowedValue(value)) {
                std::string shown = p.name.empty() ? loadString(p.textId) : p.name;
                throw CommandLineException(owner_, name_,
                                           formatStringId(Msg::ParameterValueInvalid, {shown, value}));
            }
            if (groupBit) {
                if (seenGroups & groupBit)
                    throw CommandLineException(owner_, name_, std::string());
                seenGroups |= groupBit;
            }
        }
        if (!p.has(ParamRest))
            values.push_back(std::move(value));
    }

    if (remaining != 0)
        throwUnknownParameters(work);
    if (requiredGroups & ~seenGroups)
        throwMissingGroups(requiredGroups & ~seenGroups);
    return values;
}

void Command::throwMissingArgument(const CommandParameter& p) const {
    std::string text = p.getValueText();
    if (!text.empty() && !beginsWithDash(text))
        text = p.has(ParamPositional) ? "<" + text + ">" : p.name + " <" + text + ">";
    throw CommandLineException(owner_, name_, formatStringId(Msg::RequiredArgumentMissing, {text}));
}

void Command::throwUnknownParameters(const std::vector<std::string>& leftovers) const {
    std::string message;
    for (const auto& arg : leftovers) {
        if (!beginsWithDash(arg))
            continue;
        message += loadString(Msg::UnknownParameter) + arg;
        size_t typedLength = codePointCount(arg);
        size_t best = 4;
        const std::string* suggestion = nullptr;
        for (const auto& p : parameters_) {
            if (p.has(ParamPositional) || !withinSuggestionRange(typedLength, p.name, best))
                continue;
            size_t d = editDistance(arg, p.name);
            if (d < best) {
                best = d;
                suggestion = &p.name;
            }
        }
        if (suggestion)
            message += ". " + loadString(Msg::ParameterSuggestion) + *suggestion;
        message += ". \n";
    }
    throw CommandLineException(owner_, name_, message);
}

void Command::throwMissingGroups(unsigned missingGroups) const {
    std::string message;
    for (int g = 1; g <= 4; ++g) {
        if (!(missingGroups & (1u << (g - 1))))
            continue;
        message += loadString(Msg::OneOfRequired);
        std::string members;
        for (const auto& p : parameters_) {
            if (p.group != g)
                continue;
            std::string valueText = p.getValueText();
            if (p.name.empty() && valueText.empty())
                continue;
            if (!members.empty())
                members += " | ";
            members += valueText.empty() ? p.name : p.name + " <" + valueText + ">";
        }
        message += members + "\n";
    }
    throw CommandLineException(owner_, name_, message);
}

std::string Command::getUsage() const {
    // Keys in first-insertion order: a group shares one entry, every other parameter has its own.
    std::vector<std::pair<int, std::string>> entries;
    std::map<int, size_t> index;
    for (size_t i = 0; i < parameters_.size(); ++i) {
        const CommandParameter& p = parameters_[i];
        if (p.has(ParamHidden))
            continue;
        std::string item = p.has(ParamPositional) ? std::string() : p.name;
        if (!p.has(ParamSwitch)) {
            std::string placeholder = p.getValueText();
            if (placeholder.empty())
                placeholder = name_;
            placeholder = decorate(Placeholder, placeholder);
            if (p.has(ParamRest))
                placeholder = decorate(Repeated, placeholder);
            item += " " + placeholder;
        }
        if (!p.has(ParamRequired))
            item = decorate(Optional, item);
        int key = p.group > 0 ? p.group : static_cast<int>(i) + 32;
        auto it = index.find(key);
        if (it == index.end()) {
            index[key] = entries.size();
            entries.emplace_back(key, item);
        } else {
            entries[it->second].second += " | " + item;
        }
    }
    std::string result = decorate(Name, name_);
    for (const auto& [key, entry] : entries) {
        if (!result.empty())
            result += " ";
        result += key > 0 && key < 32 ? decorate(Group, entry) : entry;
    }
    return decorate(Line, result);
}

} // namespace quendle
