#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quendle {

// One File element of a block map as it stands in the document.
struct BlockMapFile {
    std::string name; // package path with backslashes
    uint64_t size = 0;
    // One per Block element; a Block without a Size attribute leaves `sized` false.
    std::vector<uint32_t> blockSizes;
    std::vector<std::array<uint8_t, 32>> blockHashes;
    bool sized = true;
};

// Reads "AppxBlockMap.xml" element by element, never as a whole document: a map of a package
// of 100,000 files would take more memory as a tree than the rest of the run. A File whose
// attributes or blocks cannot be read is skipped; false when the document itself is not
// well-formed (the files handed over before that still count).
bool readBlockMap(const std::string& path, const std::function<void(BlockMapFile&&)>& onFile);

// The same reading for a map that arrives in pieces (straight out of an archive entry).
class BlockMapStream {
  public:
    explicit BlockMapStream(std::function<void(BlockMapFile&&)> onFile);
    ~BlockMapStream();
    BlockMapStream(const BlockMapStream&) = delete;
    BlockMapStream& operator=(const BlockMapStream&) = delete;

    // False once the document is found not well-formed.
    bool feed(const char* data, size_t length);
    // Ends the document; false when it is not well-formed as a whole.
    bool finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quendle
