// Opens a large hive, applies 1,000 value edits and 100 key deletes through the package's
// registry operations, and saves it; prints the time of each phase and the sizes. Run it under
// /usr/bin/time -v for the peak memory.
// Usage: hive_bench [hive file]   (default: the largest sample hive)
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "package/PackageRegistry.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace quendle;
namespace fs = std::filesystem;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Key paths in depth-first order, and those without subkeys.
void collect(const OfflineRegKey& key, const std::string& path, std::vector<std::string>& all,
             std::vector<std::string>& leaves) {
    auto subkeys = key.EnumSubkeys();
    if (!path.empty())
        (subkeys.empty() ? leaves : all).push_back(path);
    for (const auto& name : subkeys)
        collect(key.Open(name), path.empty() ? name : path + "\\" + name, all, leaves);
}

} // namespace

int main(int argc, char** argv) {
    // The samples sit beside the source tree.
    std::string source = argc > 1 ? argv[1]
                                  : (fs::path(__FILE__).parent_path().parent_path().parent_path() / "shared" /
                                     "samples/andest22__MARI/vreg/office.x-none.msi.16.x-none.vreg.dat")
                                        .string();
    if (!fs::exists(source)) {
        std::fprintf(stderr, "hive not found: %s\n", source.c_str());
        return 2;
    }
    fs::path dir = fs::temp_directory_path() / "quendle-hive-bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(source, dir / "Registry.dat");
    uintmax_t before = fs::file_size(dir / "Registry.dat");

    try {
        PackageRegistry registry(dir.string());
        auto start = std::chrono::steady_clock::now();
        OfflineRegHive& hive = registry.hive();
        double open = secondsSince(start);

        std::vector<std::string> inner, leaves;
        collect(hive.RootKey(), "", inner, leaves);
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000; ++i) {
            const std::string& key = inner[static_cast<size_t>(i) % inner.size()];
            registry.SetRegistryValue(key, "BenchValue" + std::to_string(i % 7), i % 2 ? 1 : 4,
                                      std::to_string(i * 7919), i % 3 == 0);
        }
        double edits = secondsSince(start);
        start = std::chrono::steady_clock::now();
        for (size_t i = 0; i < 100 && i < leaves.size(); ++i)
            registry.DeleteRegistryKey(leaves[i * (leaves.size() / 100)]);
        double deletes = secondsSince(start);
        start = std::chrono::steady_clock::now();
        registry.save();
        double save = secondsSince(start);
        uintmax_t after = fs::file_size(dir / "Registry.dat");
        std::printf("hive: %s\nkeys: %zu (%zu without subkeys)\n", source.c_str(),
                    inner.size() + leaves.size(), leaves.size());
        std::printf("open %.3f s, 1000 value edits %.3f s, 100 key deletes %.3f s, save %.3f s\n", open,
                    edits, deletes, save);
        std::printf("size before %ju bytes, after %ju bytes\n", before, after);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    } catch (const Exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.message().c_str());
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
