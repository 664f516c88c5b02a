#pragma once
#include "core/Exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace quendle::xmltest {

// A private folder removed with everything in it when the test ends.
class TempFolder {
  public:
    TempFolder() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("quendle-xml-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string samplesDir() {
    return std::string(QUENDLE_SOURCE_DIR) + "/../shared/samples";
}

inline std::string sample(const std::string& relative) {
    return samplesDir() + "/" + relative;
}

inline bool haveSamples() {
    return std::filesystem::exists(sample("andest22__MARI/AppXManifest.xml"));
}

#define QUENDLE_REQUIRE_SAMPLES()                                                                            \
    if (!::quendle::xmltest::haveSamples())                                                                  \
    GTEST_SKIP() << "samples not available"

// Runs a shell command, returning its exit status and (merged) output.
inline int run(const std::string& command, std::string* output = nullptr) {
    std::string text;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// The exception a statement throws, for checks on its message, code and records.
template <typename E, typename F> E thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "expected an exception";
    throw std::runtime_error("no exception");
}

} // namespace quendle::xmltest
