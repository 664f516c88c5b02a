#include "hive/RegistryValueText.h"

#include "core/Exception.h"
#include "hive/HiveName.h"
#include "util/strings/StringSystem.h"

#include <climits>

namespace quendle::regtext {
namespace {

void appendUtf16(std::vector<uint8_t>& out, std::u16string_view text) {
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
}

void appendNul(std::vector<uint8_t>& out) {
    out.insert(out.end(), 2, 0);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::vector<uint8_t> stringData(std::string_view text) {
    std::vector<uint8_t> out;
    appendUtf16(out, hivename::fromUtf8Lossy(text));
    appendNul(out);
    return out;
}

int32_t parseDword(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= int64_t{INT32_MAX} + 1)
            value = value * 10 + (text[i] - '0');
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::vector<uint8_t> dwordData(std::string_view text) {
    uint32_t v = static_cast<uint32_t>(parseDword(text));
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

std::optional<std::vector<uint8_t>> binaryData(std::string_view text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        // As a number reader does: leading blanks, then digits up to the first non-digit.
        size_t k = i;
        if (isBlank(text[k]))
            ++k;
        if (k >= i + 2 || hexDigitValue(text[k]) < 0)
            return std::nullopt;
        int value = hexDigitValue(text[k]);
        if (k + 1 < i + 2 && hexDigitValue(text[k + 1]) >= 0)
            value = value * 16 + hexDigitValue(text[k + 1]);
        out.push_back(static_cast<uint8_t>(value));
    }
    return out;
}

std::vector<uint8_t> multiStringData(std::string_view text) {
    std::vector<uint8_t> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("\r\n", start);
        std::string_view piece =
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty()) {
            appendUtf16(out, hivename::fromUtf8Lossy(piece));
            appendNul(out);
        }
        if (end == std::string_view::npos)
            break;
        start = end + 2;
    }
    appendNul(out);
    return out;
}

std::vector<uint8_t> dataFromText(uint32_t valueType, std::string_view text) {
    switch (valueType) {
    case regtype::None:
    case regtype::Dword:
        return dwordData(text);
    case regtype::Binary: {
        auto data = binaryData(text);
        if (!data)
            throw Exception(
                formatMessage("Invalid binary registry value: \"%1!ls!\". A binary value is written as "
                              "pairs of hexadecimal digits.",
                              {std::string(text)}));
        return *data;
    }
    case regtype::MultiString:
        return multiStringData(text);
    default:
        return stringData(text);
    }
}

} // namespace quendle::regtext
