#include "package/PackageVerifier.h"

#include "archive/ZipCentralDirectory.h"
#include "core/Exception.h"
#include "core/ConsoleWriter.h"
#include "os/FileSystem.h"
#include "package/BlockMapCheck.h"
#include "package/PackagePartsCheck.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

namespace {

enum Text : uint32_t {
    TextCannotOpen = 1460,
    TextSound = 1461,
    TextProblemsFound = 1462,
};

void writeLine(const std::string& line, uint16_t colour) {
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        ConsoleColorScope scope(colour);
        console->writeLine(line);
    }
}

} // namespace

std::vector<std::string> PackageVerifier::check(const std::string& packagePath) {
    std::vector<std::string> problems;
    auto problem = [&](const std::string& text) { problems.push_back(text); };
    ZipCentralDirectory archive;
    if (!archive.read(packagePath, problem)) {
        if (problems.empty())
            problems.push_back(formatStringId(TextCannotOpen, {packagePath}));
        return problems;
    }
    BlockMapCheck::run(archive, problem);
    PackagePartsCheck::run(archive, problem);
    return problems;
}

void PackageVerifier::verifyCommand(const std::string& packagePath) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    std::vector<std::string> problems = check(packagePath);
    for (const std::string& p : problems)
        writeLine(p, AttributeBrightRed);
    if (!problems.empty())
        throw Exception(
            formatStringId(TextProblemsFound, {packagePath, static_cast<long long>(problems.size())}));
    writeLine(formatStringId(TextSound, {packagePath}), AttributeGreen);
}

} // namespace quendle
