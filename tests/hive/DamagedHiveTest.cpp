#include "HiveTestSupport.h"

#include "hive/HiveName.h"
#include "hive/OfflineRegException.h"
#include "hive/OfflineRegHive.h"
#include "hive/RegfFormat.h"
#include "hive/RegfReader.h"

#include <functional>
#include <gtest/gtest.h>

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
    uint32_t root;
    uint32_t registry;
    uint32_t machine;
    uint32_t machineList;
    uint32_t a;
    uint32_t aValues;
    uint32_t longValue;
};

uint8_t* payload(std::vector<uint8_t>& h, uint32_t cell) {
    return h.data() + BaseBlockSize + cell + 4;
}

uint32_t firstChild(std::vector<uint8_t>& h, uint32_t nk) {
    return get32(payload(h, get32(payload(h, nk) + NkSubkeyList)) + 4);
}

Layout layoutOf(std::vector<uint8_t>& h) {
    Layout l{};
    l.root = get32(h.data() + OffRootCell);
    l.registry = firstChild(h, l.root);
    l.machine = firstChild(h, l.registry);
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
    const Hive base = smallHive();
    Hive copy = base;
    const Layout l = layoutOf(copy);
    // The undamaged base reads, and the layout found in it is right.
    ASSERT_EQ(refusal(base), 0u);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(payload(copy, l.a)) + NkName, 1), "A");
    struct Case {
        const char* what;
        std::function<void(Hive&)> damage;
        uint32_t error;
    };
    const Case cases[] = {
        {"base block signature", [](Hive& h) { h[0] = 'R'; }, 1009},
        {"checksum", [](Hive& h) { h[OffChecksum] ^= 1; }, 1009},
        {"format version", [](Hive& h) { put32(h.data() + OffMinor, 9), fixChecksum(h); }, 1009},
        {"root cell far outside", [](Hive& h) { put32(h.data() + OffRootCell, 0x7FFFFFF8), fixChecksum(h); },
         1009},
        {"bins size", [](Hive& h) { put32(h.data() + OffBinsSize, 0x10000000), fixChecksum(h); }, 1015},
        {"hbin signature", [](Hive& h) { h[BaseBlockSize] = 'x'; }, 1015},
        {"nk signature", [&](Hive& h) { payload(h, l.a)[0] = 'x'; }, 1015},
        {"vk signature", [&](Hive& h) { payload(h, l.longValue)[1] = 'x'; }, 1015},
        {"lf signature", [&](Hive& h) { payload(h, l.machineList)[0] = 'x'; }, 1015},
        {"cell beyond its bin", [&](Hive& h) { put32(h.data() + BaseBlockSize + l.a, uint32_t(-0x100000)); },
         1015},
        {"cell size not a multiple of 8",
         [&](Hive& h) { put32(h.data() + BaseBlockSize + l.a, uint32_t(-12)); }, 1015},
        {"value list outside", [&](Hive& h) { put32(payload(h, l.a) + NkValueList, 0x7FFF0000); }, 1015},
        {"value list inside a cell", [&](Hive& h) { put32(payload(h, l.a) + NkValueList, l.aValues + 8); },
         1015},
        {"more values than the list holds",
         [&](Hive& h) { put32(payload(h, l.a) + NkValueCount, 0xFFFFFFFF); }, 1015},
        {"name length", [&](Hive& h) { put16(payload(h, l.a) + NkNameLength, 0xFFFF); }, 1015},
        {"value length one more", [&](Hive& h) { put32(payload(h, l.longValue) + VkDataLength, 301); }, 1015},
        {"value length huge", [&](Hive& h) { put32(payload(h, l.longValue) + VkDataLength, 0x7FFFFFFF); },
         1015},
        {"value length inline and huge",
         [&](Hive& h) { put32(payload(h, l.longValue) + VkDataLength, 0x80000005); }, 1015},
        // Subkey lists that loop: an ancestor's list, the key itself; and a count that disagrees.
        {"subkeys are an ancestor's",
         [&](Hive& h) {
             put32(payload(h, l.a) + NkSubkeyCount, 2);
             put32(payload(h, l.a) + NkSubkeyList, l.machineList);
         },
         1015},
        {"subkeys hold the key itself", [&](Hive& h) { put32(payload(h, l.machineList) + 4, l.machine); },
         1015},
        {"subkey count", [&](Hive& h) { put32(payload(h, l.machine) + NkSubkeyCount, 3); }, 1015},
    };
    for (const Case& c : cases) {
        Hive h = base;
        c.damage(h);
        EXPECT_EQ(refusal(h), c.error) << c.what;
    }
}

TEST(DamagedHive, OpenPresentsTheCorruptHiveText) {
    ScratchDir dir;
    auto h = smallHive();
    h.resize(h.size() - 4096);
    writeBytes(dir / "cut.dat", h);
    OfflineRegHive hive;
    try {
        hive.Open(dir / "cut.dat");
        FAIL();
    } catch (const OfflineRegException& e) {
        EXPECT_EQ(e.win32Error(), 1015u);
        EXPECT_EQ(e.message().rfind("The registry is corrupted.", 0), 0u);
        EXPECT_NE(e.detail().find("truncated"), std::string::npos);
    }
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
