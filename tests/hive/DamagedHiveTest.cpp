#include "HiveTestSupport.h"

#include "hive/HiveName.h"
#include "hive/OfflineRegException.h"
#include "hive/OfflineRegHive.h"
#include "hive/RegfFormat.h"
#include "hive/RegfReader.h"

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

TEST(DamagedHive, TheUndamagedBaseReads) {
    auto h = smallHive();
    EXPECT_EQ(refusal(h), 0u);
    Layout l = layoutOf(h);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(payload(h, l.a)) + NkName, 1), "A");
}

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

TEST(DamagedHive, WrongSignaturesAndChecksumAreRefused) {
    auto base = smallHive();
    Layout l = layoutOf(base);
    auto h = base;
    h[0] = 'R';
    EXPECT_EQ(refusal(h), 1009u);
    h = base;
    h[OffChecksum] ^= 1;
    EXPECT_EQ(refusal(h), 1009u);
    h = base;
    put32(h.data() + OffMinor, 9);
    fixChecksum(h);
    EXPECT_EQ(refusal(h), 1009u);
    h = base;
    h[BaseBlockSize] = 'x'; // "hbin"
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    payload(h, l.a)[0] = 'x'; // "nk"
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    payload(h, l.longValue)[1] = 'x'; // "vk"
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    payload(h, l.machineList)[0] = 'x'; // "lf"
    EXPECT_EQ(refusal(h), 1015u);
}

TEST(DamagedHive, SizesAndOffsetsPointingOutsideAreRefused) {
    auto base = smallHive();
    Layout l = layoutOf(base);
    auto h = base;
    put32(h.data() + BaseBlockSize + l.a, static_cast<uint32_t>(-0x100000)); // cell beyond its bin
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    put32(h.data() + BaseBlockSize + l.a, static_cast<uint32_t>(-12)); // not a multiple of 8
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    put32(h.data() + OffRootCell, 0x7FFFFFF8);
    fixChecksum(h);
    EXPECT_EQ(refusal(h), 1009u);
    h = base;
    put32(h.data() + OffBinsSize, 0x10000000);
    fixChecksum(h);
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    put32(payload(h, l.a) + NkValueList, 0x7FFF0000);
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    put32(payload(h, l.a) + NkValueList, l.aValues + 8); // inside a cell, not at its start
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    put32(payload(h, l.a) + NkValueCount, 0xFFFFFFFF); // more values than the list holds
    EXPECT_EQ(refusal(h), 1015u);
    h = base;
    put16(payload(h, l.a) + NkNameLength, 0xFFFF);
    EXPECT_EQ(refusal(h), 1015u);
}

TEST(DamagedHive, ValueLengthLargerThanTheFileIsRefused) {
    auto base = smallHive();
    Layout l = layoutOf(base);
    for (uint32_t length : {301u, 0x7FFFFFFFu, 0x80000005u}) {
        auto h = base;
        put32(payload(h, l.longValue) + VkDataLength, length);
        EXPECT_EQ(refusal(h), 1015u) << length;
    }
}

TEST(DamagedHive, SubkeyListsThatLoopAreRefused) {
    auto base = smallHive();
    Layout l = layoutOf(base);
    // A key that lists its own ancestor's list as its subkeys.
    auto h = base;
    put32(payload(h, l.a) + NkSubkeyCount, 2);
    put32(payload(h, l.a) + NkSubkeyList, l.machineList);
    EXPECT_EQ(refusal(h), 1015u);
    // A key that lists itself.
    h = base;
    put32(payload(h, l.machineList) + 4, l.machine);
    EXPECT_EQ(refusal(h), 1015u);
    // A subkey count that disagrees with the list.
    h = base;
    put32(payload(h, l.machine) + NkSubkeyCount, 3);
    EXPECT_EQ(refusal(h), 1015u);
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
