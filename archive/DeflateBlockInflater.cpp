#include "archive/DeflateBlockInflater.h"

#include <string_view>
#include <zlib.h>

namespace quendle {

struct DeflateBlockInflater::Stream {
    z_stream z{};
    bool ready = false;
};

DeflateBlockInflater::DeflateBlockInflater() : stream_(std::make_unique<Stream>()) {
    stream_->ready = inflateInit2(&stream_->z, -MAX_WBITS) == Z_OK;
}

DeflateBlockInflater::~DeflateBlockInflater() {
    if (stream_->ready)
        inflateEnd(&stream_->z);
}

DeflateBlockInflater::Result DeflateBlockInflater::inflate(const uint8_t* in, size_t length, uint8_t* out,
                                                           size_t capacity) {
    Result result;
    z_stream& z = stream_->z;
    if (!stream_->ready || inflateReset(&z) != Z_OK)
        return result;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(capacity);
    // Block by block, so that the piece is seen to end where a deflate block ends: one byte too
    // many or too few leaves the inflater inside a block.
    int rc = Z_OK;
    while (rc == Z_OK && z.avail_in > 0 && z.avail_out > 0)
        rc = ::inflate(&z, Z_BLOCK);
    result.produced = capacity - z.avail_out;
    result.streamEnded = rc == Z_STREAM_END;
    result.reachesBack =
        rc == Z_DATA_ERROR && z.msg && std::string_view(z.msg) == "invalid distance too far back";
    bool atBoundary = rc == Z_STREAM_END || (rc == Z_OK && (z.data_type & 128));
    result.ok = atBoundary && z.avail_in == 0;
    return result;
}

bool DeflateBlockInflater::onlyEndsStream(const uint8_t* in, size_t length) {
    z_stream& z = stream_->z;
    if (length == 0 || !stream_->ready || inflateReset(&z) != Z_OK)
        return false;
    uint8_t none[1];
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = none;
    z.avail_out = sizeof none;
    return ::inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_in == 0 && z.avail_out == sizeof none;
}

} // namespace quendle
