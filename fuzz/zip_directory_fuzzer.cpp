// Archive bytes -> the record-by-record reading that /Verify, /Info and /Export-Registry rely
// on, then every entry streamed. Besides the sanitizers: every entry the reading keeps lies
// inside the file, and no entry streams more bytes than it declares.
#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "fuzz/FuzzSupport.h"

using namespace quendle;
using namespace quendle::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archivePath = ScratchFolder::instance() / "input.zip";
    writeBytes(archivePath, data, size);
    ZipCentralDirectory archive;
    size_t problems = 0;
    if (!archive.read(archivePath, [&](const VerifyProblem& problem) {
            if (problem.text().empty())
                std::abort(); // a problem without words
            ++problems;
        }))
        return 0;
    for (const ZipDirectoryEntry& entry : archive.entries()) {
        if (entry.localHeaderSize && entry.dataOffset + entry.stored.compressedSize > archive.fileSize())
            std::abort(); // kept an entry that lies beyond the file
        uint64_t streamed = 0;
        Failure why;
        ZipEntryReader::read(
            archive, entry, {},
            [&](const uint8_t*, size_t n) {
                streamed += n;
                return streamed <= entry.stored.size || (std::abort(), false);
            },
            why);
    }
    return 0;
}
