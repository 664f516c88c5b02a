#pragma once
#include "os/UniqueFd.h"

#include <cstdint>

namespace quendle {

// Closes `fd`. When it is the last handle of a file that no name links to any more and that holds
// at least `minimumBytes` on disk, the close is left to a short-lived child process: freeing the
// blocks of a replaced package of hundreds of megabytes takes the file system about 0.2 ms per MiB,
// which the run need not wait for. The caller must hold no other handle of the file.
void releaseInBackground(UniqueFd fd, uint64_t minimumBytes = uint64_t{32} << 20);

} // namespace quendle
