#pragma once
#include "archive/VerifyProblem.h"

#include <string>
#include <vector>

namespace quendle {

class ProgressLine;

// Checks a package file as the client would rely on it, without changing or extracting it: the
// container's records, every entry's CRC, the block map, the content types, the file-system
// metadata, the schemas, the identity and the hive. A package written by any tool can be checked.
class PackageVerifier {
  public:
    // Every problem found, in the order of the checks; empty for a sound package.
    // `progress`, when given, shows the reading of the entries.
    static std::vector<VerifyProblem> check(const std::string& packagePath, ProgressLine* progress = nullptr);

    // /Verify: prints one line per problem (red on a terminal), then the summary. Raises the
    // summary as the failure when there are problems, so that the run ends with exit code 100.
    // With `json`, one JSON document instead of the lines (docs/inspect.md).
    static void verifyCommand(const std::string& packagePath, bool json);
};

} // namespace quendle
