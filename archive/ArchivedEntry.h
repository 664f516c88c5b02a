#pragma once
#include "archive/ZipRecords.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

constexpr size_t BlockSize = 65536;

// An entry of the original archive that stays where it is until the save copies it: what its
// directory says, and what the old block map says about its blocks.
struct ArchivedEntry {
    uint64_t localHeaderOffset = 0; // in the original archive
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    DosDateTime when;
    bool mapped = false; // the old block map describes the entry
    // Compressed size and SHA-256 of each 64 KiB block, from the old block map; empty when the
    // map does not describe the entry block by block. One vector, not two: a package of 100,000
    // small files has 100,000 of them.
    struct OldBlock {
        std::array<uint8_t, 32> hash;
        uint32_t compressedSize;
    };
    std::vector<OldBlock> blocks;

    uint64_t blockCount() const { return (size + BlockSize - 1) / BlockSize; }
};

} // namespace quendle
