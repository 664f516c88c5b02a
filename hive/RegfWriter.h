#pragma once
#include "hive/HiveTree.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace quendle {

// Writes a HiveTree as a complete, compact regf hive: fresh bins with no holes but the tail of
// each bin, in the tree's format version ("li" lists in 1.2, "lf" in 1.3 and 1.4, "lh" from 1.5;
// big-data records from 1.4, single data cells before), every security descriptor once with its
// reference count, names stored one byte per character when they are ASCII, and a new
// checksum. Failures raise regf::RegfError.
class RegfWriter {
  public:
    using Sink = std::function<void(std::span<const uint8_t>)>;

    // Creates `path`, which must not exist yet (183 otherwise); a failed write leaves no file.
    static void writeFile(const HiveTree& tree, const std::string& path);
    // The same bytes, in order, to any sink: the base block, then bin after bin.
    static void write(const HiveTree& tree, const Sink& sink);
};

} // namespace quendle
