// Command-file bytes -> the command-file reader running each line against the real command
// table (handlers that only record). Covers the marker check, the three encodings, variable
// expansion, quoting, the line-length cap, -nofail and the presentation of every failure.
#include "core/ExceptionPresenter.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/RecordingCommandTable.h"
#include "cli/CommandFile.h"
#include "core/ConsoleWriter.h"

#include <cstdlib>

using namespace quendle;
using namespace quendle::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    ConsoleWriter::install();
    // Variables that lines may expand, so expansion has something to find.
    ::setenv("QUENDLE_FUZZ", "expanded value", 1);
    ::setenv("EMPTY", "", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScratchFolder& scratch = ScratchFolder::instance();
    const std::string path = scratch / "commands.txt";
    const std::string placeholder = scratch / "placeholder.appv";
    writeBytes(path, data, size);
    writeBytes(placeholder, nullptr, 0);

    RecordingCommandTable table(placeholder);
    // The last byte chooses -nofail, so both ways of ending a failed line are reached.
    bool noFail = size > 0 && (data[size - 1] & 1);
    try {
        CommandFile(CommandFileMarker, &table).run(path, noFail);
    } catch (...) {
        handleCurrentException();
    }
    return 0;
}
