#pragma once
#include "hive/HiveTree.h"
#include "hive/OfflineRegKey.h"
#include "hive/RegfWriter.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

namespace quendle::test {

// The real hives of the samples folder, or "" when the folder is absent.
inline std::string sampleHive(const std::string& name) {
    fs::path p = fs::path(samplesDir()) / "andest22__MARI" / "vreg" / name;
    return fs::exists(p) ? p.string() : std::string();
}
inline const char* OfficeHive = "office.x-none.msi.16.x-none.vreg.dat";

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> hiveBytes(const HiveTree& tree) {
    std::vector<uint8_t> out;
    RegfWriter::write(tree, [&](std::span<const uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); });
    return out;
}

// A value as one comparable whole: whether it exists, its type and its data.
using StoredValue = std::tuple<bool, uint32_t, std::vector<uint8_t>>;
inline StoredValue storedValue(const OfflineRegKey& key, const std::string& name) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool exists = key.GetValue(name, type, data);
    return {exists, type, data};
}

} // namespace quendle::test
