#include "cli/QuendleCommandContainer.h"
#include "core/ConsoleWriter.h"
#include "core/ExceptionPresenter.h"
#include "os/ExceptionHandling.h"
#include "os/UniqueFd.h"
#include "package/AppV5Package.h"

#include <csignal>
#include <cstdio>

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
    std::signal(SIGPIPE, SIG_IGN);
    installFaultHandlers();
    printBanner();
    try {
        // The one package of the run outlives the container; its destructor removes the workspace.
        AppV5Package package;
        QuendleCommandContainer container(&package);
        ConsoleWriter::install(standardOutputIsTerminal());
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
