#include "cli/QuendleCommandContainer.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "core/ExceptionPresenter.h"
#include "os/ConsoleSetup.h"
#include "os/ExceptionHandling.h"
#include "os/SignalCleanup.h"
#include "os/FileHandle.h"
#include "package/AppV5Package.h"

#include <cstdio>

#ifndef QUENDLE_VERSION
#define QUENDLE_VERSION "1.0.0"
#endif

using namespace quendle;

namespace {

// Written through stdio and flushed at once, before the command writes anything.
void printBanner() {
    std::fputs("Quendle " QUENDLE_VERSION " - App-V 5.x package editor\n\n", stdout);
    std::fflush(stdout);
}

uint32_t printVersion() {
    std::fputs("quendle " QUENDLE_VERSION "\n", stdout);
    return std::fflush(stdout) == 0 ? 0 : GenericErrorCode;
}

} // namespace

int main(int argc, char** argv) {
    // Before anything is read or written: the console's arguments, text and line ends.
    prepareConsole(argc, argv);
    // A closed pipe on standard output must end the run as a failed write, not silently kill it.
    SignalCleanup::ignoreBrokenPipe();
    installFaultHandlers();
    try {
        // The one package of the run outlives the container; its destructor removes the workspace.
        AppV5Package package;
        QuendleCommandContainer container(&package);
        container.setProgramOutput({printBanner, printVersion});
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
