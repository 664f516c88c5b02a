#include "HiveTestSupport.h"

#include "hive/RegfFormat.h"
#include "hive/RegfReader.h"

#include <gtest/gtest.h>
#include <map>

using namespace quendle;
using namespace quendle::test;
using namespace quendle::regf;

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
    uint32_t at = 0;
    while (at < bins) {
        const uint8_t* bin = &h[BaseBlockSize + at];
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bin), 4), "hbin");
        EXPECT_EQ(get32(bin + 4), at);
        uint32_t size = get32(bin + 8);
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
        at += size;
    }
    return cells;
}

std::map<std::string, int> signatures(const std::vector<CellInfo>& cells) {
    std::map<std::string, int> count;
    for (const auto& c : cells) {
        std::string sig(reinterpret_cast<const char*>(c.payload), 2);
        if (sig == "nk" || sig == "vk" || sig == "sk" || sig == "lf" || sig == "lh" || sig == "li" ||
            sig == "ri" || sig == "db")
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

TEST(RegfWriterLayout, ListAndRecordKindsFollowTheFormatVersion) {
    struct Expect {
        uint32_t minor;
        const char* leaf;
        bool bigData;
    };
    for (Expect e :
         {Expect{2, "li", false}, Expect{3, "lf", false}, Expect{4, "lf", true}, Expect{5, "lh", true}}) {
        SCOPED_TRACE(e.minor);
        auto bytes = hiveBytes(*treeWithManyKeys(e.minor));
        EXPECT_EQ(get32(&bytes[OffMinor]), e.minor);
        auto kinds = signatures(cellsOf(bytes));
        // 1,100 subkeys: an index root over three leaves of at most 500.
        EXPECT_EQ(kinds["ri"], 1);
        EXPECT_EQ(kinds[e.leaf], 4); // three under "ri", one for the root key's two subkeys
        EXPECT_EQ(kinds["db"], e.bigData ? 1 : 0);
        EXPECT_EQ(kinds["nk"], 1103);
        EXPECT_EQ(kinds["sk"], 1);
        auto again = RegfReader::read(bytes);
        EXPECT_EQ(again->root()->findSubkey(u"many")->subkeys.size(), 1100u);
        EXPECT_EQ(again->root()->findSubkey(u"КЛЮЧ")->findValue(u"big")->data,
                  std::vector<uint8_t>(40000, 7));
    }
}

TEST(RegfWriterLayout, HeaderNamesFlagsHashesAndSecurityReferences) {
    auto bytes = hiveBytes(*treeWithManyKeys(5));
    EXPECT_EQ(get32(&bytes[OffChecksum]), baseBlockChecksum(bytes.data()));
    EXPECT_EQ(get32(&bytes[OffSequence1]), get32(&bytes[OffSequence2]));
    EXPECT_EQ(get32(&bytes[OffMajor]), 1u);
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
