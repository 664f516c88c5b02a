#pragma once
#include "hive/HiveTree.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quendle {

// Reads a regf hive into a HiveTree. Every offset, size and count in the file is checked
// before it is used; a damaged hive raises regf::RegfError (1009 for a bad base block, 1015 for
// damage in the bins, the file error for an unreadable file) and never reads out of bounds or
// loops.
class RegfReader {
  public:
    static std::shared_ptr<HiveTree> readFile(const std::string& path);
    static std::shared_ptr<HiveTree> read(std::span<const uint8_t> bytes);
};

} // namespace quendle
