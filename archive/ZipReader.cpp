#include "archive/ZipReader.h"

#include "archive/PercentEncoding.h"
#include "core/SystemError.h"
#include "os/ExtractDestination.h"
#include "util/strings/StringSystem.h"

#include <algorithm>
#include <cerrno>
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

} // namespace

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
    return true;
}

void ZipReader::close() {
    archive_.reset();
    totalUncompressed_ = 0;
    totalCompressed_ = 0;
}

bool ZipReader::readEntries(std::vector<Entry>& entries) {
    zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
    if (count <= 0)
        return fail("the archive has no entries");
    uint64_t uncompressed = 0, compressed = 0;
    // Folded file name -> the name as stored. Two entries for one file (on the case-insensitive
    // file system the format comes from) would leave which bytes count to the order of writing.
    std::unordered_map<std::string, std::string> files;
    for (zip_int64_t i = 0; i < count; ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive_.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            return fail("entry " + std::to_string(i) + " cannot be read: " + zip_strerror(archive_.get()));
        Entry entry{index, percentDecode(st.name), {}, false, (st.valid & ZIP_STAT_SIZE) ? st.size : 0};
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
            auto [first, isNew] = files.emplace(std::move(folded), entry.name);
            if (!isNew)
                return fail(first->second == entry.name
                                ? "entry \"" + entry.name + "\" appears twice"
                                : "entries \"" + first->second + "\" and \"" + entry.name +
                                      "\" name the same file: their names differ only in case");
            // Saturating sums: a hostile directory may declare sizes that overflow.
            uncompressed = uncompressed + entry.size < uncompressed ? UINT64_MAX : uncompressed + entry.size;
            uint64_t c = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
            compressed = compressed + c < compressed ? UINT64_MAX : compressed + c;
        }
        entries.push_back(std::move(entry));
    }
    if (totalUncompressed_ == 0 && totalCompressed_ == 0) {
        totalUncompressed_ = uncompressed;
        totalCompressed_ = compressed;
    }
    return true;
}

bool ZipReader::extractAll(const std::string& destination, std::vector<std::string>& extracted) {
    errorText_.clear();
    auto reportFailure = [&] {
        if (progress_ && !progress_->cancelled())
            progress_->reportError(0, ExtractErrorCode, 0);
        return false;
    };
    std::vector<Entry> entries;
    if (!archive_) {
        fail("the archive is not open");
        return reportFailure();
    }
    if (!readEntries(entries))
        return reportFailure();

    ExtractDestination target;
    if (!target.open(destination)) {
        fail(destination + ": " + errnoText(errno));
        return reportFailure();
    }
    uint64_t limit = extractionLimit_;
    if (limit == 0) {
        uint64_t available = target.availableBytes();
        limit = available - std::min(available / 10, FreeSpaceReserve);
    }
    if (totalUncompressed_ > limit) {
        fail("the archive declares " + std::to_string(totalUncompressed_) +
             " bytes of content, more than the " + std::to_string(limit) +
             " bytes that may be extracted into " + destination);
        return reportFailure();
    }

    if (progress_) {
        progress_->setRange(
            0, static_cast<int64_t>(totalUncompressed_ > INT64_MAX ? INT64_MAX : totalUncompressed_), 0);
        if (progress_->cancelled())
            return false;
    }
    if (buffer_.empty())
        buffer_.resize(BufferSize);

    uint64_t written = 0;
    for (const Entry& entry : entries) {
        if (entry.isFolder) {
            if (!target.createFolders(entry.components)) {
                fail(target.hostPath(entry.components) + ": " + errnoText(errno));
                return reportFailure();
            }
            continue;
        }
        if (!extractFile(target, entry, written, limit))
            return reportFailure();
        extracted.push_back(target.hostPath(entry.components));
        if (progress_ && progress_->cancelled())
            return false;
    }
    if (progress_) {
        progress_->finish(0, 0);
        return !progress_->cancelled();
    }
    return true;
}

bool ZipReader::extractFile(ExtractDestination& destination, const Entry& entry, uint64_t& written,
                            uint64_t limit) {
    std::unique_ptr<zip_file_t, EntryCloser> source(zip_fopen_index(archive_.get(), entry.index, 0));
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
        if (produced > entry.size)
            return abandon("entry \"" + entry.name + "\" holds more data than the " +
                           std::to_string(entry.size) + " bytes it declares");
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
    if (produced != entry.size)
        return abandon("entry \"" + entry.name + "\" is shorter than the " + std::to_string(entry.size) +
                       " bytes it declares");
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
