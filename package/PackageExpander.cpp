#include "package/PackageExpander.h"

#include "archive/ZipReader.h"
#include "core/Exception.h"
#include "core/ConsoleWriter.h"
#include "os/FileSystem.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

namespace {

enum Text : uint32_t {
    TextFolderNotEmpty = 1510,
    TextExpandFailed = 1511,
    TextExpanded = 1513,
};

} // namespace

size_t PackageExpander::expand(const std::string& packagePath, const std::string& folder, bool force) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    if (hostpath::pathExists(folder) && !hostpath::folderExists(folder))
        throw Exception(TextExpandFailed, packagePath, folder + " is not a folder");
    if (!force && hostpath::folderExists(folder) && !hostpath::folderEntries(folder).empty())
        throw Exception(TextFolderNotEmpty, folder);
    ZipReader reader;
    std::vector<std::string> written;
    if (!reader.open(packagePath) || !reader.extractAll(folder, written))
        throw Exception(TextExpandFailed, packagePath, reader.errorText());
    return written.size();
}

void PackageExpander::expandCommand(const std::string& packagePath, const std::string& folder, bool force) {
    size_t count = expand(packagePath, folder, force);
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        ConsoleColorScope green(AttributeGreen);
        console->writeLine(
            formatStringId(TextExpanded, {static_cast<long long>(count), packagePath, folder}));
    }
}

} // namespace quendle
