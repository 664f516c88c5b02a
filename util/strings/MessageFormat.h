#pragma once
#include "util/strings/MessageIds.h"

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quendle {

// One insert of a message: text or a number.
class MessageArg {
public:
    MessageArg(std::string text) : value_(std::move(text)) {}
    MessageArg(std::string_view text) : value_(std::string(text)) {}
    MessageArg(const char* text) : value_(std::string(text ? text : "")) {}
    template <std::integral T>
    MessageArg(T number) : value_(static_cast<long long>(number)) {}

    bool isText() const { return std::holds_alternative<std::string>(value_); }
    // The insert as text; a number is written in signed decimal.
    std::string text() const;
    // The insert as a number; text that is no number gives 0.
    long long number() const;

private:
    std::variant<std::string, long long> value_;
};

using MessageArgs = std::vector<MessageArg>;

// FormatMessage style: inserts written "%1!ls!", "%2!ld!", "%3" ...; "%%" is a percent sign.
// A reference to a missing insert gives the "Format message error" text.
std::string formatMessage(std::string_view templ, const MessageArgs& args);

// printf style: "%s" (text), "%d" (signed decimal), "%%". Missing inserts are left empty.
std::string formatString(std::string_view templ, const MessageArgs& args);

// The string-table text `id` formatted either way.
std::string formatMessageId(uint32_t id, const MessageArgs& args);
std::string formatStringId(uint32_t id, const MessageArgs& args);

} // namespace quendle
