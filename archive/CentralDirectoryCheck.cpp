#include "archive/CentralDirectoryCheck.h"

#include "archive/PercentEncoding.h"
#include "archive/ZipFormat.h"
#include "core/SystemError.h"
#include "os/ExtractDestination.h"
#include "os/UniqueFd.h"
#include "util/strings/StringSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace quendle {

namespace {

constexpr size_t EndSize = 22;
constexpr size_t LocatorSize = 20;
constexpr size_t CentralFixedSize = 46;
constexpr size_t LocalFixedSize = 30;

using namespace zipformat;

bool readAt(const RandomAccessFile& file, uint64_t offset, void* into, size_t length) {
    return file.readAt(offset, into, length);
}

// Reads the central directory front to back in pieces: its declared size never decides how much
// memory is taken at once.
class SequentialReader {
  public:
    SequentialReader(const RandomAccessFile& file, uint64_t offset, uint64_t end)
        : fd_(file), offset_(offset), end_(end) {}
    bool read(void* into, size_t length) {
        auto* out = static_cast<uint8_t*>(into);
        while (length > 0) {
            if (at_ == buffer_.size()) {
                uint64_t left = end_ - offset_;
                if (left == 0)
                    return false;
                buffer_.resize(static_cast<size_t>(std::min<uint64_t>(left, 1 << 16)));
                if (!readAt(fd_, offset_, buffer_.data(), buffer_.size()))
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

  private:
    const RandomAccessFile& fd_;
    uint64_t offset_, end_;
    std::vector<uint8_t> buffer_;
    size_t at_ = 0;
};

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

// Why a decoded entry name cannot become a file name, or empty.
std::string nameProblem(const std::string& stored) {
    std::string name = percentDecode(stored);
    for (size_t at = 0; at < name.size();) {
        uint32_t code = 0;
        size_t length = utf8Length(name, at, code);
        if (length == 0)
            return "entry \"" + shown(stored) + "\" has a name that is not UTF-8";
        if (code == 0)
            return "entry \"" + shown(stored) + "\" has a NUL character in its name";
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", code);
            return "entry \"" + shown(stored) + "\" has a control character (" + hex + ") in its name";
        }
        at += length;
    }
    return {};
}

// The ZIP64 field values that replace 32-bit fields set to all ones, and a Unicode path.
void readExtra(const uint8_t* extra, size_t length, CentralEntry& entry, bool sizeMissing,
               bool compressedMissing, bool offsetMissing) {
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t id = get16(extra + at);
        size_t size = get16(extra + at + 2);
        const uint8_t* data = extra + at + 4;
        if (at + 4 + size > length)
            break;
        if (id == Zip64ExtraId) {
            size_t field = 0;
            auto next = [&](uint64_t& into) {
                if (field + 8 <= size)
                    into = get64(data + field);
                field += 8;
            };
            uint64_t ignored = 0;
            if (sizeMissing)
                next(ignored);
            if (compressedMissing)
                next(entry.compressedSize);
            if (offsetMissing)
                next(entry.localHeaderOffset);
        } else if (id == UnicodePathExtraId && size >= 5 && data[0] == 1) {
            entry.unicodeName.assign(reinterpret_cast<const char*>(data + 5), size - 5);
        }
        at += 4 + size;
    }
}

} // namespace

bool readCentralDirectory(const RandomAccessFile& fd, CentralDirectory& directory, std::string& why) {
    directory.fileSize = fd.size();
    if (directory.fileSize < EndSize) {
        why = "the archive has no end of central directory record";
        return false;
    }
    // The end record sits in the last 64 KiB + 22 bytes (its comment is at most 65,535 bytes).
    uint64_t tailStart = directory.fileSize > EndSize + 0xFFFF ? directory.fileSize - EndSize - 0xFFFF : 0;
    std::vector<uint8_t> tail(static_cast<size_t>(directory.fileSize - tailStart));
    if (!readAt(fd, tailStart, tail.data(), tail.size())) {
        why = "the archive cannot be read";
        return false;
    }
    size_t end = std::string::npos;
    for (size_t at = tail.size() - EndSize + 1; at-- > 0;) {
        if (get32(&tail[at]) == EndSignature && at + EndSize + get16(&tail[at + 20]) <= tail.size()) {
            end = at;
            break;
        }
    }
    if (end == std::string::npos) {
        why = "the archive has no end of central directory record";
        return false;
    }
    uint64_t count = get16(&tail[end + 10]);
    uint64_t size = get32(&tail[end + 12]);
    directory.offset = get32(&tail[end + 16]);
    uint64_t endOffset = tailStart + end;
    if (endOffset >= LocatorSize) {
        uint8_t locator[LocatorSize];
        if (readAt(fd, endOffset - LocatorSize, locator, sizeof locator) &&
            get32(locator) == Zip64LocatorSignature) {
            uint8_t record[56];
            uint64_t at = get64(locator + 8);
            if (at > endOffset || !readAt(fd, at, record, sizeof record) ||
                get32(record) != Zip64EndSignature) {
                why = "the ZIP64 end of central directory record is missing";
                return false;
            }
            count = get64(record + 32);
            size = get64(record + 40);
            directory.offset = get64(record + 48);
            endOffset = at;
        }
    }
    if (directory.offset > endOffset || size > endOffset - directory.offset) {
        why = "the central directory lies outside the archive";
        return false;
    }
    // Every entry takes at least its fixed header: a count beyond that is a lie, not a reservation.
    if (count > size / CentralFixedSize) {
        why = "the central directory declares more entries than it can hold";
        return false;
    }
    SequentialReader reader(fd, directory.offset, directory.offset + size);
    directory.entries.clear();
    directory.entries.reserve(static_cast<size_t>(count));
    std::vector<uint8_t> variable;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t header[CentralFixedSize];
        if (!reader.read(header, sizeof header) || get32(header) != CentralSignature) {
            why = "central directory entry " + std::to_string(i) + " is damaged";
            return false;
        }
        size_t nameLength = get16(header + 28), extraLength = get16(header + 30),
               commentLength = get16(header + 32);
        variable.resize(nameLength + extraLength + commentLength);
        if (!reader.read(variable.data(), variable.size())) {
            why = "central directory entry " + std::to_string(i) + " is damaged";
            return false;
        }
        CentralEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(variable.data()), nameLength);
        entry.compressedSize = get32(header + 20);
        entry.localHeaderOffset = get32(header + 42);
        readExtra(variable.data() + nameLength, extraLength, entry, get32(header + 24) == 0xFFFFFFFF,
                  entry.compressedSize == 0xFFFFFFFF, entry.localHeaderOffset == 0xFFFFFFFF);
        directory.entries.push_back(std::move(entry));
    }
    return true;
}

std::string checkCentralDirectory(const CentralDirectory& directory, const RandomAccessFile& fd) {
    for (const CentralEntry& entry : directory.entries) {
        if (std::string why = nameProblem(entry.name); !why.empty())
            return why;
        if (!entry.unicodeName.empty()) {
            if (std::string why = nameProblem(entry.unicodeName); !why.empty())
                return why;
        }
    }
    // Each entry owns the bytes from its local header to the end of its data; in offset order,
    // every range must end before the next begins and before the central directory.
    std::vector<const CentralEntry*> order;
    order.reserve(directory.entries.size());
    for (const CentralEntry& entry : directory.entries)
        order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(), [](const CentralEntry* a, const CentralEntry* b) {
        return a->localHeaderOffset < b->localHeaderOffset;
    });
    const CentralEntry* previous = nullptr;
    uint64_t previousEnd = 0;
    for (const CentralEntry* entry : order) {
        uint64_t start = entry->localHeaderOffset;
        if (previous && start == previous->localHeaderOffset)
            return "entries \"" + shown(previous->name) + "\" and \"" + shown(entry->name) +
                   "\" share the local header at offset " + std::to_string(start);
        if (previous && start < previousEnd)
            return "the data of entry \"" + shown(previous->name) + "\" (bytes " +
                   std::to_string(previous->localHeaderOffset) + " to " + std::to_string(previousEnd) +
                   ") overlaps entry \"" + shown(entry->name) + "\" at offset " + std::to_string(start);
        uint8_t local[LocalFixedSize];
        if (start > directory.offset || directory.offset - start < LocalFixedSize ||
            !readAt(fd, start, local, sizeof local) || get32(local) != LocalSignature)
            return "entry \"" + shown(entry->name) + "\" has no local header at offset " +
                   std::to_string(start);
        uint64_t dataStart = start + LocalFixedSize + get16(local + 26) + get16(local + 28);
        uint64_t end = dataStart + entry->compressedSize;
        if (entry->compressedSize > directory.fileSize || end > directory.offset)
            return "the data of entry \"" + shown(entry->name) + "\" (bytes " + std::to_string(start) +
                   " to " + std::to_string(end) + ") runs into the central directory at offset " +
                   std::to_string(directory.offset);
        previous = entry;
        previousEnd = end;
    }
    return {};
}

std::string checkCentralDirectory(const std::string& archivePath) {
    RandomAccessFile fd;
    if (!fd.open(archivePath))
        return archivePath + ": " + errnoText(errno);
    CentralDirectory directory;
    std::string why;
    if (!readCentralDirectory(fd, directory, why))
        return why;
    return checkCentralDirectory(directory, fd);
}

std::string duplicateEntryText(const std::string& first, const std::string& second) {
    if (first == second)
        return "entry \"" + first + "\" appears twice";
    std::vector<std::string> a, b;
    bool folder = false;
    splitEntryName(first, a, folder);
    splitEntryName(second, b, folder);
    std::string why = a == b ? "their names differ only in separators"
                      : foldCase(first) == foldCase(second)
                          ? "their names differ only in case"
                          : "their names differ only in case and separators";
    return "entries \"" + first + "\" and \"" + second + "\" name the same file: " + why +
           (a == b ? " (\"\\\" for \"/\", \"./\" or \"//\")" : "");
}

} // namespace quendle
