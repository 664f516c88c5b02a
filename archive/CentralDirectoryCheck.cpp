#include "archive/CentralDirectoryCheck.h"

#include "archive/PercentEncoding.h"
#include "archive/ZipFormat.h"
#include "core/SystemError.h"
#include "os/ExtractDestination.h"
#include "os/FileHandle.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"

#include <algorithm>
#include <cstdio>
#include <zlib.h>

namespace quendle {

namespace {

constexpr size_t EndSize = 22;
constexpr size_t LocatorSize = 20;
constexpr size_t CentralFixedSize = 46;
constexpr size_t LocalFixedSize = 30;

using namespace zipformat;

// A name for messages: as it stands when it is printable UTF-8, otherwise with every control
// byte and every byte past ASCII as \xHH.
std::string shown(const std::string& name) {
    auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    if (isValidUtf8(name) && std::none_of(name.begin(), name.end(), control))
        return name;
    std::string out;
    for (unsigned char c : name) {
        if (control(c) || c >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Decodes one UTF-8 sequence at `at`; 0 when it is not well-formed (overlong forms, surrogates
// and values past U+10FFFF included).
size_t utf8Length(const std::string& s, size_t at, uint32_t& code) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(at);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || at + length > s.size())
        return 0;
    code = length == 1 ? c : c & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Why a decoded entry name cannot become a file name, or no failure.
Failure nameProblem(const std::string& stored) {
    std::string name = percentDecode(stored);
    for (size_t at = 0; at < name.size();) {
        uint32_t code = 0;
        size_t length = utf8Length(name, at, code);
        if (length == 0)
            return Failure(Msg::ZipNameNotUtf8, {shown(stored)});
        if (code == 0)
            return Failure(Msg::ZipNameNul, {shown(stored)});
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", code);
            return Failure(Msg::ZipNameControl, {shown(stored), hex});
        }
        at += length;
    }
    return {};
}

// The ZIP64 values that replace 32-bit fields set to all ones, and a Unicode path.
void readExtra(const uint8_t* extra, size_t length, DirectoryRecord& record, bool sizeMissing,
               bool compressedMissing, bool offsetMissing) {
    bool zip64Found = false;
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t id = get16(extra + at);
        size_t size = get16(extra + at + 2);
        const uint8_t* data = extra + at + 4;
        if (at + 4 + size > length)
            break;
        if (id == Zip64ExtraId && !zip64Found) {
            zip64Found = true;
            size_t field = 0;
            auto next = [&](uint64_t& into) {
                if (field + 8 <= size)
                    into = get64(data + field);
                else
                    record.zip64Missing = true;
                field += 8;
            };
            if (sizeMissing)
                next(record.size);
            if (compressedMissing)
                next(record.compressedSize);
            if (offsetMissing)
                next(record.localHeaderOffset);
        } else if (id == UnicodePathExtraId && size >= 5 && data[0] == 1) {
            record.unicodeName.assign(reinterpret_cast<const char*>(data + 5), size - 5);
            // The field names the file only while it still belongs to the stored name.
            record.unicodeNameCurrent =
                get32(data + 1) ==
                static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(record.name.data()),
                                            static_cast<uInt>(record.name.size())));
        }
        at += 4 + size;
    }
    if (!zip64Found && (sizeMissing || compressedMissing || offsetMissing))
        record.zip64Missing = true;
}

} // namespace

std::string shownEntryName(const std::string& name) {
    return shown(name);
}

Failure endProblemFailure(EndProblem problem) {
    switch (problem) {
    case EndProblem::None:
        break;
    case EndProblem::NoEndRecord:
        return Failure(Msg::ZipNoEndRecord);
    case EndProblem::Unreadable:
        return Failure(Msg::ZipUnreadable);
    case EndProblem::Zip64EndMissing:
        return Failure(Msg::ZipZip64EndMissing);
    case EndProblem::Outside:
        return Failure(Msg::ZipDirectoryOutside);
    }
    return {};
}

EndProblem findCentralDirectory(const RandomAccessFile& fd, DirectoryLocation& location) {
    const uint64_t fileSize = fd.size();
    location = {};
    if (fileSize < EndSize) {
        return EndProblem::NoEndRecord;
    }
    // The end record sits in the last 64 KiB + 22 bytes (its comment is at most 65,535 bytes).
    uint64_t tailStart = fileSize > EndSize + 0xFFFF ? fileSize - EndSize - 0xFFFF : 0;
    std::vector<uint8_t> tail(static_cast<size_t>(fileSize - tailStart));
    if (!fd.readAt(tailStart, tail.data(), tail.size())) {
        return EndProblem::Unreadable;
    }
    size_t end = std::string::npos;
    for (size_t at = tail.size() - EndSize + 1; at-- > 0;) {
        if (get32(&tail[at]) == EndSignature && at + EndSize + get16(&tail[at + 20]) <= tail.size()) {
            end = at;
            break;
        }
    }
    if (end == std::string::npos) {
        return EndProblem::NoEndRecord;
    }
    location.classicCount = location.count = get16(&tail[end + 10]);
    location.classicSize = location.size = get32(&tail[end + 12]);
    location.classicOffset = location.offset = get32(&tail[end + 16]);
    location.countsAgree = get16(&tail[end + 8]) == location.count;
    location.endRecord = location.end = tailStart + end;
    if (location.end >= LocatorSize) {
        uint8_t locator[LocatorSize];
        if (fd.readAt(location.end - LocatorSize, locator, sizeof locator) &&
            get32(locator) == Zip64LocatorSignature) {
            uint8_t record[56];
            uint64_t at = get64(locator + 8);
            if (at > location.end - LocatorSize || location.end - LocatorSize - at < sizeof record ||
                !fd.readAt(at, record, sizeof record) || get32(record) != Zip64EndSignature) {
                return EndProblem::Zip64EndMissing;
            }
            location.count = get64(record + 32);
            location.size = get64(record + 40);
            location.offset = get64(record + 48);
            // One disk only: the entries on this disk are all the entries.
            location.countsAgree = get64(record + 24) == location.count;
            location.end = at;
            location.zip64 = true;
        }
    }
    if (location.offset > location.end || location.size > location.end - location.offset) {
        return EndProblem::Outside;
    }
    return EndProblem::None;
}

DirectoryRecordReader::DirectoryRecordReader(const RandomAccessFile& file, const DirectoryLocation& location)
    : file_(file), offset_(location.offset), end_(location.offset + location.size) {}

bool DirectoryRecordReader::read(void* into, size_t length) {
    auto* out = static_cast<uint8_t*>(into);
    while (length > 0) {
        if (at_ == buffer_.size()) {
            uint64_t left = end_ - offset_;
            if (left == 0)
                return false;
            buffer_.resize(static_cast<size_t>(std::min<uint64_t>(left, 1 << 16)));
            if (!file_.readAt(offset_, buffer_.data(), buffer_.size()))
                return false;
            offset_ += buffer_.size();
            at_ = 0;
        }
        size_t take = std::min(length, buffer_.size() - at_);
        std::copy_n(buffer_.data() + at_, take, out);
        at_ += take;
        out += take;
        length -= take;
    }
    return true;
}

bool DirectoryRecordReader::parse(const uint8_t* header, const uint8_t* variable, DirectoryRecord& record) {
    if (get32(header) != CentralSignature)
        return false;
    size_t nameLength = get16(header + 28), extraLength = get16(header + 30);
    record.name.assign(reinterpret_cast<const char*>(variable), nameLength);
    record.unicodeName.clear();
    record.unicodeNameCurrent = false;
    record.zip64Missing = false;
    record.flags = get16(header + 8);
    record.method = get16(header + 10);
    record.time = get16(header + 12);
    record.date = get16(header + 14);
    record.crc = get32(header + 16);
    record.compressedSize = get32(header + 20);
    record.size = get32(header + 24);
    record.externalAttributes = get32(header + 38);
    record.localHeaderOffset = get32(header + 42);
    readExtra(variable + nameLength, extraLength, record, record.size == 0xFFFFFFFF,
              record.compressedSize == 0xFFFFFFFF, record.localHeaderOffset == 0xFFFFFFFF);
    return true;
}

bool DirectoryRecordReader::next(DirectoryRecord& record, Failure& why) {
    uint64_t at = offset_ - (buffer_.size() - at_);
    uint8_t header[CentralFixedSize];
    bool ok = read(header, sizeof header) && get32(header) == CentralSignature;
    if (ok) {
        variable_.resize(size_t{get16(header + 28)} + get16(header + 30) + get16(header + 32));
        ok = read(variable_.data(), variable_.size()) && parse(header, variable_.data(), record);
    }
    if (!ok) {
        why = Failure(Msg::ZipDirectoryRecordDamaged, {std::to_string(index_)});
        return false;
    }
    record.recordOffset = at;
    ++index_;
    return true;
}

bool DirectoryRecordReader::recordAt(uint64_t recordOffset, DirectoryRecord& record) const {
    uint8_t header[CentralFixedSize];
    if (!file_.readAt(recordOffset, header, sizeof header))
        return false;
    std::vector<uint8_t> variable(size_t{get16(header + 28)} + get16(header + 30));
    if (!file_.readAt(recordOffset + CentralFixedSize, variable.data(), variable.size()) ||
        !parse(header, variable.data(), record))
        return false;
    record.recordOffset = recordOffset;
    return true;
}

Failure checkCentralDirectory(const RandomAccessFile& fd, const DirectoryLocation& location) {
    if (!location.countsAgree)
        return Failure(Msg::ZipEndRecordInconsistent);
    // Every entry takes at least its fixed header: a count beyond that is a lie, not a reservation.
    if (location.count > location.size / CentralFixedSize)
        return Failure(Msg::ZipTooManyEntries);
    // Only what the range checks need is kept per entry; names are read again for a message.
    struct Range {
        uint64_t start, compressedSize, recordOffset;
    };
    std::vector<Range> ranges;
    ranges.reserve(static_cast<size_t>(location.count));
    DirectoryRecordReader reader(fd, location);
    DirectoryRecord record;
    Failure why;
    for (uint64_t i = 0; i < location.count; ++i) {
        if (!reader.next(record, why))
            return why;
        if (why = nameProblem(record.name); why.failed())
            return why;
        if (!record.unicodeName.empty()) {
            if (why = nameProblem(record.unicodeName); why.failed())
                return why;
        }
        if (record.zip64Missing)
            return Failure(Msg::ArchiveZip64FieldMissing, {shown(record.name)});
        ranges.push_back({record.localHeaderOffset, record.compressedSize, record.recordOffset});
    }
    auto nameAt = [&](const Range& range) {
        DirectoryRecord named;
        return reader.recordAt(range.recordOffset, named) ? shown(named.name) : std::string();
    };
    // Each entry owns the bytes from its local header to the end of its data; in offset order,
    // every range must end before the next begins and before the central directory.
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const Range& a, const Range& b) { return a.start < b.start; });
    const uint64_t fileSize = fd.size();
    const Range* previous = nullptr;
    uint64_t previousEnd = 0;
    for (const Range& entry : ranges) {
        uint64_t start = entry.start;
        if (previous && start == previous->start)
            return Failure(Msg::ZipSharedLocalHeader,
                           {nameAt(*previous), nameAt(entry), std::to_string(start)});
        if (previous && start < previousEnd)
            return Failure(Msg::ZipDataOverlaps,
                           {nameAt(*previous), std::to_string(previous->start), std::to_string(previousEnd),
                            nameAt(entry), std::to_string(start)});
        uint8_t local[LocalFixedSize];
        if (start > location.offset || location.offset - start < LocalFixedSize ||
            !fd.readAt(start, local, sizeof local) || get32(local) != LocalSignature)
            return Failure(Msg::ZipNoLocalHeader, {nameAt(entry), std::to_string(start)});
        uint64_t dataStart = start + LocalFixedSize + get16(local + 26) + get16(local + 28);
        uint64_t end = dataStart + entry.compressedSize;
        if (entry.compressedSize > fileSize || end > location.offset)
            return Failure(
                Msg::ZipDataIntoDirectoryAt,
                {nameAt(entry), std::to_string(start), std::to_string(end), std::to_string(location.offset)});
        previous = &entry;
        previousEnd = end;
    }
    return {};
}

Failure duplicateEntryFailure(const std::string& first, const std::string& second) {
    if (first == second)
        return Failure(Msg::ZipEntryTwice, {first});
    std::vector<std::string> a, b;
    bool folder = false;
    splitEntryName(first, a, folder);
    splitEntryName(second, b, folder);
    uint32_t why = a == b                                ? Msg::ZipSameFileSeparators
                   : foldCase(first) == foldCase(second) ? Msg::ZipSameFileCase
                                                         : Msg::ZipSameFileCaseAndSeparators;
    return Failure(why, {first, second});
}

} // namespace quendle
