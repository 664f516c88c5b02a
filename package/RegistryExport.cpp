#include "util/strings/StringSystem.h"
#include "package/RegistryExport.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/Exception.h"
#include "core/ConsoleWriter.h"
#include "os/FileSystem.h"
#include "hive/RegFileWriter.h"
#include "hive/RegfReader.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

namespace {

enum Text : uint32_t {
    TextFailedToOpen = 136,
    TextPartUnreadable = 1441,
    TextHiveDamaged = 1449,
    TextNoHive = 1512,
    TextExported = 1514,
};

constexpr uint64_t MaxHiveBytes = 2ull << 30;

} // namespace

void exportRegistryCommand(const std::string& packagePath, const std::string& regFile) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    ZipCentralDirectory archive;
    if (!archive.read(packagePath, [](const std::string&) {}))
        throw Exception(TextFailedToOpen, packagePath);
    const ZipDirectoryEntry* hive = nullptr;
    for (const ZipDirectoryEntry& e : archive.entries())
        if (equalsIgnoreCaseAscii(e.name, RegistryPart))
            hive = &e;
    if (!hive)
        throw Exception(TextNoHive, packagePath);
    std::string bytes, why;
    if (!ZipEntryReader::readAll(archive, *hive, MaxHiveBytes, bytes, why))
        throw Exception(formatStringId(TextPartUnreadable, {RegistryPart, why}));
    std::shared_ptr<HiveTree> tree;
    try {
        tree = RegfReader::read(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    } catch (const std::exception& e) {
        throw Exception(formatStringId(TextHiveDamaged, {e.what()}));
    }
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
        console->writeLine(formatStringId(TextExported, {packagePath, regFile}));
    }
}

} // namespace quendle
