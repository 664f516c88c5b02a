#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace quendle::test {

namespace fs = std::filesystem;

// A fresh folder under the temp folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "quendle-archive-XXXXXX").string();
        path_ = mkdtemp(templ.data()) ? templ : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string randomBytes(size_t n, uint32_t seed = 1) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

// Text that deflate compresses well but not trivially.
inline std::string compressibleText(size_t n) {
    std::string s;
    for (size_t k = 0; s.size() < n; ++k)
        s += "line " + std::to_string(k * 7919 % 1000) + " of the sample text\n";
    s.resize(n);
    return s;
}

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

// Runs a shell command, capturing standard output and standard error together.
inline CommandResult run(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        result.output.append(buf, n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline bool haveTool(const std::string& tool) {
    return run("command -v " + tool).exitCode == 0;
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline uint16_t le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
inline uint32_t le32(const std::string& b, size_t at) {
    return le16(b, at) | static_cast<uint32_t>(le16(b, at + 2)) << 16;
}
inline uint64_t le64(const std::string& b, size_t at) {
    return le32(b, at) | static_cast<uint64_t>(le32(b, at + 4)) << 32;
}

inline std::string verifierPath() {
    return std::string(QUENDLE_SOURCE_DIR) + "/tests/archive/verify_appv.py";
}

} // namespace quendle::test
