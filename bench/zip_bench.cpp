// Packs a folder tree the way a package save does (block map, SuperFast entries) or extracts
// an archive, so that archive_bench.sh can time both against zip and unzip.
//   zip_bench pack <folder> <archive>
//   zip_bench extract <archive> <folder>
#include "archive/BlockMapBuilder.h"
#include "archive/PercentEncoding.h"
#include "archive/ZipReader.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quendle;

namespace {

int pack(const fs::path& folder, const std::string& archive) {
    BlockMapBuilder builder;
    if (!builder.open(archive)) {
        std::fprintf(stderr, "cannot create %s: %s\n", archive.c_str(), builder.writer().failure().text().c_str());
        return 1;
    }
    uint64_t entries = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file())
            continue;
        std::string packagePath = fs::relative(item.path(), folder).generic_string();
        for (char& c : packagePath)
            if (c == '/')
                c = '\\';
        if (!builder.writer().addEntry(item.path().string(), percentEncodePackagePath(packagePath),
                                       ZipCompression::SuperFast)) {
            std::fprintf(stderr, "cannot add %s\n", item.path().c_str());
            return 1;
        }
        ++entries;
    }
    if (!builder.finish() || !builder.writer().close()) {
        std::fprintf(stderr, "cannot complete %s\n", archive.c_str());
        return 1;
    }
    fs::remove(builder.blockMapPath());
    std::printf("packed %llu files\n", static_cast<unsigned long long>(entries));
    return 0;
}

int extract(const std::string& archive, const std::string& folder) {
    ZipReader reader;
    std::vector<std::string> files;
    if (!reader.open(archive) || !reader.extractAll(folder, files)) {
        std::fprintf(stderr, "extraction failed: %s\n", reader.failure().text().c_str());
        return 1;
    }
    std::printf("extracted %zu files\n", files.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "pack")
        return pack(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "extract")
        return extract(argv[2], argv[3]);
    std::fprintf(stderr, "usage: zip_bench pack <folder> <archive> | zip_bench extract <archive> <folder>\n");
    return 2;
}
