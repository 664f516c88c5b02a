#include "package/RegistryExport.h"
#include "util/strings/StringSystem.h"

#include "archive/ZipCentralDirectory.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "hive/RegFileWriter.h"
#include "package/ArchivedParts.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

void exportRegistryCommand(const std::string& packagePath, const std::string& regFile) {
    ZipCentralDirectory archive;
    ArchivedParts::open(archive, packagePath);
    const ZipDirectoryEntry* hive = ArchivedParts::find(archive, RegistryPart);
    if (!hive)
        throw Exception(Msg::RegistryMissing, packagePath);
    std::shared_ptr<HiveTree> tree = ArchivedParts::hive(archive, *hive);
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
