#include "archive/ZipReader.h"

#include "archive/CentralDirectoryCheck.h"
#include "archive/PercentEncoding.h"
#include "core/SystemError.h"
#include "os/FileSystem.h"
#include "os/ExtractDestination.h"
#include "util/strings/StringSystem.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <unordered_map>
#include <zip.h>

namespace quendle {

namespace {

// The MS-DOS directory attribute, which some tools set on folder entries without a trailing "/".
constexpr uint32_t DosDirectoryAttribute = 16;

// Closes an entry's stream on every path.
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// libzip turns the stored MS-DOS fields into local time; turning them back the same way gives
// the fields as stored.
DosDateTime dosFieldsOf(std::time_t local) {
    std::tm tm{};
    if (!localtime_r(&local, &tm) || tm.tm_year < 80 || tm.tm_year > 207)
        return {};
    return {static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2)),
            static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday)};
}

} // namespace

ZipReader::EntryStream::~EntryStream() {
    zip_fclose(file_);
}

bool ZipReader::EntryStream::readExact(void* buffer, size_t length) {
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
        zip_int64_t n = zip_fread(file_, out, length);
        if (n <= 0)
            return false;
        out += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool ZipReader::EntryStream::atCleanEnd() {
    // One more read reaches the end, where the library compares the checksum.
    char extra;
    return zip_fread(file_, &extra, 1) == 0;
}

std::string ZipReader::EntryStream::errorText() const {
    return zip_file_strerror(file_);
}

void ZipReader::ArchiveCloser::operator()(zip* archive) const {
    zip_discard(archive);
}

ZipReader::ZipReader(ExtractProgress* progress) : progress_(progress) {}

ZipReader::~ZipReader() = default;

bool ZipReader::fail(std::string why) {
    errorText_ = std::move(why);
    return false;
}

bool ZipReader::open(const std::string& archivePath) {
    close();
    errorText_.clear();
    std::string path = percentDecode(archivePath);
    // A name that really contains "%" and two hex digits is that file, not its decoded twin.
    if (path != archivePath && !hostpath::pathExists(path) && hostpath::pathExists(archivePath))
        path = archivePath;
    int error = 0;
    zip* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive) {
        zip_error_t details;
        zip_error_init_with_code(&details, error);
        std::string text = zip_error_strerror(&details);
        zip_error_fini(&details);
        return fail(path + ": " + text);
    }
    archive_.reset(archive);
    // The library lets through names and data ranges that no extraction should see.
    if (std::string why = checkCentralDirectory(path); !why.empty()) {
        archive_.reset();
        return fail(why);
    }
    return true;
}

void ZipReader::close() {
    archive_.reset();
    totalUncompressed_ = 0;
    totalCompressed_ = 0;
}

bool ZipReader::readEntries(const std::function<void(Entry&&)>& onEntry) {
    zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    if (count <= 0)
        return fail("the archive has no entries");
    uint64_t uncompressed = 0, compressed = 0;
    // Folded file name -> the entry's index. Two entries for one file (on the case-insensitive
    // file system the format comes from) would leave which bytes count to the order of writing.
    std::unordered_map<std::string, zip_uint64_t> files;
    for (zip_int64_t i = 0; i < count; ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive_.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            return fail("entry " + std::to_string(i) + " cannot be read: " + zip_strerror(archive_.get()));
        Entry entry;
        entry.archived.index = index;
        entry.archived.size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
        entry.archived.compressedSize = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
        entry.archived.crc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
        entry.archived.method = (st.valid & ZIP_STAT_COMP_METHOD) ? st.comp_method : 0xFFFF;
        if (st.valid & ZIP_STAT_MTIME)
            entry.archived.when = dosFieldsOf(st.mtime);
        entry.name = percentDecode(st.name);
        if (!splitEntryName(entry.name, entry.components, entry.isFolder))
            return fail("entry \"" + entry.name + "\" would be written outside the destination folder");
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(archive_.get(), index, 0, &system, &attributes) == 0 &&
            attributes == DosDirectoryAttribute)
            entry.isFolder = true;
        if (!entry.isFolder && entry.components.empty())
            return fail("entry " + std::to_string(i) + " has no file name");
        if (!entry.isFolder) {
            std::string folded;
            for (const std::string& component : entry.components)
                folded += (folded.empty() ? "" : "/") + foldCase(component);
            auto [first, isNew] = files.emplace(std::move(folded), index);
            if (!isNew) {
                const char* stored = zip_get_name(archive_.get(), first->second, 0);
                return fail(duplicateEntryText(percentDecode(stored ? stored : ""), entry.name));
            }
            // Saturating sums: a hostile directory may declare sizes that overflow.
            uint64_t size = entry.archived.size;
            uncompressed = uncompressed + size < uncompressed ? UINT64_MAX : uncompressed + size;
            uint64_t c = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
            compressed = compressed + c < compressed ? UINT64_MAX : compressed + c;
        }
        onEntry(std::move(entry));
    }
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
    errorText_.clear();
    if (!archive_)
        return fail("the archive is not open");
    return readEntries(onEntry);
}

bool ZipReader::extractAll(const std::string& destination, std::vector<std::string>& extracted,
                           int destinationFd) {
    std::vector<Entry> entries;
    if (!readDirectory(entries)) {
        if (progress_ && !progress_->cancelled())
            progress_->reportError(0, ExtractErrorCode, 0);
        return false;
    }
    std::vector<const Entry*> all;
    for (const Entry& entry : entries)
        all.push_back(&entry);
    return extractEntries(destination, all, extracted, destinationFd);
}

bool ZipReader::extractEntries(const std::string& destination, const std::vector<const Entry*>& selected,
                               std::vector<std::string>& extracted, int destinationFd) {
    errorText_.clear();
    auto reportFailure = [&] {
        if (progress_ && !progress_->cancelled())
            progress_->reportError(0, ExtractErrorCode, 0);
        return false;
    };
    if (!archive_) {
        fail("the archive is not open");
        return reportFailure();
    }
    ExtractDestination target;
    if (!(destinationFd >= 0 ? target.open(destination, destinationFd) : target.open(destination))) {
        fail(destination + ": " + errnoText(errno));
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
        fail("the archive declares " + std::to_string(total) + " bytes of content, more than the " +
             std::to_string(limit) + " bytes that may be extracted into " + destination);
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
                fail(target.hostPath(entry->components) + ": " + errnoText(errno));
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
    zip_file_t* file =
        archive_ ? zip_fopen_index(archive_.get(), entry.index, raw ? ZIP_FL_COMPRESSED : 0) : nullptr;
    if (!file) {
        fail(archive_ ? zip_strerror(archive_.get()) : "the archive is not open");
        return nullptr;
    }
    return std::unique_ptr<EntryStream>(new EntryStream(file, raw ? entry.compressedSize : entry.size));
}

bool ZipReader::extractFile(ExtractDestination& destination, const Entry& entry, uint64_t& written,
                            uint64_t limit) {
    std::unique_ptr<zip_file_t, EntryCloser> source(zip_fopen_index(archive_.get(), entry.archived.index, 0));
    if (!source)
        return fail("entry \"" + entry.name + "\" cannot be opened: " + zip_strerror(archive_.get()));
    UniqueFd out = destination.createFile(entry.components);
    std::string path = destination.hostPath(entry.components);
    if (!out)
        return fail(path + ": " + errnoText(errno));

    auto abandon = [&](std::string why) {
        out.reset();
        destination.removeFile(entry.components);
        return fail(std::move(why));
    };
    uint64_t produced = 0;
    for (;;) {
        zip_int64_t n = zip_fread(source.get(), buffer_.data(), buffer_.size());
        if (n < 0)
            return abandon("entry \"" + entry.name + "\" is damaged: " + zip_file_strerror(source.get()));
        if (n == 0)
            break;
        auto count = static_cast<uint64_t>(n);
        produced += count;
        written += count;
        // A deflate stream can expand far beyond what its entry declared: stop at the declaration.
        if (produced > entry.archived.size)
            return abandon("entry \"" + entry.name + "\" holds more data than the " +
                           std::to_string(entry.archived.size) + " bytes it declares");
        if (written > limit)
            return abandon("extraction stopped at the limit of " + std::to_string(limit) + " bytes");
        if (!out.writeAll(buffer_.data(), static_cast<size_t>(n)))
            return abandon(path + ": " + errnoText(errno));
        if (progress_) {
            progress_->step(n);
            if (progress_->cancelled())
                return abandon("extraction cancelled");
        }
    }
    if (produced != entry.archived.size)
        return abandon("entry \"" + entry.name + "\" is shorter than the " +
                       std::to_string(entry.archived.size) + " bytes it declares");
    if (!out.close()) {
        int err = errno;
        destination.removeFile(entry.components);
        return fail(path + ": " + errnoText(err));
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
