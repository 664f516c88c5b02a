#include "package/PackageExpander.h"

#include "archive/ZipReader.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

namespace {} // namespace

size_t PackageExpander::expand(const std::string& packagePath, const std::string& folder, bool force) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    if (hostpath::pathExists(folder) && !hostpath::folderExists(folder))
        throw Exception(Msg::ExpandFailed, packagePath, folder + " is not a folder");
    if (!force && hostpath::folderExists(folder) && !hostpath::folderEntries(folder).empty())
        throw Exception(Msg::ExpandFolderNotEmpty, folder);
    ZipReader reader;
    std::vector<std::string> written;
    if (!reader.open(packagePath) || !reader.extractAll(folder, written))
        throw Exception(Msg::ExpandFailed, packagePath, reader.errorText());
    return written.size();
}

void PackageExpander::expandCommand(const std::string& packagePath, const std::string& folder, bool force) {
    size_t count = expand(packagePath, folder, force);
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        ConsoleColorScope green(AttributeGreen);
        console->writeLine(
            formatStringId(Msg::Expanded, {static_cast<long long>(count), packagePath, folder}));
    }
}

} // namespace quendle
