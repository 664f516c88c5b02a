#pragma once
#include "archive/VerifyProblem.h"
#include <functional>
#include <string>

namespace quendle {

class ProgressLine;
class ZipCentralDirectory;

// Reads every entry of an archive once and checks it against its central directory record (CRC,
// sizes) and against "AppxBlockMap.xml": one `File` per entry in archive order, its sizes, and
// each block's hash and compressed size, the block inflated on its own.
class BlockMapCheck {
  public:
    using ProblemSink = quendle::ProblemSink;

    // `progress`, when given, counts each entry as its check ends.
    static void run(const ZipCentralDirectory& archive, const ProblemSink& problem,
                    ProgressLine* progress = nullptr);
};

} // namespace quendle
