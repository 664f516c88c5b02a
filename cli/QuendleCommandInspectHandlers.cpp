#include "cli/QuendleCommandContainer.h"

#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/PackageExpander.h"
#include "package/PackageInfo.h"
#include "package/PackageVerifier.h"
#include "package/RegistryExport.h"
#include "util/strings/StringSystem.h"

#include <string_view>

namespace quendle {

namespace {

// The parser always delivers one value per parameter; anything else is an internal fault.
void checkCount(const CommandValues& values, size_t expected) {
    if (values.size() != expected)
        throw Exception(Msg::UnexpectedException);
}

std::string hostPath(const std::string& typed) {
    return typed.empty() ? typed : hostpath::normalizePath(typed);
}

} // namespace

uint32_t QuendleCommandContainer::verify(const CommandValues& values) {
    checkCount(values, 1);
    PackageVerifier::verifyCommand(hostPath(values[0]));
    return 0;
}

uint32_t QuendleCommandContainer::info(const CommandValues& values) {
    checkCount(values, 3);
    PackageInfo::infoCommand(hostPath(values[0]), values[1] == "true", values[2] == "true");
    return 0;
}

uint32_t QuendleCommandContainer::expand(const CommandValues& values) {
    checkCount(values, 3);
    PackageExpander::expandCommand(hostPath(values[0]), hostPath(values[1]), values[2] == "true");
    return 0;
}

uint32_t QuendleCommandContainer::exportRegistry(const CommandValues& values) {
    checkCount(values, 2);
    exportRegistryCommand(hostPath(values[0]), hostPath(values[1]));
    return 0;
}

bool QuendleCommandContainer::writesDataToStandardOutput(int argc, char** argv) {
    if (argc < 3)
        return false;
    std::string_view command = argv[1];
    if (!command.empty())
        command.remove_prefix(1);
    if (equalsIgnoreCaseAscii(command, "Export-Registry"))
        return argc == 3;
    if (equalsIgnoreCaseAscii(command, "Info")) {
        for (int i = 2; i < argc; ++i)
            if (equalsIgnoreCaseAscii(argv[i], "-json"))
                return true;
    }
    return false;
}

} // namespace quendle
