#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quendle {

// Inflates pieces of a raw deflate stream each on its own, from a fresh state, the way the
// blocks of a block map must be inflatable.
class DeflateBlockInflater {
  public:
    DeflateBlockInflater();
    ~DeflateBlockInflater();
    DeflateBlockInflater(const DeflateBlockInflater&) = delete;
    DeflateBlockInflater& operator=(const DeflateBlockInflater&) = delete;

    struct Result {
        bool ok = false;     // all input used, and it ends where a deflate block ends
        size_t produced = 0; // bytes written to the output
        bool streamEnded = false;
        // The piece refers back to data before it: the writer kept the dictionary across the
        // block boundary (a sync flush, not a full one).
        bool reachesBack = false;
    };
    // Inflates `in` into `out`; more output than `capacity` leaves the result not ok.
    Result inflate(const uint8_t* in, size_t length, uint8_t* out, size_t capacity);
    // Whether `in` ends a deflate stream without giving any byte (what follows the last block).
    bool onlyEndsStream(const uint8_t* in, size_t length);

  private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};

} // namespace quendle
