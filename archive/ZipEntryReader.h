#pragma once
#include "core/Failure.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quendle {

class ZipCentralDirectory;
struct ZipDirectoryEntry;

// Streams one entry of an archive read by ZipCentralDirectory: the payload as stored and, for
// a deflated entry, the bytes it inflates to, both in pieces of at most 64 KiB.
class ZipEntryReader {
  public:
    // A false answer from a sink stops the read (the result is then false with no failure in `why`).
    using Sink = std::function<bool(const uint8_t* data, size_t length)>;

    // Either sink may be empty. False with `why` set when the payload cannot be read, the deflate
    // stream is damaged, ends before its payload does or gives more bytes than the entry declares.
    static bool read(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry, const Sink& payload,
                     const Sink& data, Failure& why);

    // Only the payload as stored, without inflating it.
    static bool readPayload(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                            const Sink& payload, Failure& why);

    // The whole inflated entry, refused (false, `why` set) when it declares more than `maxBytes`.
    static bool readAll(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry, uint64_t maxBytes,
                        std::string& out, Failure& why);

    static constexpr size_t PieceSize = 65536;
};

} // namespace quendle
