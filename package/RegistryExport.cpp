#include "package/RegistryExport.h"
#include "util/strings/StringSystem.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "hive/RegFileWriter.h"
#include "os/FileSystem.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

namespace {

constexpr uint64_t MaxHiveBytes = 2ull << 30;

} // namespace

void exportRegistryCommand(const std::string& packagePath, const std::string& regFile) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    ZipCentralDirectory archive;
    if (!archive.read(packagePath, [](const VerifyProblem&) {}))
        throw Exception(Msg::PackageOpenFailed, packagePath);
    const ZipDirectoryEntry* hive = nullptr;
    for (const ZipDirectoryEntry& e : archive.entries())
        if (equalsIgnoreCaseAscii(e.name, RegistryPart))
            hive = &e;
    if (!hive)
        throw Exception(Msg::RegistryMissing, packagePath);
    std::string bytes, why;
    if (!ZipEntryReader::readAll(archive, *hive, MaxHiveBytes, bytes, why))
        throw Exception(formatStringId(Msg::PartUnreadable, {RegistryPart, why}));
    std::shared_ptr<HiveTree> tree = OfflineRegHive::ReadImage(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    ConsoleWriter* console = ConsoleWriter::installed();
    if (regFile.empty()) {
        if (console)
            RegFileWriter::write(
                *tree, [&](std::string_view text) { console->write(text); }, "\n");
        return;
    }
    RegFileWriter::writeFile(*tree, regFile);
    if (console) {
        ConsoleColorScope green(AttributeGreen);
        console->writeLine(formatStringId(Msg::RegistryExported, {packagePath, regFile}));
    }
}

} // namespace quendle
