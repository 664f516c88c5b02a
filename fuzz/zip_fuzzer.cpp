// Archive bytes -> extraction into a fresh folder. Besides the sanitizers, two promises are
// checked: nothing is written outside the destination, and every file reported as extracted is
// a regular file inside it.
#include "archive/ZipReader.h"
#include "fuzz/FuzzSupport.h"

#include <sys/stat.h>

using namespace quendle;
using namespace quendle::fuzz;

namespace {

// Small enough that a bomb in the corpus costs milliseconds, large enough for real entries.
constexpr uint64_t ExtractionLimit = 8u << 20;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScratchFolder& scratch = ScratchFolder::instance();
    const std::string archive = scratch / "input.zip";
    const std::string destination = scratch / "out";
    writeBytes(archive, data, size);
    fs::create_directory(destination);

    std::vector<std::string> extracted;
    bool ok = ZipReader::extract(archive, destination, nullptr, extracted, ExtractionLimit);

    if (!scratch.strangers({"input.zip", "out"}).empty())
        std::abort(); // written beside the destination
    for (const std::string& file : extracted) {
        if (file.compare(0, destination.size() + 1, destination + "/") != 0)
            std::abort();
        struct stat st = {};
        if (ok && (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)))
            std::abort(); // reported but not a regular file
    }
    std::error_code ec;
    fs::remove_all(destination, ec);
    return 0;
}
