#include "package/VersionValidator.h"

namespace quendle {

const VersionFormat& packageVersionFormat() {
    static const VersionFormat format{4, 1, 5, {65535, 65535, 65535}};
    return format;
}

namespace {
std::string buildPattern(const VersionFormat& f) {
    std::string field = "(\\d){1," + std::to_string(f.maxDigits) + "}";
    return field + "((\\.){1," + std::to_string(f.separators) + "}" + field + "){0," +
           std::to_string(f.maxFields - 1) + "}";
}
} // namespace

VersionValidator::VersionValidator(const VersionFormat& format)
    : format_(format), pattern_(buildPattern(format)), regex_(pattern_, std::regex::ECMAScript) {}

bool VersionValidator::IsValid(std::string_view text) const {
    if (text.empty())
        return true;
    if (!std::regex_match(text.begin(), text.end(), regex_))
        return false;
    size_t field = 0;
    size_t start = 0;
    while (field < format_.fieldLimits.size() && start <= text.size()) {
        size_t dot = text.find('.', start);
        std::string_view part =
            text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        long value = 0;
        for (char c : part)
            value = value * 10 + (c - '0'); // at most five digits: no overflow
        if (!part.empty() && value > format_.fieldLimits[field])
            return false;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
        ++field;
    }
    return true;
}

} // namespace quendle
