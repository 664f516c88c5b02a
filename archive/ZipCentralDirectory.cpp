#include "archive/ZipCentralDirectory.h"

#include "archive/CentralDirectoryCheck.h"
#include "archive/PercentEncoding.h"
#include "archive/ZipFormat.h"
#include "os/ExtractDestination.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "util/strings/StringTable.h"

#include <algorithm>
#include <map>

namespace quendle {

namespace {

using namespace zipformat;

} // namespace

bool ZipCentralDirectory::readAt(uint64_t offset, void* buffer, size_t length) const {
    return file_.readAt(offset, buffer, length);
}

bool ZipCentralDirectory::read(const std::string& archivePath, const ProblemSink& problem) {
    entries_.clear();
    if (!file_.open(archivePath))
        return false;
    fileSize_ = file_.size();
    if (!readEndRecords(problem) || !readDirectory(problem))
        return false;
    readLocalHeaders(problem);
    checkLayout(problem);
    return true;
}

bool ZipCentralDirectory::readEndRecords(const ProblemSink& problem) {
    DirectoryLocation location;
    switch (findCentralDirectory(file_, location)) {
    case EndProblem::None:
        break;
    case EndProblem::NoEndRecord:
    case EndProblem::Unreadable:
        problem({Msg::ArchiveNoEndRecord});
        return false;
    case EndProblem::Zip64EndMissing:
        problem({Msg::ArchiveZip64EndDamaged});
        return false;
    case EndProblem::Outside:
        problem({Msg::ArchiveDirectoryOutside});
        return false;
    }
    if (!location.zip64 && location.saturated()) {
        problem({Msg::ArchiveZip64LocatorDamaged});
        return false;
    }
    // A field that is not saturated in the classic record must agree with the ZIP64 one.
    if (location.zip64 &&
        ((location.classicCount != 0xFFFF && location.classicCount != location.count) ||
         (location.classicSize != 0xFFFFFFFF && location.classicSize != location.size) ||
         (location.classicOffset != 0xFFFFFFFF && location.classicOffset != location.offset)))
        problem({Msg::ArchiveZip64FieldMissing, {loadString(Msg::ZipEndRecordName)}});
    zip64_ = location.zip64;
    location_ = location;
    return true;
}

bool ZipCentralDirectory::readDirectory(const ProblemSink& problem) {
    if (location_.offset + location_.size != location_.end)
        problem({Msg::ArchiveDirectoryDamaged, {loadString(Msg::ZipDirectoryEndsElsewhere)}});
    DirectoryRecordReader reader(file_, location_);
    DirectoryRecord record;
    Failure why;
    bool damaged = false;
    while (!reader.atEnd()) {
        if (!reader.next(record, why)) {
            damaged = true;
            break;
        }
        ZipDirectoryEntry e;
        e.stored = std::move(record);
        // The name every other command reads: the Unicode path field's where it vouches for the
        // stored name.
        e.name = percentDecode(e.stored.unicodeNameCurrent ? e.stored.unicodeName : e.stored.name);
        std::replace(e.name.begin(), e.name.end(), '/', '\\');
        if (e.stored.zip64Missing)
            problem({Msg::ArchiveZip64FieldMissing, {e.name}});
        entries_.push_back(std::move(e));
    }
    if (damaged)
        problem({Msg::ArchiveDirectoryDamaged,
                 {formatStringId(Msg::ZipRecordDamaged, {std::to_string(entries_.size() + 1)})}});
    if (entries_.size() != location_.count)
        problem({Msg::ArchiveEntryCountWrong,
                 {std::to_string(location_.count), std::to_string(entries_.size())}});

    std::map<std::string, std::string> seen; // folded name -> the name as stored
    for (const ZipDirectoryEntry& e : entries_) {
        std::vector<std::string> components;
        bool folder = false;
        if (!splitEntryName(e.name, components, folder))
            problem({Msg::ArchiveHostileName, {e.name}});
        std::string folded = foldCase(e.name);
        auto [first, isNew] = seen.emplace(folded, e.name);
        if (!isNew)
            problem({Msg::ArchiveDuplicateName, {first->second, e.name}});
    }
    return true;
}

void ZipCentralDirectory::readLocalHeaders(const ProblemSink& problem) {
    std::vector<uint8_t> name;
    for (ZipDirectoryEntry& e : entries_) {
        uint8_t h[30];
        if (!readAt(e.stored.localHeaderOffset, h, sizeof h) || get32(h) != LocalSignature) {
            problem({Msg::ArchiveLocalHeaderDamaged, {e.name}});
            continue;
        }
        size_t nameLength = get16(h + 26), extraLength = get16(h + 28);
        name.resize(nameLength);
        if (!readAt(e.stored.localHeaderOffset + 30, name.data(), nameLength)) {
            problem({Msg::ArchiveLocalHeaderDamaged, {e.name}});
            continue;
        }
        e.localHeaderSize = static_cast<uint32_t>(30 + nameLength + extraLength);
        e.dataOffset = e.stored.localHeaderOffset + e.localHeaderSize;
        if (std::string(name.begin(), name.end()) != e.stored.name)
            problem({Msg::ArchiveLocalHeaderDiffers, {e.name, loadString(Msg::ZipFieldName)}});
        if (get16(h + 8) != e.stored.method)
            problem({Msg::ArchiveLocalHeaderDiffers, {e.name, loadString(Msg::ZipFieldMethod)}});
        if (get16(h + 6) != e.stored.flags)
            problem({Msg::ArchiveLocalHeaderDiffers, {e.name, loadString(Msg::ZipFieldFlags)}});
        // Without a data descriptor the local header carries the CRC and sizes itself.
        if (!(e.stored.flags & 0x0008)) {
            uint32_t size = get32(h + 22), compressed = get32(h + 18);
            if (get32(h + 14) != e.stored.crc || (size != 0xFFFFFFFF && size != e.stored.size) ||
                (compressed != 0xFFFFFFFF && compressed != e.stored.compressedSize))
                problem({Msg::ArchiveLocalHeaderDiffers, {e.name, loadString(Msg::ZipFieldCrcOrSizes)}});
        }
        if (e.dataOffset > location_.offset || e.stored.compressedSize > location_.offset - e.dataOffset) {
            problem({Msg::ArchiveDirectoryOutside});
            e.localHeaderSize = 0;
        }
    }
}

// Which of the four descriptor forms (with or without signature, 32- or 64-bit sizes) follows
// the data, told by the one whose CRC and sizes are the entry's; 0 when none is.
uint64_t ZipCentralDirectory::descriptorLength(const ZipDirectoryEntry& entry, uint64_t at) const {
    uint8_t d[24] = {};
    size_t available =
        static_cast<size_t>(std::min<uint64_t>(sizeof d, at <= fileSize_ ? fileSize_ - at : 0));
    if (!readAt(at, d, available))
        return 0;
    bool signature = available >= 4 && get32(d) == DescriptorSignature;
    const uint8_t* p = signature ? d + 4 : d;
    size_t left = available - (signature ? 4 : 0);
    if (left < 12 || get32(p) != entry.stored.crc)
        return 0;
    if (left >= 20 && get64(p + 4) == entry.stored.compressedSize && get64(p + 12) == entry.stored.size)
        return (signature ? 4 : 0) + 20;
    if (get32(p + 4) == static_cast<uint32_t>(entry.stored.compressedSize) &&
        get32(p + 8) == static_cast<uint32_t>(entry.stored.size))
        return (signature ? 4 : 0) + 12;
    return 0;
}

void ZipCentralDirectory::checkLayout(const ProblemSink& problem) {
    uint64_t expected = 0;
    const ZipDirectoryEntry* previous = nullptr;
    for (const ZipDirectoryEntry& e : entries_) {
        if (previous && previous->localHeaderSize) {
            uint64_t end = previous->dataOffset + previous->stored.compressedSize;
            expected = end;
            if (previous->stored.flags & 0x0008) {
                uint64_t length = descriptorLength(*previous, end);
                if (length == 0) {
                    problem({Msg::ArchiveDescriptorDiffers, {previous->name}});
                    length = 16;
                }
                expected = end + length;
            }
        }
        // After an unreadable local header nothing says where the next entry should begin.
        if (previous && !previous->localHeaderSize)
            expected = e.stored.localHeaderOffset;
        if (e.stored.localHeaderOffset < expected)
            problem({Msg::ArchiveEntryOverlap, {e.name}});
        else if (e.stored.localHeaderOffset > expected)
            problem({Msg::ArchiveEntryGap, {e.name, std::to_string(e.stored.localHeaderOffset - expected)}});
        expected = e.stored.localHeaderOffset;
        previous = &e;
    }
    if (previous && previous->localHeaderSize) {
        uint64_t end = previous->dataOffset + previous->stored.compressedSize;
        uint64_t descriptor = (previous->stored.flags & 0x0008) ? descriptorLength(*previous, end) : 0;
        if (location_.offset != end + descriptor)
            problem({Msg::ArchiveLastEntryGap});
    }
}

} // namespace quendle
