#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace quendle {

// 8.3 short names for the entries of the file-system metadata. Pure: the caller says which
// short names its siblings already carry, so the rules can be tested without a document.
class ShortNameGenerator {
  public:
    // Answers whether a sibling entry already carries the candidate short name.
    using TakenPredicate = std::function<bool(const std::string& candidate)>;

    // The short name for `longName`, or empty when the long name is already a valid 8.3 name.
    // Candidates are tried with "~1", "~2", ... until `isTaken` rejects none.
    static std::string makeShortName(std::string_view longName, const TakenPredicate& isTaken);

    // The candidate for number `n` (1-based), without asking the siblings.
    static std::string candidate(std::string_view longName, unsigned long long n);

    // True when the long name needs no short name: a stem of at most 8 and an extension of at
    // most 3 characters, neither holding a dropped (". ") or replaced ("+,;=[]") character.
    static bool isValidShortName(std::string_view longName);

    // The first `maximum` characters of `text` in short-name form: "." and space dropped,
    // "+,;=[]" written as "_", every other character upper-cased.
    static std::string shortNamePart(std::string_view text, size_t maximum);
};

} // namespace quendle
