// Builds an App-V package from a folder laid out like demo/: the root parts as files
// ("AppxManifest.xml", "FilesystemMetadata.xml", "PackageHistory.xml", "StreamMap.xml",
// "[Content_Types].xml"), the application files under Root and Scripts, and either a
// "Registry.dat" or a "Registry.txt" from which the hive is written with our own hive engine.
//
//   make_demo_package <source folder> <output .appv>

#include "core/Exception.h"
#include "core/ExceptionPresenter.h"
#include "hive/OfflineRegHive.h"
#include "os/FileSystem.h"
#include "package/KnownParts.h"
#include "package/PackageArchiveWriter.h"
#include "package/PackageRegistry.h"
#include "util/strings/StringSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace quendle;
namespace fs = std::filesystem;

namespace {

// A private staging folder, removed with its content.
class StagingFolder {
  public:
    StagingFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            std::string path = hostpath::tempFolderPath() + "/make_demo_package-" + std::to_string(random());
            std::error_code ec;
            if (fs::create_directory(fs::u8path(path), ec))
                path_ = path;
        }
        if (path_.empty())
            throw Exception("Cannot create a staging folder under " + hostpath::tempFolderPath());
    }
    ~StagingFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::vector<std::string> splitFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        fields.emplace_back(trimWhiteSpace(text.substr(start, bar == std::string::npos ? bar : bar - start)));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

// Writes the hive described by a Registry.txt: "key <path>" and
// "value <path> | <name> | <type> | <data>" lines; ";" starts a comment.
void writeHive(const std::string& description, const std::string& hivePath) {
    std::ifstream in(description);
    if (!in)
        throw Exception(Msg::FileNotFound, description);
    OfflineRegHive hive;
    hive.CreateNew("{6C3D5E2A-8F41-4B7D-A0C9-2E5B1D7F9A63}");
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string text(trimWhiteSpace(line));
        if (text.empty() || text[0] == ';')
            continue;
        if (text.rfind("key ", 0) == 0) {
            hive.RootKey().Create(std::string(trimWhiteSpace(text.substr(4))));
            continue;
        }
        std::vector<std::string> f =
            text.rfind("value ", 0) == 0 ? splitFields(text.substr(6)) : std::vector<std::string>{};
        uint32_t type = f.size() == 4 ? PackageRegistry::valueTypeFromText(f[2]) : 0;
        if (type == 0)
            throw Exception(description + ":" + std::to_string(number) + ": not a key or value line");
        hive.RootKey().Create(f[0]).SetValueFromText(f[1], type, 0, f[3]);
    }
    hive.Save(hivePath);
}

// Every file below the folder, in name order so that identical folders give identical packages.
void collectFiles(const fs::path& root, const fs::path& folder, FileTable& files) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder))
        entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    for (const auto& path : entries) {
        if (fs::is_directory(path)) {
            collectFiles(root, path, files);
            continue;
        }
        std::vector<std::string> components;
        for (const fs::path& component : fs::relative(path, root))
            components.push_back(component.string());
        files.insert(PackagePath::ofComponents(components), path.string());
    }
}

void makePackage(const std::string& source, const std::string& output) {
    if (!hostpath::folderExists(source))
        throw Exception(Msg::FileNotFound, source);
    StagingFolder staging;
    for (std::string_view part : KnownParts) {
        std::string from = hostpath::joinPath(source, part);
        if (part != BlockMapPart && hostpath::fileExists(from))
            fs::copy_file(from, hostpath::joinPath(staging.path(), part));
    }
    std::string hive = hostpath::joinPath(staging.path(), RegistryPart);
    std::string description = hostpath::joinPath(source, "Registry.txt");
    if (!hostpath::fileExists(hive) && hostpath::fileExists(description))
        writeHive(description, hive);

    FileTable files;
    for (const char* top : {"Root", "Scripts"}) {
        fs::path folder = fs::path(source) / top;
        if (fs::is_directory(folder))
            collectFiles(source, folder, files);
    }
    // Packed inside the staging folder, where the block map is written beside it.
    std::string archive = hostpath::joinPath(staging.path(), "package.appv");
    PackageArchiveWriter::write(archive, staging.path(), files);
    std::error_code ec;
    fs::rename(archive, output, ec);
    if (ec) {
        fs::copy_file(archive, output, fs::copy_options::overwrite_existing);
    }
    std::printf("Wrote %s: %zu files and the root parts\n", output.c_str(), files.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <source folder> <output .appv>\n", argv[0]);
        return 2;
    }
    try {
        makePackage(hostpath::absolutePath(argv[1]), hostpath::absolutePath(argv[2]));
        return 0;
    } catch (...) {
        handleCurrentException();
        return 1;
    }
}
