#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quendle {

// Bytes appended now and read back once, in order, later, held compressed: the central
// directory of a package of 100,000 entries is about 14 MB as it is written, and its names
// repeat so much that it shrinks to a small part of that.
class PackedBytes {
  public:
    void append(const uint8_t* data, size_t length);
    // Hands every byte appended, in order and in pieces, to `sink`; false when the sink fails
    // or a piece cannot be unpacked.
    bool replay(const std::function<bool(const uint8_t*, size_t)>& sink) const;
    void clear();
    bool empty() const { return size_ == 0; }
    uint64_t size() const { return size_; }

    static constexpr size_t PieceSize = 1 << 20;

  private:
    void pack();

    struct Piece {
        std::vector<uint8_t> bytes;
        size_t rawSize = 0;
        bool packed = false;
    };
    std::vector<Piece> pieces_;
    std::vector<uint8_t> tail_; // not packed yet
    uint64_t size_ = 0;
};

} // namespace quendle
