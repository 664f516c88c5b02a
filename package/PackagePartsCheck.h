#pragma once
#include "archive/VerifyProblem.h"
#include <functional>
#include <string>

namespace quendle {

class ZipCentralDirectory;

// The checks of a package's own parts, read straight from the archive: content types cover
// every entry, every `Root` file has its chain of file-system metadata entries with valid,
// unique 8.3 names, the manifest (after the namespace upgrade), the metadata and the stream map
// pass the schemas, the identity values are well formed, and the hive reads completely.
class PackagePartsCheck {
  public:
    using ProblemSink = quendle::ProblemSink;

    static void run(const ZipCentralDirectory& archive, const ProblemSink& problem);
};

} // namespace quendle
