// Feeds arbitrary bytes to the .reg reader. It either refuses the file with its message or
// returns edits that are well formed: a value name and data only on value edits, and a line.
// (hex(4): may carry any number of bytes, as regedit stores them.)
#include "core/Exception.h"
#include "hive/RegFileReader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace quendle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<RegFileEdit> edits;
    try {
        edits = RegFileReader::parse(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.reg");
    } catch (const IException&) {
        return 0;
    }
    for (const RegFileEdit& edit : edits) {
        const bool isValue =
            edit.kind == RegFileEdit::Kind::SetValue || edit.kind == RegFileEdit::Kind::DeleteValue;
        if (!isValue && (!edit.valueName.empty() || !edit.data.empty()))
            std::abort();
        if (edit.line < 1)
            std::abort();
    }
    return 0;
}
