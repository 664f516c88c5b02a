#include "cli/QuendleCommandContainer.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "core/ExceptionPresenter.h"
#include "core/ProgressLine.h"
#include "os/ExceptionHandling.h"
#include "os/SignalCleanup.h"
#include "os/UniqueFd.h"
#include "package/AppV5Package.h"

#include <cstdio>
#include <string_view>
#include <vector>

#ifndef QUENDLE_VERSION
#define QUENDLE_VERSION "1.0.0"
#endif

using namespace quendle;

namespace {

// The only text written before the console writer takes over.
void printBanner() {
    std::fputs("Quendle " QUENDLE_VERSION " - App-V 5.x package editor\n\n", stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output must end the run as a failed write, not silently kill it.
    SignalCleanup::ignoreBrokenPipe();
    // "-quiet" before the command turns the progress lines off; in that place it never meant
    // anything else (a command name starts there).
    std::vector<char*> quietArgv;
    if (argc > 1 && argv[1] &&
        (std::string_view(argv[1]) == "-quiet" || std::string_view(argv[1]) == "--quiet")) {
        ProgressLine::setQuiet(true);
        quietArgv.assign(argv, argv + argc + 1);
        quietArgv.erase(quietArgv.begin() + 1);
        argv = quietArgv.data();
        --argc;
    }
    // The options every Linux tool answers, recognised only as the first argument so that no
    // command line that meant something before changes its meaning.
    const std::string_view first = argc > 1 && argv[1] ? argv[1] : "";
    if (first == "--version") {
        std::fputs("quendle " QUENDLE_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : static_cast<int>(GenericErrorCode);
    }
    std::vector<char*> helpArgv;
    if (first == "--help" || first == "-h") {
        static char helpCommand[] = "/Help";
        helpArgv.assign(argv, argv + argc + 1);
        helpArgv[1] = helpCommand;
        argv = helpArgv.data();
    }
    installFaultHandlers();
    if (!QuendleCommandContainer::writesDataToStandardOutput(argc, argv))
        printBanner();
    try {
        // The one package of the run outlives the container; its destructor removes the workspace.
        AppV5Package package;
        QuendleCommandContainer container(&package);
        ConsoleWriter::install(standardOutputIsTerminal(), standardErrorIsTerminal());
        try {
            return static_cast<int>(container.run(argc, argv));
        } catch (...) {
            // Presented while the container lives: a command-line error shows its usage.
            return static_cast<int>(handleCurrentException());
        }
    } catch (...) {
        return static_cast<int>(handleCurrentException());
    }
}
