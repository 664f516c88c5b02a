#pragma once
// Shared pieces of the fuzz targets: a private scratch folder per process, input files written
// from the fuzzer's bytes, and quiet standard output (the targets print change lines and errors
// that would drown libFuzzer's own report, which goes to standard error).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace quendle::fuzz {

namespace fs = std::filesystem;

// Removed when the process ends normally; a crashed run leaves it for inspection.
class ScratchFolder {
  public:
    static ScratchFolder& instance() {
        static ScratchFolder folder;
        return folder;
    }
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

    // Names in the scratch folder other than `allowed`: anything else was written by mistake.
    std::vector<std::string> strangers(const std::vector<std::string>& allowed) const {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(path_, ec)) {
            std::string name = entry.path().filename().string();
            bool known = false;
            for (const auto& a : allowed)
                known = known || a == name;
            if (!known)
                found.push_back(name);
        }
        return found;
    }

    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

  private:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/quendle-fuzz-XXXXXX";
        if (!::mkdtemp(templ.data()))
            std::abort();
        path_ = templ;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string path_;
};

inline void writeBytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

inline void silenceStandardOutput() {
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
}

// The input cut at every occurrence of `separator`: the fields the target takes apart.
inline std::vector<std::string> splitInput(const uint8_t* data, size_t size, char separator) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator)
            fields.emplace_back();
        else
            fields.back().push_back(static_cast<char>(data[i]));
    }
    return fields;
}

} // namespace quendle::fuzz
