#pragma once
#include "os/FileHandle.h"

#include <cstdint>

namespace quendle {

// Closes `file`, possibly later and elsewhere: when it is the last handle of a file that no name
// links to any more and that holds at least `minimumBytes` on disk, freeing its blocks (about
// 0.2 ms per MiB for a replaced package of hundreds of megabytes) is work the run need not wait
// for. The POSIX body leaves that close to a short-lived child process; a body without one may
// simply close. The caller must hold no other handle of the file.
void releaseInBackground(FileHandle file, uint64_t minimumBytes = uint64_t{32} << 20);

} // namespace quendle
