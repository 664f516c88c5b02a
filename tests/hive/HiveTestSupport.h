#pragma once
#include "os/hive/HiveTree.h"
#include "os/hive/RegfWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace quendle::test {

namespace fs = std::filesystem;

// A fresh folder under the temp folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "quendle-hive-XXXXXX").string();
        path_ = mkdtemp(templ.data()) ? templ : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

// The real hives of the samples folder, or "" when the folder is absent.
inline std::string sampleHive(const std::string& name) {
    fs::path p =
        fs::path(QUENDLE_SOURCE_DIR) / ".." / "shared" / "samples" / "andest22__MARI" / "vreg" / name;
    return fs::exists(p) ? p.string() : std::string();
}
inline const char* OfficeHive = "office.x-none.msi.16.x-none.vreg.dat";
inline const char* ProofHive = "proof.en-us.msi.16.en-us.vreg.dat";

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> hiveBytes(const HiveTree& tree) {
    std::vector<uint8_t> out;
    RegfWriter::write(tree, [&](std::span<const uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); });
    return out;
}

struct CommandResult {
    int status = -1;
    std::string output; // standard output and standard error
};

// Runs a shell command line; the tools are verifiers, never part of the program.
inline CommandResult run(const std::string& command) {
    CommandResult r;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    if (!pipe)
        return r;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0)
        r.output.append(buf, n);
    int status = pclose(pipe.release());
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline bool haveTool(const std::string& name) {
    return run("command -v " + name).status == 0;
}

inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace quendle::test
