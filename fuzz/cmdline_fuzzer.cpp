// Bytes -> argv (arguments separated by NUL bytes) -> the container's run with the real command
// table (handlers that only record, /Update splitting its sub-commands for real). Every failure
// is presented as the program would present it.
#include "core/ExceptionPresenter.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/RecordingCommandTable.h"
#include "core/ConsoleWriter.h"

using namespace quendle;
using namespace quendle::fuzz;

namespace {

// Beyond this many arguments nothing new is reached; it keeps single runs fast.
constexpr size_t MaxArguments = 256;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    ConsoleWriter::install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScratchFolder& scratch = ScratchFolder::instance();
    const std::string placeholder = scratch / "placeholder.appv";
    writeBytes(placeholder, nullptr, 0);

    std::vector<std::string> arguments = splitInput(data, size, '\0');
    if (arguments.size() > MaxArguments)
        return 0;
    arguments.insert(arguments.begin(), "quendle");
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    RecordingCommandTable table(placeholder);
    try {
        table.run(static_cast<int>(arguments.size()), argv.data());
    } catch (...) {
        handleCurrentException();
    }
    return 0;
}
