// Feeds arbitrary bytes to the hive reader. A hive it accepts must survive a save and read back
// with the same number of keys and values.
#include "hive/RegfFormat.h"
#include "hive/RegfReader.h"
#include "hive/RegfWriter.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace quendle;

namespace {

void count(const HiveKey& key, size_t& keys, size_t& values) {
    ++keys;
    values += key.values.size();
    for (const auto& s : key.subkeys)
        count(*s, keys, values);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::shared_ptr<HiveTree> tree;
    try {
        tree = RegfReader::read(std::span<const uint8_t>(data, size));
    } catch (const regf::RegfError&) {
        return 0;
    }
    std::vector<uint8_t> saved;
    try {
        RegfWriter::write(*tree,
                          [&](std::span<const uint8_t> b) { saved.insert(saved.end(), b.begin(), b.end()); });
    } catch (const regf::RegfError&) {
        return 0; // a name or value the format cannot hold again, e.g. an over-long key name
    }
    auto again = RegfReader::read(saved); // must not throw
    size_t k1 = 0, v1 = 0, k2 = 0, v2 = 0;
    count(*tree->root(), k1, v1);
    count(*again->root(), k2, v2);
    if (k1 != k2 || v1 != v2)
        std::abort();
    return 0;
}
