#include "HiveTestSupport.h"
#include "hive/HiveName.h"
#include "hive/OfflineRegException.h"
#include "hive/OfflineRegHive.h"
#include "hive/RegfFormat.h"
#include "hive/RegfReader.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

using namespace quendle;
using namespace quendle::test;
using namespace quendle::regf;

namespace {

// A small hive with a key chain, values inside and outside their cells, and a sibling.
std::vector<uint8_t> smallHive() {
    auto tree = HiveTree::createEmpty(u"root");
    std::shared_ptr<HiveKey> registry, machine, a, b;
    tree->createSubkey(*tree->root(), u"REGISTRY", registry);
    tree->createSubkey(*registry, u"MACHINE", machine);
    tree->createSubkey(*machine, u"A", a);
    tree->createSubkey(*machine, u"B", b);
    std::vector<uint8_t> data(300, 0x5A);
    tree->setValue(*a, u"long", 3, data);
    tree->setValue(*a, u"short", 4, std::vector<uint8_t>{1, 2, 3, 4});
    return hiveBytes(*tree);
}

// Where things are, found by walking the written hive.
struct Layout {
    uint32_t machine, machineList, a, aValues, longValue;
};

uint8_t* payload(std::vector<uint8_t>& h, uint32_t cell) {
    return h.data() + BaseBlockSize + cell + 4;
}

uint32_t firstChild(std::vector<uint8_t>& h, uint32_t nk) {
    return get32(payload(h, get32(payload(h, nk) + NkSubkeyList)) + 4);
}

Layout layoutOf(std::vector<uint8_t>& h) {
    Layout l{};
    l.machine = firstChild(h, firstChild(h, get32(h.data() + OffRootCell))); // below REGISTRY
    l.machineList = get32(payload(h, l.machine) + NkSubkeyList);
    l.a = firstChild(h, l.machine);
    l.aValues = get32(payload(h, l.a) + NkValueList);
    l.longValue = get32(payload(h, l.aValues));
    return l;
}

void fixChecksum(std::vector<uint8_t>& h) {
    put32(h.data() + OffChecksum, baseBlockChecksum(h.data()));
}

// The Win32 error the reader refuses the bytes with; 0 when they read.
uint32_t refusal(const std::vector<uint8_t>& h) {
    try {
        RegfReader::read(h);
    } catch (const RegfError& e) {
        return e.win32Error();
    }
    return 0;
}

} // namespace

TEST(DamagedHive, TruncatedAtAnyOffsetIsRefused) {
    auto h = smallHive();
    for (size_t size = 0; size < h.size(); size += 61) {
        std::vector<uint8_t> cut(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(size));
        uint32_t e = refusal(cut);
        EXPECT_TRUE(e == 1009 || e == 1015) << size << " gave " << e;
    }
    std::string sample = sampleHive(OfficeHive);
    if (sample.empty())
        return;
    auto real = readBytes(sample);
    uint32_t end = BaseBlockSize + get32(real.data() + OffBinsSize);
    for (uint32_t size = 100; size < end; size += 40009) {
        std::vector<uint8_t> cut(real.begin(), real.begin() + size);
        EXPECT_NE(refusal(cut), 0u) << size;
    }
}

TEST(DamagedHive, EachDamagedFieldIsRefusedWithItsError) {
    using Hive = std::vector<uint8_t>;
    using Damage = std::function<void(Hive&)>;
    const Hive base = smallHive();
    Hive copy = base;
    const Layout l = layoutOf(copy);
    // The undamaged base reads, and the layout found in it is right.
    ASSERT_EQ(refusal(base), 0u);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(payload(copy, l.a)) + NkName, 1), "A");
    auto header = [](size_t field, uint32_t value) {
        return [=](Hive& h) { put32(h.data() + field, value), fixChecksum(h); };
    };
    auto field = [](uint32_t cell, std::ptrdiff_t at, uint32_t value) {
        return [=](Hive& h) { put32(payload(h, cell) + at, value); };
    };
    const std::pair<uint32_t, std::vector<std::pair<const char*, Damage>>> groups[] = {
        {1009,
         {{"base block signature", [](Hive& h) { h[0] = 'R'; }},
          {"checksum", [](Hive& h) { h[OffChecksum] ^= 1; }},
          {"format version", header(OffMinor, 9)},
          {"root cell far outside", header(OffRootCell, 0x7FFFFFF8)}}},
        {1015,
         {{"bins size", header(OffBinsSize, 0x10000000)},
          {"hbin signature", [](Hive& h) { h[BaseBlockSize] = 'x'; }},
          {"nk signature", [&](Hive& h) { payload(h, l.a)[0] = 'x'; }},
          {"vk signature", [&](Hive& h) { payload(h, l.longValue)[1] = 'x'; }},
          {"lf signature", [&](Hive& h) { payload(h, l.machineList)[0] = 'x'; }},
          // A cell's size field sits just before its payload.
          {"cell beyond its bin", field(l.a, -4, uint32_t(-0x100000))},
          {"cell size not a multiple of 8", field(l.a, -4, uint32_t(-12))},
          {"value list outside", field(l.a, NkValueList, 0x7FFF0000)},
          {"value list inside a cell", field(l.a, NkValueList, l.aValues + 8)},
          {"more values than the list holds", field(l.a, NkValueCount, 0xFFFFFFFF)},
          {"name length", [&](Hive& h) { put16(payload(h, l.a) + NkNameLength, 0xFFFF); }},
          {"value length one more", field(l.longValue, VkDataLength, 301)},
          {"value length huge", field(l.longValue, VkDataLength, 0x7FFFFFFF)},
          {"value length inline and huge", field(l.longValue, VkDataLength, 0x80000005)},
          // Subkey lists that loop: an ancestor's list, the key itself; and a count that disagrees.
          {"subkeys are an ancestor's",
           [&](Hive& h) {
               put32(payload(h, l.a) + NkSubkeyCount, 2);
               put32(payload(h, l.a) + NkSubkeyList, l.machineList);
           }},
          {"subkeys hold the key itself", field(l.machineList, 4, l.machine)},
          {"subkey count", field(l.machine, NkSubkeyCount, 3)}}},
    };
    for (const auto& [error, cases] : groups) {
        for (const auto& [what, damage] : cases) {
            Hive h = base;
            damage(h);
            EXPECT_EQ(refusal(h), error) << what;
        }
    }
}

TEST(DamagedHive, OpenPresentsTheCorruptHiveText) {
    ScratchDir dir;
    auto h = smallHive();
    h.resize(h.size() - 4096);
    writeBytes(dir / "cut.dat", h);
    OfflineRegHive hive;
    auto e = thrown<OfflineRegException>([&] { hive.Open(dir / "cut.dat"); });
    EXPECT_EQ(std::pair(e.win32Error(), e.message().rfind("The registry is corrupted.", 0)),
              std::pair(1015u, size_t{0}));
    EXPECT_HAS(e.detail(), "truncated");
}

TEST(DamagedHive, DifferingSequenceNumbersAloneDoNotStopReading) {
    // A hive saved while a write was under way, with no log to replay: its bins are still whole.
    auto h = smallHive();
    put32(h.data() + OffSequence1, get32(h.data() + OffSequence2) + 5);
    fixChecksum(h);
    EXPECT_EQ(refusal(h), 0u);
    // The next save makes them agree again, above both.
    auto again = hiveBytes(*RegfReader::read(h));
    EXPECT_EQ(get32(again.data() + OffSequence1), get32(again.data() + OffSequence2));
    EXPECT_GT(get32(again.data() + OffSequence1), get32(h.data() + OffSequence1));
}

namespace {

struct CellInfo {
    uint32_t offset;
    const uint8_t* payload;
    uint32_t size;
};

// Every allocated cell of a written hive, checking the bin and cell framing on the way.
std::vector<CellInfo> cellsOf(const std::vector<uint8_t>& h) {
    std::vector<CellInfo> cells;
    uint32_t bins = get32(&h[OffBinsSize]);
    EXPECT_EQ(h.size(), BaseBlockSize + bins);
    for (uint32_t at = 0, size; at < bins; at += size) {
        const uint8_t* bin = &h[BaseBlockSize + at];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bin), 4), "hbin");
        EXPECT_EQ(get32(bin + 4), at);
        size = get32(bin + 8);
        EXPECT_EQ(size % 4096, 0u);
        uint32_t pos = at + 32;
        while (pos < at + size) {
            int32_t raw = static_cast<int32_t>(get32(&h[BaseBlockSize + pos]));
            uint32_t length = static_cast<uint32_t>(raw < 0 ? -raw : raw);
            EXPECT_EQ(length % 8, 0u);
            if (length == 0 || length % 8)
                return cells;
            if (raw < 0)
                cells.push_back({pos, &h[BaseBlockSize + pos + 4], length - 4});
            pos += length;
        }
        EXPECT_EQ(pos, at + size);
    }
    return cells;
}

std::map<std::string, int> signatures(const std::vector<CellInfo>& cells) {
    static const std::set<std::string> kinds{"nk", "vk", "sk", "lf", "lh", "li", "ri", "db"};
    std::map<std::string, int> count;
    for (const auto& c : cells) {
        std::string sig(reinterpret_cast<const char*>(c.payload), 2);
        if (kinds.contains(sig))
            ++count[sig];
    }
    return count;
}

std::shared_ptr<HiveTree> treeWithManyKeys(uint32_t minor) {
    auto tree = HiveTree::createEmpty(u"root", minor);
    std::shared_ptr<HiveKey> many, key;
    tree->createSubkey(*tree->root(), u"Many", many);
    for (int i = 0; i < 1100; ++i) {
        std::string n = "Key" + std::to_string(i);
        tree->createSubkey(*many, std::u16string(n.begin(), n.end()), key);
    }
    tree->createSubkey(*tree->root(), u"Ключ", key);
    tree->setValue(*key, u"Big", 3, std::vector<uint8_t>(40000, 7));
    tree->setValue(*key, u"ascii", 4, std::vector<uint8_t>(4, 1));
    tree->setValue(*key, u"", 1, std::vector<uint8_t>{'a', 0, 0, 0});
    return tree;
}

} // namespace

// Names, flags, hashes and security references are checked in the newest format.
TEST(RegfWriterLayout, ListAndRecordKindsFollowTheFormatVersionAndTheHeaderNamesFlagsAndHashesHold) {
    std::vector<uint8_t> bytes;
    for (const auto& [minor, leaf, bigData] : {std::tuple{2u, "li", false}, std::tuple{3u, "lf", false},
                                               std::tuple{4u, "lf", true}, std::tuple{5u, "lh", true}}) {
        SCOPED_TRACE(minor);
        bytes = hiveBytes(*treeWithManyKeys(minor));
        EXPECT_EQ(get32(&bytes[OffMajor]) * 10 + get32(&bytes[OffMinor]), 10 + minor);
        // 1,100 subkeys: an index root over three leaves of at most 500, and one leaf for the root
        // key's two subkeys.
        std::map<std::string, int> kinds{{"ri", 1}, {leaf, 4}, {"nk", 1103}, {"sk", 1}, {"vk", 3}};
        if (bigData)
            kinds["db"] = 1;
        EXPECT_EQ(signatures(cellsOf(bytes)), kinds);
        auto again = RegfReader::read(bytes);
        EXPECT_EQ(again->root()->findSubkey(u"many")->subkeys.size(), 1100u);
        EXPECT_EQ(again->root()->findSubkey(u"КЛЮЧ")->findValue(u"big")->data,
                  std::vector<uint8_t>(40000, 7));
    }
    for (const auto& c : cellsOf(bytes)) {
        std::string sig(reinterpret_cast<const char*>(c.payload), 2);
        if (sig == "sk") {
            EXPECT_EQ(get32(c.payload + SkReferences), 1103u); // every key shares the one descriptor
            EXPECT_EQ(get32(c.payload + SkNext), c.offset);    // a ring of one
        } else if (sig == "nk") {
            uint16_t length = get16(c.payload + NkNameLength);
            std::string stored(reinterpret_cast<const char*>(c.payload + NkName), length);
            bool compressed = get16(c.payload + NkFlags) & KeyCompressedName;
            // "Ключ" is the only key whose name is not ASCII: stored in UTF-16 without the flag.
            EXPECT_EQ(compressed, length != 8) << stored;
        } else if (sig == "vk") {
            uint16_t length = get16(c.payload + VkNameLength);
            EXPECT_EQ(get16(c.payload + VkFlags), length ? ValueCompressedName : 0);
            if (length == 0) { // the default value: four bytes held in the value itself
                EXPECT_EQ(get32(c.payload + VkDataLength), 0x80000004u);
            }
        } else if (sig == "lh") {
            for (uint32_t i = 0; i < get16(c.payload + 2); ++i) {
                const uint8_t* child = &bytes[BaseBlockSize + get32(c.payload + 4 + 8 * i) + 4];
                std::string name(reinterpret_cast<const char*>(child + NkName), get16(child + NkNameLength));
                uint32_t h = 0;
                for (char ch : name)
                    h = h * 37 + static_cast<uint32_t>(std::toupper(static_cast<unsigned char>(ch)));
                if (get16(child + NkFlags) & KeyCompressedName) {
                    EXPECT_EQ(get32(c.payload + 8 + 8 * i), h) << name;
                }
            }
        }
    }
}
