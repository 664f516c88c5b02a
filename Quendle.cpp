#include "core/ExceptionHandling.h"
#include "core/ExceptionPresenter.h"
#include "os/ConsoleWriter.h"

#include <cstdio>

using namespace quendle;

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fputs("Quendle\n", stdout);
    try {
        installFaultHandlers();
        ConsoleWriter::install();
        return 0;
    } catch (...) {
        return static_cast<int>(handleCurrentException());
    }
}
