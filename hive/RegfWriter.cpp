#include "hive/RegfWriter.h"

#include "core/SystemError.h"
#include "hive/HiveName.h"
#include "hive/RegfFormat.h"
#include "os/FileHandle.h"
#include "os/SystemError.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

namespace quendle {
namespace {

using namespace regf;

// Leaves stay within one 4 KiB bin; larger lists get an index root ("ri") over several leaves.
constexpr uint32_t MaxLeafEntries = 500;

enum class Kind : uint8_t {
    Key,
    Security,
    Class,
    ValueList,
    Value,
    Data,
    BigData,
    SegmentList,
    Segment,
    Root,
    Leaf
};

struct Planned {
    Kind kind;
    uint32_t size; // whole cell, size field included
    uint32_t offset;
    const HiveKey* key;
    uint32_t index; // value number, security index or leaf number
    uint32_t part;  // segment number
};

struct ValueCells {
    uint32_t vk = NoCell;
    uint32_t data = NoCell; // the data cell or the big-data record
    uint32_t segmentList = NoCell;
    std::vector<uint32_t> segments;
};

struct KeyCells {
    uint32_t nk = NoCell;
    uint32_t parent = NoCell;
    uint32_t classCell = NoCell;
    uint32_t valueList = NoCell;
    uint32_t subkeyList = NoCell;
    int security = 0;
    std::vector<uint32_t> leaves;
    std::vector<ValueCells> values;
};

uint32_t storedNameSize(std::u16string_view name) {
    size_t size = hivename::isAscii(name) ? name.size() : name.size() * 2;
    // The length field has 16 bits; a one-byte name read from a hive may need twice that here.
    if (size > 0xFFFF)
        throw RegfError(win32::InvalidParameter, Msg::RegfNameTooLong);
    return static_cast<uint32_t>(size);
}

void putName(uint8_t* p, std::u16string_view name) {
    if (hivename::isAscii(name)) {
        for (size_t i = 0; i < name.size(); ++i)
            p[i] = static_cast<uint8_t>(name[i]);
    } else {
        for (size_t i = 0; i < name.size(); ++i)
            put16(p + 2 * i, name[i]);
    }
}

class Layout {
  public:
    explicit Layout(const HiveTree& tree) : tree_(tree), sds_(tree.securityDescriptors()) {
        if (!tree.root())
            throw RegfError(win32::InvalidParameter, Msg::RegfNoRootKey);
        bigData_ = tree.minorVersion() >= 4;
        hashLists_ = tree.minorVersion() >= 5;
        plainLists_ = tree.minorVersion() < 3;
        leafEntry_ = plainLists_ ? 4 : 8;
        if (sds_.empty())
            sds_.push_back(HiveTree::defaultSecurityDescriptor());
        securityCell_.assign(sds_.size(), NoCell);
        references_.assign(sds_.size(), 0);
        planKey(*tree.root(), NoCell, 0, 0);
        closeBin();
    }

    uint32_t binsSize() const { return binEnd_; }
    uint32_t rootCell() const { return keys_.at(tree_.root().get()).nk; }

    void emit(const RegfWriter::Sink& sink, uint64_t timestamp) const {
        size_t bin = 0;
        std::vector<uint8_t> buffer;
        uint32_t binStart = 0;
        uint32_t used = 0;
        auto openBin = [&]() {
            binStart = bins_[bin].first;
            buffer.assign(bins_[bin].second, 0);
            std::memcpy(buffer.data(), "hbin", 4);
            put32(&buffer[4], binStart);
            put32(&buffer[8], bins_[bin].second);
            put64(&buffer[0x14], timestamp);
            used = BinHeaderSize;
        };
        auto flushBin = [&]() {
            if (used < buffer.size())
                put32(&buffer[used], static_cast<uint32_t>(buffer.size() - used)); // free tail
            sink(buffer);
            ++bin;
        };
        openBin();
        for (const Planned& c : cells_) {
            while (c.offset >= binStart + buffer.size()) {
                flushBin();
                openBin();
            }
            uint8_t* p = &buffer[c.offset - binStart];
            put32(p, static_cast<uint32_t>(-static_cast<int32_t>(c.size)));
            fill(c, p + 4);
            used = c.offset - binStart + c.size;
        }
        flushBin();
    }

  private:
    uint32_t place(Kind kind, uint64_t payload, const HiveKey* key, uint32_t index = 0, uint32_t part = 0) {
        uint64_t size = alignUp(payload + 4, CellAlignment);
        if (size > 0x7FFFFFF0u - BinHeaderSize)
            throw RegfError(win32::InvalidParameter, Msg::RegfCellTooLarge);
        if (size > binEnd_ - cursor_) {
            closeBin();
            uint32_t binSize = std::max(BinAlignment, alignUp(BinHeaderSize + size, BinAlignment));
            if (uint64_t{binEnd_} + binSize > 0x7FFFF000u)
                throw RegfError(win32::InvalidParameter, Msg::RegfHiveTooLarge);
            bins_.emplace_back(binEnd_, binSize);
            cursor_ = binEnd_ + BinHeaderSize;
            binEnd_ += binSize;
        }
        uint32_t offset = cursor_;
        cursor_ += static_cast<uint32_t>(size);
        cells_.push_back(Planned{kind, static_cast<uint32_t>(size), offset, key, index, part});
        return offset;
    }
    void closeBin() { cursor_ = binEnd_; }

    void planKey(const HiveKey& key, uint32_t parentCell, int parentSecurity, uint32_t depth) {
        if (depth > MaxTreeDepth)
            throw RegfError(win32::InvalidParameter, Msg::RegfKeyTreeTooDeepToWrite);
        KeyCells& k = keys_[&key];
        k.parent = parentCell;
        k.security = key.security >= 0 && static_cast<size_t>(key.security) < sds_.size() ? key.security
                                                                                          : parentSecurity;
        ++references_[static_cast<size_t>(k.security)];
        k.nk = place(Kind::Key, NkName + uint64_t{storedNameSize(key.name)}, &key);
        if (securityCell_[static_cast<size_t>(k.security)] == NoCell) {
            securityCell_[static_cast<size_t>(k.security)] =
                place(Kind::Security, SkDescriptor + uint64_t{sds_[static_cast<size_t>(k.security)].size()},
                      nullptr, static_cast<uint32_t>(k.security));
            securityOrder_.push_back(static_cast<uint32_t>(k.security));
        }
        if (!key.className.empty())
            k.classCell = place(Kind::Class, key.className.size(), &key);
        if (!key.values.empty())
            k.valueList = place(Kind::ValueList, 4 * uint64_t{key.values.size()}, &key);
        k.values.resize(key.values.size());
        for (uint32_t i = 0; i < key.values.size(); ++i)
            planValue(key, i, k.values[i]);
        if (!key.subkeys.empty()) {
            size_t n = key.subkeys.size();
            if (n <= MaxLeafEntries) {
                k.subkeyList = place(Kind::Leaf, 4 + leafEntry_ * uint64_t{n}, &key, 0);
                k.leaves.push_back(k.subkeyList);
            } else {
                size_t leaves = (n + MaxLeafEntries - 1) / MaxLeafEntries;
                k.subkeyList = place(Kind::Root, 4 + 4 * uint64_t{leaves}, &key);
                for (uint32_t i = 0; i < leaves; ++i) {
                    size_t count = std::min<size_t>(MaxLeafEntries, n - i * MaxLeafEntries);
                    k.leaves.push_back(place(Kind::Leaf, 4 + leafEntry_ * uint64_t{count}, &key, i));
                }
            }
        }
        uint32_t self = k.nk;
        int security = k.security;
        for (const auto& child : key.subkeys)
            planKey(*child, self, security, depth + 1);
    }

    void planValue(const HiveKey& key, uint32_t i, ValueCells& v) {
        const HiveValue& value = key.values[i];
        v.vk = place(Kind::Value, VkName + uint64_t{storedNameSize(value.name)}, &key, i);
        size_t length = value.data.size();
        if (length <= 4)
            return;
        if (bigData_ && length > BigDataSegmentSize) {
            uint32_t segments = static_cast<uint32_t>((length + BigDataSegmentSize - 1) / BigDataSegmentSize);
            if (segments > BigDataMaxSegments)
                throw RegfError(win32::InvalidParameter, Msg::RegfValueTooLarge);
            v.data = place(Kind::BigData, 8, &key, i);
            v.segmentList = place(Kind::SegmentList, 4 * uint64_t{segments}, &key, i);
            for (uint32_t s = 0; s < segments; ++s) {
                size_t take = std::min<size_t>(BigDataSegmentSize, length - size_t{s} * BigDataSegmentSize);
                // hivex and libregf read a segment only up to four bytes before its cell ends;
                // a full segment's cell has those four bytes anyway, the last one gets them too.
                v.segments.push_back(place(Kind::Segment, take + 4, &key, i, s));
            }
        } else {
            v.data = place(Kind::Data, length, &key, i);
        }
    }

    void fill(const Planned& c, uint8_t* p) const {
        switch (c.kind) {
        case Kind::Key:
            fillKey(*c.key, p);
            break;
        case Kind::Security:
            fillSecurity(c.index, p);
            break;
        case Kind::Class:
            std::memcpy(p, c.key->className.data(), c.key->className.size());
            break;
        case Kind::ValueList: {
            const KeyCells& k = keys_.at(c.key);
            for (size_t i = 0; i < k.values.size(); ++i)
                put32(p + 4 * i, k.values[i].vk);
            break;
        }
        case Kind::Value:
            fillValue(*c.key, c.index, p);
            break;
        case Kind::Data: {
            const auto& data = c.key->values[c.index].data;
            std::memcpy(p, data.data(), data.size());
            break;
        }
        case Kind::BigData: {
            const ValueCells& v = keys_.at(c.key).values[c.index];
            std::memcpy(p, "db", 2);
            put16(p + 2, static_cast<uint16_t>(v.segments.size()));
            put32(p + 4, v.segmentList);
            break;
        }
        case Kind::SegmentList: {
            const ValueCells& v = keys_.at(c.key).values[c.index];
            for (size_t s = 0; s < v.segments.size(); ++s)
                put32(p + 4 * s, v.segments[s]);
            break;
        }
        case Kind::Segment: {
            const auto& data = c.key->values[c.index].data;
            size_t from = size_t{c.part} * BigDataSegmentSize;
            std::memcpy(p, data.data() + from, std::min<size_t>(BigDataSegmentSize, data.size() - from));
            break;
        }
        case Kind::Root: {
            const KeyCells& k = keys_.at(c.key);
            std::memcpy(p, "ri", 2);
            put16(p + 2, static_cast<uint16_t>(k.leaves.size()));
            for (size_t i = 0; i < k.leaves.size(); ++i)
                put32(p + 4 + 4 * i, k.leaves[i]);
            break;
        }
        case Kind::Leaf:
            fillLeaf(*c.key, c.index, p);
            break;
        }
    }

    void fillKey(const HiveKey& key, uint8_t* p) const {
        const KeyCells& k = keys_.at(&key);
        std::memcpy(p, "nk", 2);
        uint16_t flags = key.flags & ~(KeyCompressedName | KeyVolatile);
        if (hivename::isAscii(key.name))
            flags |= KeyCompressedName;
        put16(p + NkFlags, flags);
        put64(p + NkLastWrite, key.lastWrite);
        put32(p + NkAccessBits, key.accessBits);
        put32(p + NkParent, k.parent == NoCell ? 0 : k.parent);
        put32(p + NkSubkeyCount, static_cast<uint32_t>(key.subkeys.size()));
        put32(p + NkVolatileSubkeyCount, 0);
        put32(p + NkSubkeyList, k.subkeyList);
        put32(p + NkVolatileSubkeyList, NoCell);
        put32(p + NkValueCount, static_cast<uint32_t>(key.values.size()));
        put32(p + NkValueList, k.valueList);
        put32(p + NkSecurity, securityCell_[static_cast<size_t>(k.security)]);
        put32(p + NkClass, k.classCell);
        uint32_t maxName = 0, maxClass = 0, maxValueName = 0, maxData = 0;
        for (const auto& s : key.subkeys) {
            maxName = std::max(maxName, static_cast<uint32_t>(s->name.size() * 2));
            maxClass = std::max(maxClass, static_cast<uint32_t>(s->className.size()));
        }
        for (const auto& v : key.values) {
            maxValueName = std::max(maxValueName, static_cast<uint32_t>(v.name.size() * 2));
            maxData = std::max(maxData, static_cast<uint32_t>(v.data.size()));
        }
        if (hashLists_)
            maxName = (maxName & 0xFFFF) | key.layeredFlags;
        put32(p + NkMaxSubkeyName, maxName);
        put32(p + NkMaxSubkeyClass, maxClass);
        put32(p + NkMaxValueName, maxValueName);
        put32(p + NkMaxValueData, maxData);
        put32(p + NkWorkVar, 0);
        put16(p + NkNameLength, static_cast<uint16_t>(storedNameSize(key.name)));
        put16(p + NkClassLength, static_cast<uint16_t>(key.className.size()));
        putName(p + NkName, key.name);
    }

    void fillSecurity(uint32_t index, uint8_t* p) const {
        auto at = std::find(securityOrder_.begin(), securityOrder_.end(), index) - securityOrder_.begin();
        size_t n = securityOrder_.size();
        size_t next = (static_cast<size_t>(at) + 1) % n;
        size_t previous = (static_cast<size_t>(at) + n - 1) % n;
        std::memcpy(p, "sk", 2);
        put32(p + SkNext, securityCell_[securityOrder_[next]]);
        put32(p + SkPrevious, securityCell_[securityOrder_[previous]]);
        put32(p + SkReferences, references_[index]);
        put32(p + SkDescriptorSize, static_cast<uint32_t>(sds_[index].size()));
        if (!sds_[index].empty())
            std::memcpy(p + SkDescriptor, sds_[index].data(), sds_[index].size());
    }

    void fillValue(const HiveKey& key, uint32_t i, uint8_t* p) const {
        const HiveValue& value = key.values[i];
        const ValueCells& v = keys_.at(&key).values[i];
        bool compressed = !value.name.empty() && hivename::isAscii(value.name);
        std::memcpy(p, "vk", 2);
        put16(p + VkNameLength, static_cast<uint16_t>(storedNameSize(value.name)));
        uint32_t length = static_cast<uint32_t>(value.data.size());
        if (length <= 4) {
            put32(p + VkDataLength, length | DataInline);
            if (length > 0)
                std::memcpy(p + VkData, value.data.data(), length);
        } else {
            put32(p + VkDataLength, length);
            put32(p + VkData, v.data);
        }
        put32(p + VkType, value.type);
        put16(p + VkFlags, compressed ? ValueCompressedName : 0);
        putName(p + VkName, value.name);
    }

    void fillLeaf(const HiveKey& key, uint32_t leaf, uint8_t* p) const {
        size_t first = size_t{leaf} * MaxLeafEntries;
        size_t count = std::min<size_t>(MaxLeafEntries, key.subkeys.size() - first);
        std::memcpy(p, hashLists_ ? "lh" : plainLists_ ? "li" : "lf", 2);
        put16(p + 2, static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i) {
            const HiveKey& child = *key.subkeys[first + i];
            if (plainLists_) {
                put32(p + 4 + 4 * i, keys_.at(&child).nk);
                continue;
            }
            put32(p + 4 + 8 * i, keys_.at(&child).nk);
            put32(p + 8 + 8 * i, hashLists_ ? hivename::lhHash(child.name) : hivename::lfHint(child.name));
        }
    }

    const HiveTree& tree_;
    std::vector<std::vector<uint8_t>> sds_;
    bool bigData_ = false;
    bool hashLists_ = false;  // "lh" from format 1.5
    bool plainLists_ = false; // "li" before format 1.3, which has "lf"
    uint32_t leafEntry_ = 8;
    std::vector<uint32_t> securityCell_;
    std::vector<uint32_t> references_;
    std::vector<uint32_t> securityOrder_;
    std::unordered_map<const HiveKey*, KeyCells> keys_;
    std::vector<Planned> cells_;
    std::vector<std::pair<uint32_t, uint32_t>> bins_; // start, size
    uint32_t cursor_ = 0;
    uint32_t binEnd_ = 0;
};

// Removes a file that was created but not completely written.
class PartialFile {
  public:
    explicit PartialFile(std::string path) : path_(std::move(path)) {}
    ~PartialFile() {
        if (!kept_)
            std::remove(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    void keep() { kept_ = true; }

  private:
    std::string path_;
    bool kept_ = false;
};

} // namespace

void RegfWriter::write(const HiveTree& tree, const Sink& sink) {
    Layout layout(tree);
    std::array<uint8_t, BaseBlockSize> block = tree.baseBlock();
    uint32_t sequence = std::max(get32(&block[OffSequence1]), get32(&block[OffSequence2])) + 1;
    uint64_t timestamp = HiveTree::now();
    std::memcpy(block.data(), "regf", 4);
    put32(&block[OffSequence1], sequence);
    put32(&block[OffSequence2], sequence);
    put64(&block[OffTimestamp], timestamp);
    put32(&block[OffMajor], 1);
    put32(&block[OffMinor], tree.minorVersion());
    put32(&block[OffFileType], 0);
    put32(&block[OffFileFormat], 1);
    put32(&block[OffRootCell], layout.rootCell());
    put32(&block[OffBinsSize], layout.binsSize());
    put32(&block[OffClustering], 1);
    put32(&block[OffChecksum], baseBlockChecksum(block.data()));
    sink(block);
    layout.emit(sink, timestamp);
}

void RegfWriter::writeFile(const HiveTree& tree, const std::string& path) {
    FileHandle fd = FileHandle::createNew(path);
    if (!fd) {
        // The file is being created: a missing entry can only be its folder.
        SystemError why = SystemError::last();
        uint32_t error = why.kind() == SystemError::Kind::AlreadyExists ? win32::AlreadyExists
                         : why.kind() == SystemError::Kind::NotFound    ? win32::PathNotFound
                                                                        : why.win32Code();
        throw RegfError(error, Msg::RegfCannotCreate, {path});
    }
    PartialFile partial(path);
    write(tree, [&](std::span<const uint8_t> bytes) {
        if (!fd.writeAll(bytes.data(), bytes.size()))
            throw RegfError(SystemError::last().win32Code(), Msg::RegfCannotWrite, {path});
    });
    // No fsync: the hive is an intermediate file of the workspace; the package file that is
    // built from it is the one made durable.
    if (!fd.close())
        throw RegfError(SystemError::last().win32Code(), Msg::RegfCannotWrite, {path});
    partial.keep();
}

} // namespace quendle
