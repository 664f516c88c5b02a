#include "archive/PackedBytes.h"

#include <zlib.h>

namespace quendle {

void PackedBytes::append(const uint8_t* data, size_t length) {
    size_ += length;
    while (length > 0) {
        if (tail_.capacity() < PieceSize)
            tail_.reserve(PieceSize);
        size_t n = PieceSize - tail_.size();
        if (n > length)
            n = length;
        tail_.insert(tail_.end(), data, data + n);
        data += n;
        length -= n;
        if (tail_.size() == PieceSize)
            pack();
    }
}

void PackedBytes::pack() {
    Piece piece;
    piece.rawSize = tail_.size();
    uLongf packedSize = compressBound(static_cast<uLong>(tail_.size()));
    piece.bytes.resize(packedSize);
    if (compress2(piece.bytes.data(), &packedSize, tail_.data(), static_cast<uLong>(tail_.size()), 1) ==
            Z_OK &&
        packedSize < tail_.size()) {
        piece.bytes.resize(packedSize);
        piece.bytes.shrink_to_fit();
        piece.packed = true;
    } else {
        piece.bytes = tail_;
    }
    pieces_.push_back(std::move(piece));
    tail_.clear();
}

bool PackedBytes::replay(const std::function<bool(const uint8_t*, size_t)>& sink) const {
    std::vector<uint8_t> raw;
    for (const Piece& piece : pieces_) {
        if (!piece.packed) {
            if (!sink(piece.bytes.data(), piece.bytes.size()))
                return false;
            continue;
        }
        raw.resize(piece.rawSize);
        uLongf rawSize = static_cast<uLongf>(piece.rawSize);
        if (uncompress(raw.data(), &rawSize, piece.bytes.data(), static_cast<uLong>(piece.bytes.size())) !=
                Z_OK ||
            rawSize != piece.rawSize || !sink(raw.data(), raw.size()))
            return false;
    }
    return tail_.empty() || sink(tail_.data(), tail_.size());
}

void PackedBytes::clear() {
    pieces_.clear();
    tail_.clear();
    tail_.shrink_to_fit();
    size_ = 0;
}

} // namespace quendle
