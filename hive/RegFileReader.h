#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

// The root a key of a registry file names, long or short form (HKEY_LOCAL_MACHINE or HKLM).
enum class RegFileRoot { LocalMachine, CurrentUser, ClassesRoot, Users, CurrentConfig };

// One edit of a registry file, in file order.
struct RegFileEdit {
    enum class Kind { CreateKey, DeleteKeyTree, SetValue, DeleteValue };
    Kind kind;
    RegFileRoot root;
    std::string subkey;    // below the root, "\" separated, possibly empty
    std::string valueName; // "" for the default value (@)
    uint32_t type = 0;     // the registry type as written (hex(n) keeps all its bits)
    std::vector<uint8_t> data;
    int line = 0; // where the edit starts
};

// Reads a Windows registry file: "Windows Registry Editor Version 5.00" or "REGEDIT4", ANSI,
// UTF-8 or UTF-16 with a byte-order mark; comments (";"), line continuations ("\" at the end),
// "[-key]" deletions, "name"=- value deletions, @ for the default value, strings, dword: and
// every hex(n): type. In a REGEDIT4 file the bytes of string types are ANSI and become UTF-16.
// The whole file is read before anything is returned: a line that cannot be read raises message
// 1615 naming the file and line, so that a caller applies all of a file or none of it.
class RegFileReader {
  public:
    static std::vector<RegFileEdit> read(const std::string& path);
    // `name` is the file name the messages give.
    static std::vector<RegFileEdit> parse(std::string_view bytes, const std::string& name);

    // The largest file read (a registry export of a large hive is tens of megabytes).
    static constexpr uint64_t MaxFileSize = 256u << 20;
};

} // namespace quendle
