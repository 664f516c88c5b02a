#include "package/PackageVerifier.h"

#include "archive/ZipCentralDirectory.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/BlockMapCheck.h"
#include "package/PackagePartsCheck.h"
#include "util/strings/MessageFormat.h"

namespace quendle {

namespace {

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
            problems.push_back(formatStringId(Msg::VerifyCannotOpen, {packagePath}));
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
            formatStringId(Msg::ProblemsFound, {packagePath, static_cast<long long>(problems.size())}));
    writeLine(formatStringId(Msg::PackageSound, {packagePath}), AttributeGreen);
}

} // namespace quendle
