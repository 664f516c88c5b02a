#pragma once
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

// Shape of a dotted version text: how many fields, separator characters and digits, and the
// largest value of each leading field.
struct VersionFormat {
    int maxFields;
    int separators;
    int maxDigits;
    std::vector<int> fieldLimits;
};

// The package version format: four fields of up to five digits, the first three at most 65535.
const VersionFormat& packageVersionFormat();

class VersionValidator {
  public:
    explicit VersionValidator(const VersionFormat& format = packageVersionFormat());

    // Empty text is valid (the value stays unchanged); otherwise the whole text must match
    // the pattern and each limited field must be within its limit.
    bool IsValid(std::string_view text) const;
    const std::string& pattern() const { return pattern_; }

  private:
    VersionFormat format_;
    std::string pattern_;
    std::regex regex_;
};

} // namespace quendle
