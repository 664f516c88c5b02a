#include "hive/RegfReader.h"

#include "core/SystemError.h"
#include "hive/HiveName.h"
#include "hive/RegfFormat.h"
#include "os/MappedFile.h"
#include "os/SystemError.h"
#include "util/strings/StringTable.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace quendle {
namespace {

using namespace regf;

[[noreturn]] void corrupt(uint32_t offset, uint32_t what) {
    char where[16];
    std::snprintf(where, sizeof where, "%x", offset);
    throw RegfError(win32::RegistryCorrupt, Msg::RegfCellProblem, {where, loadString(what)});
}

[[noreturn]] void badBaseBlock(uint32_t what) {
    throw RegfError(win32::BadDbDatabase, what);
}

// A bin may hold one large cell, never more than this: real hives keep bins at a few pages, and
// the format itself stops at 4 GiB, which no one should have to hold in memory.
constexpr uint32_t MaxBinSize = 16u << 20;
// The scan of a mapped hive gives back the pages it has passed every so many bytes, so that a
// hive of free space costs no memory however large it declares itself.
constexpr uint32_t ScanWindow = 32u << 20;

// A cell's payload (after its size field) with bounds-checked reads.
class Cell {
  public:
    Cell(uint32_t offset, const uint8_t* data, uint32_t size) : offset_(offset), data_(data), size_(size) {}
    uint32_t offset() const { return offset_; }
    uint32_t size() const { return size_; }
    const uint8_t* bytes(uint32_t at, uint64_t length) const {
        if (at > size_ || length > size_ - at)
            corrupt(offset_, Msg::RegfFieldBeyondCell);
        return data_ + at;
    }
    uint16_t u16(uint32_t at) const { return get16(bytes(at, 2)); }
    uint32_t u32(uint32_t at) const { return get32(bytes(at, 4)); }
    uint64_t u64(uint32_t at) const { return get64(bytes(at, 8)); }
    bool hasSignature(const char* sig) const {
        return size_ >= 2 && data_[0] == sig[0] && data_[1] == sig[1];
    }

  private:
    uint32_t offset_;
    const uint8_t* data_;
    uint32_t size_;
};

class Parser {
  public:
    using Release = std::function<void(const uint8_t*, size_t)>;
    Parser(std::span<const uint8_t> file, Release release) : file_(file), release_(std::move(release)) {}

    std::shared_ptr<HiveTree> run() {
        auto tree = std::make_shared<HiveTree>();
        tree_ = tree.get();
        uint32_t rootOffset = checkBaseBlock();
        scanBins();
        tree->setRoot(readKey(rootOffset, nullptr, 0));
        return tree;
    }

  private:
    uint32_t checkBaseBlock() {
        if (file_.size() < BaseBlockSize)
            badBaseBlock(Msg::RegfFileTooShort);
        const uint8_t* b = file_.data();
        if (std::memcmp(b, "regf", 4) != 0)
            badBaseBlock(Msg::RegfNoSignature);
        if (get32(b + OffChecksum) != baseBlockChecksum(b))
            badBaseBlock(Msg::RegfChecksumWrong);
        uint32_t major = get32(b + OffMajor);
        uint32_t minor = get32(b + OffMinor);
        if (major != 1 || minor < 2 || minor > 6)
            badBaseBlock(Msg::RegfVersionUnsupported);
        if (get32(b + OffFileType) != 0 || get32(b + OffFileFormat) != 1)
            badBaseBlock(Msg::RegfNotPrimary);
        binsSize_ = get32(b + OffBinsSize);
        if (binsSize_ == 0 || binsSize_ % BinAlignment != 0)
            badBaseBlock(Msg::RegfBinsSizeWrong);
        if (binsSize_ > file_.size() - BaseBlockSize)
            throw RegfError(win32::RegistryCorrupt, Msg::RegfBinsTruncated);
        uint32_t root = get32(b + OffRootCell);
        if (root >= binsSize_)
            badBaseBlock(Msg::RegfRootOutside);
        tree_->setMinorVersion(minor);
        std::copy(b, b + BaseBlockSize, tree_->baseBlock().begin());
        bins_ = file_.data() + BaseBlockSize;
        return root;
    }

    // Walks every bin and cell once, remembering where allocated cells begin (in increasing
    // order), so that every later offset can be checked against a real cell start. Free space
    // costs nothing here: only allocated cells are remembered.
    void scanBins() {
        uint32_t binStart = 0;
        uint32_t released = 0;
        while (binStart < binsSize_) {
            const uint8_t* h = bins_ + binStart;
            if (std::memcmp(h, "hbin", 4) != 0)
                throw RegfError(win32::RegistryCorrupt, Msg::RegfBinNoSignature, {binStart});
            uint32_t size = get32(h + 8);
            if (get32(h + 4) != binStart || size < BinAlignment || size % BinAlignment != 0 ||
                size > binsSize_ - binStart)
                throw RegfError(win32::RegistryCorrupt, Msg::RegfBinHeaderWrong, {binStart});
            if (size > MaxBinSize)
                throw RegfError(win32::RegistryCorrupt, Msg::RegfBinTooLarge, {size, binStart, MaxBinSize});
            uint32_t end = binStart + size;
            uint32_t pos = binStart + BinHeaderSize;
            while (pos < end) {
                int32_t raw = static_cast<int32_t>(get32(bins_ + pos));
                if (raw == INT32_MIN)
                    corrupt(pos, Msg::RegfCellSizeWrong);
                uint32_t length = static_cast<uint32_t>(raw < 0 ? -raw : raw);
                if (length < CellAlignment || length % CellAlignment != 0 || length > end - pos)
                    corrupt(pos, Msg::RegfCellSizeOutsideBin);
                if (raw < 0)
                    allocated_.push_back(pos);
                pos += length;
            }
            binStart = end;
            if (release_ && binStart - released >= ScanWindow) {
                release_(bins_ + released, binStart - released);
                released = binStart;
            }
        }
        claimed_.assign(allocated_.size(), false);
    }

    // The index of the allocated cell that starts at `offset`.
    size_t cellIndex(uint32_t offset) const {
        auto it = std::lower_bound(allocated_.begin(), allocated_.end(), offset);
        if (offset >= binsSize_ || it == allocated_.end() || *it != offset)
            corrupt(offset, Msg::RegfNotAllocatedCell);
        return static_cast<size_t>(it - allocated_.begin());
    }

    Cell cell(uint32_t offset) const {
        cellIndex(offset);
        uint32_t length = static_cast<uint32_t>(-static_cast<int32_t>(get32(bins_ + offset)));
        return Cell(offset, bins_ + offset + 4, length - 4);
    }

    // Every cell but a security cell belongs to exactly one owner. Taking each at most once keeps
    // loops and shared lists from multiplying the work beyond the size of the file.
    Cell claim(uint32_t offset) {
        size_t index = cellIndex(offset);
        if (claimed_[index])
            corrupt(offset, Msg::RegfCellReferencedTwice);
        claimed_[index] = true;
        return cell(offset);
    }

    static std::u16string name(const Cell& c, uint32_t at, uint32_t length, bool compressed) {
        const uint8_t* p = c.bytes(at, length);
        std::u16string out;
        if (compressed) {
            out.assign(p, p + length);
        } else {
            out.resize(length / 2);
            for (size_t i = 0; i < out.size(); ++i)
                out[i] = static_cast<char16_t>(get16(p + 2 * i));
        }
        return out;
    }

    std::shared_ptr<HiveKey> readKey(uint32_t offset, HiveKey* parent, uint32_t depth) {
        if (depth > MaxTreeDepth)
            corrupt(offset, Msg::RegfKeyTreeTooDeep);
        Cell nk = claim(offset);
        if (!nk.hasSignature("nk"))
            corrupt(offset, Msg::RegfNoNkSignature);

        auto key = std::make_shared<HiveKey>();
        key->parent = parent;
        uint16_t flags = nk.u16(NkFlags);
        key->flags = flags & ~KeyCompressedName;
        key->lastWrite = nk.u64(NkLastWrite);
        key->accessBits = nk.u32(NkAccessBits);
        if (tree_->minorVersion() >= 5)
            key->layeredFlags = nk.u32(NkMaxSubkeyName) & 0xFFFF0000;
        key->name = name(nk, NkName, nk.u16(NkNameLength), flags & KeyCompressedName);
        if (key->name.empty() && parent)
            corrupt(offset, Msg::RegfSubkeyNameless);

        uint32_t classLength = nk.u16(NkClassLength);
        uint32_t classOffset = nk.u32(NkClass);
        if (classLength > 0 && classOffset != NoCell) {
            Cell c = claim(classOffset);
            const uint8_t* p = c.bytes(0, classLength);
            key->className.assign(p, p + classLength);
        }
        uint32_t security = nk.u32(NkSecurity);
        if (security != NoCell)
            key->security = securityIndex(security);

        readValues(*key, nk);

        uint32_t subkeyCount = nk.u32(NkSubkeyCount);
        if (subkeyCount > 0) {
            std::vector<uint32_t> children;
            collectSubkeys(nk.u32(NkSubkeyList), children, 0);
            if (children.size() != subkeyCount)
                corrupt(offset, Msg::RegfSubkeyCountWrong);
            key->subkeys.reserve(children.size());
            for (uint32_t child : children)
                key->subkeys.push_back(readKey(child, key.get(), depth + 1));
            std::stable_sort(key->subkeys.begin(), key->subkeys.end(),
                             [](const std::shared_ptr<HiveKey>& a, const std::shared_ptr<HiveKey>& b) {
                                 return hivename::compare(a->name, b->name) < 0;
                             });
            for (size_t i = 1; i < key->subkeys.size(); ++i) {
                if (hivename::compare(key->subkeys[i - 1]->name, key->subkeys[i]->name) == 0)
                    corrupt(offset, Msg::RegfSubkeyTwice);
            }
        }
        return key;
    }

    void collectSubkeys(uint32_t listOffset, std::vector<uint32_t>& out, int level) {
        Cell list = claim(listOffset);
        uint32_t count = list.u16(2);
        if (list.hasSignature("lf") || list.hasSignature("lh")) {
            list.bytes(4, uint64_t{count} * 8);
            for (uint32_t i = 0; i < count; ++i)
                out.push_back(list.u32(4 + 8 * i));
        } else if (list.hasSignature("li")) {
            list.bytes(4, uint64_t{count} * 4);
            for (uint32_t i = 0; i < count; ++i)
                out.push_back(list.u32(4 + 4 * i));
        } else if (list.hasSignature("ri") && level == 0) {
            list.bytes(4, uint64_t{count} * 4);
            for (uint32_t i = 0; i < count; ++i)
                collectSubkeys(list.u32(4 + 4 * i), out, 1);
        } else {
            corrupt(listOffset, Msg::RegfNotSubkeyList);
        }
    }

    void readValues(HiveKey& key, const Cell& nk) {
        uint32_t count = nk.u32(NkValueCount);
        if (count == 0)
            return;
        Cell list = claim(nk.u32(NkValueList));
        list.bytes(0, uint64_t{count} * 4);
        key.values.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            Cell vk = claim(list.u32(4 * i));
            if (!vk.hasSignature("vk"))
                corrupt(vk.offset(), Msg::RegfNoVkSignature);
            HiveValue v;
            v.name = name(vk, VkName, vk.u16(VkNameLength), vk.u16(VkFlags) & ValueCompressedName);
            v.type = vk.u32(VkType);
            readData(vk, v.data);
            key.values.push_back(std::move(v));
        }
    }

    void readData(const Cell& vk, std::vector<uint8_t>& data) {
        uint32_t rawLength = vk.u32(VkDataLength);
        uint32_t length = rawLength & ~DataInline;
        if (rawLength & DataInline) {
            if (length > 4)
                corrupt(vk.offset(), Msg::RegfInlineDataTooLong);
            const uint8_t* p = vk.bytes(VkData, 4);
            data.assign(p, p + length);
            return;
        }
        if (length == 0)
            return;
        Cell c = claim(vk.u32(VkData));
        if (tree_->minorVersion() >= 4 && length > BigDataSegmentSize && c.hasSignature("db")) {
            readBigData(c, length, data);
            return;
        }
        const uint8_t* p = c.bytes(0, length);
        data.assign(p, p + length);
    }

    void readBigData(const Cell& db, uint32_t length, std::vector<uint8_t>& data) {
        uint32_t segments = db.u16(2);
        if (static_cast<uint64_t>(segments) * BigDataSegmentSize < length)
            corrupt(db.offset(), Msg::RegfBigDataTooShort);
        Cell list = claim(db.u32(4));
        list.bytes(0, uint64_t{segments} * 4);
        // The segments are found (and checked) before any memory is taken for the value: the
        // declared length alone never decides an allocation.
        std::vector<Cell> pieces;
        uint64_t found = 0;
        for (uint32_t i = 0; i < segments && found < length; ++i) {
            pieces.push_back(claim(list.u32(4 * i)));
            found += std::min<uint32_t>(BigDataSegmentSize, pieces.back().size());
        }
        if (found < length)
            corrupt(db.offset(), Msg::RegfBigDataSegmentsShort);
        data.reserve(length);
        for (const Cell& seg : pieces) {
            uint32_t take =
                std::min<uint32_t>(BigDataSegmentSize, length - static_cast<uint32_t>(data.size()));
            const uint8_t* p = seg.bytes(0, take);
            data.insert(data.end(), p, p + take);
        }
    }

    int securityIndex(uint32_t offset) {
        auto it = security_.find(offset);
        if (it != security_.end())
            return it->second;
        Cell sk = cell(offset);
        if (!sk.hasSignature("sk"))
            corrupt(offset, Msg::RegfNoSkSignature);
        uint32_t size = sk.u32(SkDescriptorSize);
        const uint8_t* p = sk.bytes(SkDescriptor, size);
        auto& list = tree_->securityDescriptors();
        list.emplace_back(p, p + size);
        int index = static_cast<int>(list.size() - 1);
        security_.emplace(offset, index);
        return index;
    }

    std::span<const uint8_t> file_;
    const uint8_t* bins_ = nullptr;
    uint32_t binsSize_ = 0;
    Release release_;
    std::vector<uint32_t> allocated_;
    std::vector<bool> claimed_;
    std::unordered_map<uint32_t, int> security_;
    HiveTree* tree_ = nullptr;
};

} // namespace

std::shared_ptr<HiveTree> RegfReader::read(std::span<const uint8_t> bytes) {
    return Parser(bytes, nullptr).run();
}

std::shared_ptr<HiveTree> RegfReader::readFile(const std::string& path) {
    MappedFile file;
    switch (file.open(path)) {
    case MappedFile::Opened:
        break;
    case MappedFile::NotAFile:
        throw RegfError(win32::AccessDenied, Msg::RegfNotAFile, {path});
    case MappedFile::OpenFailed:
        throw RegfError(SystemError::last().win32Code(), Msg::RegfCannotOpen, {path});
    case MappedFile::MapFailed:
        throw RegfError(win32::RegistryIoFailed, Msg::RegfCannotRead, {path, SystemError::last().text()});
    }
    return Parser(file.bytes(), [&](const uint8_t* from, size_t length) { file.release(from, length); })
        .run();
}

} // namespace quendle
