#include "archive/ZipEntryReader.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipRecords.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>
#include <zlib.h>

namespace quendle {

namespace {

struct InflateEnd {
    void operator()(z_stream* stream) const {
        inflateEnd(stream);
        delete stream;
    }
};

// Hands over an entry's stored bytes in pieces of `buffer`'s size; false when they cannot be read
// (`why` set) or when `piece` says stop.
bool forEachPiece(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                  std::vector<uint8_t>& buffer, Failure& why,
                  const std::function<bool(const uint8_t*, size_t)>& piece) {
    for (uint64_t offset = entry.dataOffset, left = entry.stored.compressedSize; left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
        if (!archive.readAt(offset, buffer.data(), n)) {
            why = Failure(Msg::ZipDataUnreadable);
            return false;
        }
        offset += n;
        left -= n;
        if (!piece(buffer.data(), n))
            return false;
    }
    return true;
}

} // namespace

bool ZipEntryReader::read(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                          const Sink& payload, const Sink& data, Failure& why) {
    why = Failure();
    if (entry.localHeaderSize == 0) {
        why = Failure(Msg::ZipLocalHeaderUnreadable);
        return false;
    }
    if (entry.stored.method != MethodStored && entry.stored.method != MethodDeflated) {
        why = Failure(Msg::ZipMethodUnsupported, {std::to_string(entry.stored.method)});
        return false;
    }
    // A stored entry is its payload: no more may reach the data sink than the entry declares.
    if (entry.stored.method == MethodStored && entry.stored.compressedSize != entry.stored.size) {
        why = Failure(Msg::ZipStoredSizeDiffers,
                      {std::to_string(entry.stored.compressedSize), std::to_string(entry.stored.size)});
        return false;
    }
    std::unique_ptr<z_stream, InflateEnd> stream;
    if (entry.stored.method == MethodDeflated) {
        stream.reset(new z_stream{});
        if (inflateInit2(stream.get(), -MAX_WBITS) != Z_OK) {
            why = Failure(Msg::ZipInflateCannotStart);
            return false;
        }
    }
    std::vector<uint8_t> in(PieceSize), out(PieceSize);
    uint64_t produced = 0;
    bool ended = entry.stored.method == MethodStored || deflatedPayloadIsEmpty(entry.stored.compressedSize);
    const bool allRead = forEachPiece(archive, entry, in, why, [&](const uint8_t* piece, size_t n) {
        if (payload && !payload(piece, n))
            return false;
        if (!stream) {
            produced += n;
            return !data || data(piece, n);
        }
        if (ended) {
            why = Failure(Msg::ZipDeflateEndsEarly);
            return false;
        }
        stream->next_in = const_cast<uint8_t*>(piece);
        stream->avail_in = static_cast<uInt>(n);
        while (stream->avail_in > 0 && !ended) {
            stream->next_out = out.data();
            stream->avail_out = static_cast<uInt>(out.size());
            int rc = inflate(stream.get(), Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                why = Failure(Msg::ZipDeflateDamaged, {stream->msg ? stream->msg : "error"});
                return false;
            }
            size_t got = out.size() - stream->avail_out;
            produced += got;
            if (produced > entry.stored.size) {
                why = Failure(Msg::ZipInflatesBeyond, {std::to_string(entry.stored.size)});
                return false;
            }
            if (got > 0 && data && !data(out.data(), got))
                return false;
            ended = rc == Z_STREAM_END;
            if (rc == Z_BUF_ERROR && got == 0)
                break;
        }
        if (ended && stream->avail_in > 0) {
            why = Failure(Msg::ZipDeflateEndsEarly);
            return false;
        }
        return true;
    });
    if (!allRead)
        return false;
    if (!ended) {
        why = Failure(Msg::ZipDeflateCutShort);
        return false;
    }
    if (produced != entry.stored.size) {
        why = Failure(Msg::ZipHoldsOtherSize, {std::to_string(produced), std::to_string(entry.stored.size)});
        return false;
    }
    return true;
}

bool ZipEntryReader::readPayload(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                                 const Sink& payload, Failure& why) {
    why = Failure();
    if (entry.localHeaderSize == 0) {
        why = Failure(Msg::ZipLocalHeaderUnreadable);
        return false;
    }
    std::vector<uint8_t> in(PieceSize);
    return forEachPiece(archive, entry, in, why, payload);
}

bool ZipEntryReader::readAll(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                             uint64_t maxBytes, std::string& out, Failure& why) {
    out.clear();
    if (entry.stored.size > maxBytes) {
        why = Failure(Msg::ZipDeclaresBeyondCheck,
                      {std::to_string(entry.stored.size), std::to_string(maxBytes)});
        return false;
    }
    // The declared size is only a claim: memory grows with the bytes that really arrive.
    out.reserve(static_cast<size_t>(std::min<uint64_t>(entry.stored.size, 16u << 20)));
    return read(
        archive, entry, {},
        [&](const uint8_t* p, size_t n) {
            out.append(reinterpret_cast<const char*>(p), n);
            return true;
        },
        why);
}

} // namespace quendle
