#include "archive/ZipReader.h"

#include "archive/Crc32.h"
#include "archive/DeflateBlockInflater.h"
#include "archive/PercentEncoding.h"
#include "archive/ZipFormat.h"
#include "os/ExtractDestination.h"
#include "os/FileSystem.h"
#include "os/SystemError.h"
#include "util/strings/StringSystem.h"

#include <algorithm>
#include <functional>
#include <zlib.h>

namespace quendle {

namespace {

// The MS-DOS directory attribute, which some tools set on folder entries without a trailing "/".
constexpr uint32_t DosDirectoryAttribute = 16;
constexpr size_t InputPieceSize = 65536;

using namespace zipformat;

// Two names that differ only in case name the same file on Windows.
std::string foldedPath(const std::vector<std::string>& components) {
    std::string folded;
    for (const std::string& component : components) {
        if (!folded.empty())
            folded += '/';
        folded += foldCase(component);
    }
    return folded;
}

} // namespace

struct ZipReader::EntryStream::Inflater {
    z_stream z{};
    std::vector<uint8_t> input = std::vector<uint8_t>(InputPieceSize);
    bool ready = false;
    bool ended = false;
    ~Inflater() {
        if (ready)
            inflateEnd(&z);
    }
};

ZipReader::EntryStream::EntryStream(const RandomAccessFile& file, uint64_t dataOffset,
                                    const ArchivedEntry& entry, bool raw)
    : file_(file), next_(dataOffset), left_(entry.compressedSize),
      size_(raw ? entry.compressedSize : entry.size), expectedCrc_(entry.crc), raw_(raw) {
    if (!raw && entry.method == MethodDeflated) {
        inflater_ = std::make_unique<Inflater>();
        inflater_->ready = inflateInit2(&inflater_->z, -MAX_WBITS) == Z_OK;
        inflater_->ended = deflatedPayloadIsEmpty(entry.compressedSize);
    }
}

ZipReader::EntryStream::~EntryStream() = default;

bool ZipReader::EntryStream::fill() {
    Inflater& in = *inflater_;
    if (left_ == 0) {
        failure_ = Failure(Msg::ZipDeflateCutShort);
        return false;
    }
    size_t n = static_cast<size_t>(std::min<uint64_t>(left_, in.input.size()));
    if (!file_.readAt(next_, in.input.data(), n)) {
        failure_ = SystemError::last().failure(Msg::ZipDataUnreadableBecause);
        return false;
    }
    next_ += n;
    left_ -= n;
    in.z.next_in = in.input.data();
    in.z.avail_in = static_cast<uInt>(n);
    return true;
}

// Inflates up to `length` bytes; stops early only where the stream ends.
bool ZipReader::EntryStream::inflateInto(uint8_t* out, size_t length, size_t& produced) {
    Inflater& in = *inflater_;
    produced = 0;
    if (!in.ready) {
        failure_ = Failure(Msg::ZipInflateCannotStart);
        return false;
    }
    while (produced < length && !in.ended) {
        if (in.z.avail_in == 0 && !fill())
            return false;
        in.z.next_out = out + produced;
        in.z.avail_out = static_cast<uInt>(std::min<size_t>(length - produced, 1u << 30));
        uInt before = in.z.avail_out;
        int rc = ::inflate(&in.z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && in.z.avail_in == 0)) {
            failure_ = Failure(Msg::ZipDeflateDamaged, {in.z.msg ? in.z.msg : "error"});
            return false;
        }
        produced += before - in.z.avail_out;
        in.ended = rc == Z_STREAM_END;
    }
    return true;
}

bool ZipReader::EntryStream::readExact(void* buffer, size_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    if (length > size_ - given_)
        return false;
    if (!inflater_) {
        if (!file_.readAt(next_, out, length)) {
            failure_ = SystemError::last().failure(Msg::ZipDataUnreadableBecause);
            return false;
        }
        next_ += length;
        left_ -= length;
        if (forgetBehind_)
            file_.forgetBefore(next_);
    } else {
        size_t produced = 0;
        if (!inflateInto(out, length, produced) || produced < length)
            return false;
    }
    given_ += length;
    if (!raw_)
        crc_ = crc32Update(crc_, out, length);
    return true;
}

bool ZipReader::EntryStream::atCleanEnd() {
    if (given_ != size_)
        return false;
    if (inflater_) {
        // One more byte may come out: then the entry holds more than it declares.
        uint8_t extra;
        size_t produced = 0;
        if (!inflateInto(&extra, 1, produced) || produced > 0)
            return false;
    }
    if (!raw_ && crc_ != expectedCrc_) {
        failure_ = Failure(Msg::ZipCrcError);
        return false;
    }
    return true;
}

ZipReader::ZipReader(ExtractProgress* progress) : progress_(progress) {}

ZipReader::~ZipReader() = default;

bool ZipReader::fail(Failure why) {
    failure_ = std::move(why);
    return false;
}

bool ZipReader::open(const std::string& archivePath) {
    close();
    failure_ = Failure();
    std::string path = percentDecode(archivePath);
    // A name that really contains "%" and two hex digits is that file, not its decoded twin.
    if (path != archivePath && !hostpath::pathExists(path) && hostpath::pathExists(archivePath))
        path = archivePath;
    if (!file_.open(path))
        return fail(SystemError::last().failure(Msg::PathSystemError, {path}));
    if (EndProblem problem = findCentralDirectory(file_, location_); problem != EndProblem::None)
        return fail(endProblemFailure(problem));
    if (Failure why = checkCentralDirectory(file_, location_); why.failed())
        return fail(std::move(why));
    open_ = true;
    return true;
}

void ZipReader::close() {
    open_ = false;
    file_ = RandomAccessFile();
    location_ = {};
    totalUncompressed_ = 0;
    totalCompressed_ = 0;
}

// `keys` holds a hash of each file's folded name and its record's offset. Equal hashes are rare,
// and only their names are read again: no second copy of every name is held to find twins.
bool ZipReader::findDuplicates(DirectoryRecordReader& reader,
                               std::vector<std::pair<uint64_t, uint64_t>>& keys) {
    std::sort(keys.begin(), keys.end());
    // The twin that comes first in the directory is reported, with the first of its names.
    uint64_t bestSecond = UINT64_MAX;
    std::string firstName, secondName;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i + 1;
        while (j < keys.size() && keys[j].first == keys[i].first)
            ++j;
        std::vector<std::pair<std::string, std::string>> named; // folded, decoded
        for (size_t k = i; j - i > 1 && k < j; ++k) {
            DirectoryRecord record;
            if (!reader.recordAt(keys[k].second, record))
                return fail(Failure(Msg::ZipDirectoryUnreadableAgain));
            std::string name = percentDecode(record.unicodeNameCurrent ? record.unicodeName : record.name);
            std::vector<std::string> components;
            bool folder = false;
            splitEntryName(name, components, folder);
            std::string folded = foldedPath(components);
            for (size_t m = 0; m < named.size(); ++m) {
                if (named[m].first == folded && keys[k].second < bestSecond) {
                    bestSecond = keys[k].second;
                    firstName = named[m].second;
                    secondName = name;
                    break;
                }
            }
            named.emplace_back(std::move(folded), std::move(name));
        }
        i = j;
    }
    return bestSecond == UINT64_MAX || fail(duplicateEntryFailure(firstName, secondName));
}

bool ZipReader::readEntries(const std::function<void(Entry&&)>& onEntry) {
    if (location_.count == 0)
        return fail(Failure(Msg::ZipNoEntries));
    uint64_t uncompressed = 0, compressed = 0;
    // Two entries for one file (on the case-insensitive file system the format comes from)
    // would leave which bytes count to the order of writing.
    std::vector<std::pair<uint64_t, uint64_t>> files;
    DirectoryRecordReader reader(file_, location_);
    DirectoryRecord record;
    Failure why;
    for (uint64_t i = 0; i < location_.count; ++i) {
        if (!reader.next(record, why))
            return fail(std::move(why));
        Entry entry;
        entry.archived.localHeaderOffset = record.localHeaderOffset;
        entry.archived.size = record.size;
        entry.archived.compressedSize = record.compressedSize;
        entry.archived.crc = record.crc;
        entry.archived.method = record.method;
        entry.archived.when = {record.time, record.date};
        entry.name = percentDecode(record.unicodeNameCurrent ? record.unicodeName : record.name);
        if (!splitEntryName(entry.name, entry.components, entry.isFolder))
            return fail(Failure(Msg::ZipEntryOutsideDestination, {entry.name}));
        if (record.externalAttributes == DosDirectoryAttribute)
            entry.isFolder = true;
        if (!entry.isFolder && entry.components.empty())
            return fail(Failure(Msg::ZipEntryNameless, {std::to_string(i)}));
        if (!entry.isFolder) {
            files.emplace_back(std::hash<std::string>{}(foldedPath(entry.components)), record.recordOffset);
            // Saturating sums: a hostile directory may declare sizes that overflow.
            uint64_t size = entry.archived.size;
            uncompressed = uncompressed + size < uncompressed ? UINT64_MAX : uncompressed + size;
            uint64_t c = entry.archived.compressedSize;
            compressed = compressed + c < compressed ? UINT64_MAX : compressed + c;
        }
        onEntry(std::move(entry));
    }
    if (!findDuplicates(reader, files))
        return false;
    if (totalUncompressed_ == 0 && totalCompressed_ == 0) {
        totalUncompressed_ = uncompressed;
        totalCompressed_ = compressed;
    }
    return true;
}

bool ZipReader::readDirectory(std::vector<Entry>& entries) {
    entries.clear();
    return readDirectory([&entries](Entry&& entry) { entries.push_back(std::move(entry)); });
}

bool ZipReader::readDirectory(const std::function<void(Entry&&)>& onEntry) {
    failure_ = Failure();
    if (!open_)
        return fail(Failure(Msg::ZipNotOpen));
    return readEntries(onEntry);
}

bool ZipReader::extractAll(const std::string& destination, std::vector<std::string>& extracted,
                           const FileHandle* destinationFolder) {
    std::vector<Entry> entries;
    if (!readDirectory(entries)) {
        if (progress_ && !progress_->cancelled())
            progress_->reportError(0, ExtractErrorCode, 0);
        return false;
    }
    std::vector<const Entry*> all;
    for (const Entry& entry : entries)
        all.push_back(&entry);
    return extractEntries(destination, all, extracted, destinationFolder);
}

bool ZipReader::extractEntries(const std::string& destination, const std::vector<const Entry*>& selected,
                               std::vector<std::string>& extracted, const FileHandle* destinationFolder) {
    failure_ = Failure();
    auto reportFailure = [&] {
        if (progress_ && !progress_->cancelled())
            progress_->reportError(0, ExtractErrorCode, 0);
        return false;
    };
    if (!open_) {
        fail(Failure(Msg::ZipNotOpen));
        return reportFailure();
    }
    ExtractDestination target;
    if (!(destinationFolder ? target.open(destination, *destinationFolder) : target.open(destination))) {
        fail(SystemError::last().failure(Msg::PathSystemError, {destination}));
        return reportFailure();
    }
    uint64_t total = 0;
    for (const Entry* entry : selected)
        if (!entry->isFolder)
            total = total + entry->archived.size < total ? UINT64_MAX : total + entry->archived.size;
    uint64_t limit = extractionLimit_;
    if (limit == 0) {
        uint64_t available = target.availableBytes();
        limit = available - std::min(available / 10, FreeSpaceReserve);
    }
    // Every file the archive declares counts, extracted now or not: a package that cannot be
    // unpacked where it is edited is refused before anything is written, as it always was.
    total = std::max(total, totalUncompressed_);
    if (total > limit) {
        fail(
            Failure(Msg::ZipContentBeyondLimit, {std::to_string(total), std::to_string(limit), destination}));
        return reportFailure();
    }

    if (progress_) {
        uint64_t selectedTotal = 0;
        for (const Entry* entry : selected)
            if (!entry->isFolder)
                selectedTotal += entry->archived.size;
        progress_->setRange(0, static_cast<int64_t>(selectedTotal > INT64_MAX ? INT64_MAX : selectedTotal),
                            0);
        if (progress_->cancelled())
            return false;
    }
    if (buffer_.empty())
        buffer_.resize(BufferSize);

    uint64_t written = 0;
    for (const Entry* entry : selected) {
        if (entry->isFolder) {
            if (!target.createFolders(entry->components)) {
                fail(SystemError::last().failure(Msg::PathSystemError, {target.hostPath(entry->components)}));
                return reportFailure();
            }
            continue;
        }
        if (!extractFile(target, *entry, written, limit))
            return reportFailure();
        extracted.push_back(target.hostPath(entry->components));
        if (progress_ && progress_->cancelled())
            return false;
    }
    if (progress_) {
        progress_->finish(0, 0);
        return !progress_->cancelled();
    }
    return true;
}

std::unique_ptr<ZipReader::EntryStream> ZipReader::openEntry(const ArchivedEntry& entry, bool raw) {
    if (!open_) {
        fail(Failure(Msg::ZipNotOpen));
        return nullptr;
    }
    // Open made sure that the local header is there and that the data end before the directory.
    uint8_t local[30];
    if (!file_.readAt(entry.localHeaderOffset, local, sizeof local) || get32(local) != LocalSignature) {
        fail(Failure(Msg::ZipLocalHeaderUnreadable));
        return nullptr;
    }
    uint64_t dataOffset = entry.localHeaderOffset + sizeof local + get16(local + 26) + get16(local + 28);
    if (dataOffset > location_.offset || entry.compressedSize > location_.offset - dataOffset) {
        fail(Failure(Msg::ZipDataIntoDirectory));
        return nullptr;
    }
    if (!raw) {
        if (get16(local + 6) & 1) {
            fail(Failure(Msg::ZipEncrypted));
            return nullptr;
        }
        if (entry.method != MethodStored && entry.method != MethodDeflated) {
            fail(Failure(Msg::ZipMethodUnsupported, {std::to_string(entry.method)}));
            return nullptr;
        }
        // A stored entry is its payload: no more may come out than the entry declares.
        if (entry.method == MethodStored && entry.compressedSize != entry.size) {
            fail(Failure(Msg::ZipStoredSizeDiffers,
                         {std::to_string(entry.compressedSize), std::to_string(entry.size)}));
            return nullptr;
        }
    }
    return std::unique_ptr<EntryStream>(new EntryStream(file_, dataOffset, entry, raw));
}

bool ZipReader::extractFile(ExtractDestination& destination, const Entry& entry, uint64_t& written,
                            uint64_t limit) {
    std::unique_ptr<EntryStream> source = openEntry(entry.archived, false);
    if (!source)
        return fail(Failure(Msg::ZipEntryCannotOpen, {entry.name}, failure_));
    FileHandle out = destination.createFile(entry.components);
    std::string path = destination.hostPath(entry.components);
    if (!out)
        return fail(SystemError::last().failure(Msg::PathSystemError, {path}));

    auto abandon = [&](Failure why) {
        out.reset();
        destination.removeFile(entry.components);
        return fail(std::move(why));
    };
    // The stream gives no reason where the data simply stopped short or ran on.
    auto damaged = [&](uint32_t otherwise) {
        return source->failure().failed()
                   ? Failure(Msg::ZipEntryDamaged, {entry.name}, source->failure())
                   : Failure(otherwise, {entry.name, std::to_string(entry.archived.size)});
    };
    for (uint64_t left = entry.archived.size; left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()));
        if (!source->readExact(buffer_.data(), n))
            return abandon(damaged(Msg::ZipEntryShorter));
        left -= n;
        written += n;
        if (written > limit)
            return abandon(Failure(Msg::ZipExtractionLimit, {std::to_string(limit)}));
        if (!out.writeAll(buffer_.data(), n))
            return abandon(SystemError::last().failure(Msg::PathSystemError, {path}));
        if (progress_) {
            progress_->step(static_cast<int64_t>(n));
            if (progress_->cancelled())
                return abandon(Failure(Msg::ZipExtractionCancelled));
        }
    }
    // A deflate stream can expand far beyond what its entry declared: nothing past the declaration
    // is ever written.
    if (!source->atCleanEnd())
        return abandon(damaged(Msg::ZipEntryHoldsMore));
    if (!out.close()) {
        SystemError why = SystemError::last();
        destination.removeFile(entry.components);
        return fail(why.failure(Msg::PathSystemError, {path}));
    }
    return true;
}

bool ZipReader::extract(const std::string& archivePath, const std::string& destination,
                        ExtractProgress* progress, std::vector<std::string>& extracted,
                        uint64_t extractionLimit) {
    ZipReader reader(progress);
    reader.setExtractionLimit(extractionLimit);
    if (!reader.open(archivePath))
        return false;
    bool ok = reader.extractAll(destination, extracted);
    reader.close();
    return ok;
}

} // namespace quendle
