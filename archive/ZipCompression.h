#pragma once

namespace quendle {

// Compression of one entry as the caller chooses it; the values are part of the interface.
enum class ZipCompression : int {
    Stored = 0,
    SuperFast = 1,
    Maximum = 2,
    Normal = 3,
};

} // namespace quendle
