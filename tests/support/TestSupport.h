#pragma once
// Helpers shared by the test areas: temporary folders, whole-file reads and writes, and running
// programs (the independent verifiers, the project's own executables) without a shell's quirks.
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "core/ExceptionPresenter.h"
#include "support/TestPlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace quendle::test {

namespace fs = std::filesystem;

// What `action` writes on standard output (or, with `errors`, on standard error) through the
// console writers; an exception passes through with the capture ended.
inline std::string printed(const std::function<void()>& action, bool errors = false) {
    ConsoleWriter::install();
    errors ? testing::internal::CaptureStderr() : testing::internal::CaptureStdout();
    auto captured = [errors] {
        return errors ? testing::internal::GetCapturedStderr() : testing::internal::GetCapturedStdout();
    };
    try {
        action();
    } catch (...) {
        captured();
        throw;
    }
    return captured();
}

// A fresh folder, removed with everything in it.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& parent = {}) : path_(platform::makeScratchFolder(parent)) {}
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(fs::u8path(path_), ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Creates the missing folders on the way.
inline void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::u8path(path).parent_path());
    std::ofstream(fs::u8path(path), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// For EXPECT_HAS and EXPECT_LACKS: a failure shows the whole text that was searched.
inline ::testing::AssertionResult holdsText(const char* textExpr, const char* partExpr,
                                            const std::string& text, const std::string& part, bool wanted) {
    if (contains(text, part) == wanted)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << textExpr << (wanted ? " lacks " : " holds ") << partExpr << " \"" << part << "\" in:\n"
           << text;
}
inline ::testing::AssertionResult holdsPart(const char* t, const char* p, const std::string& text,
                                            const std::string& part) {
    return holdsText(t, p, text, part, true);
}
inline ::testing::AssertionResult lacksPart(const char* t, const char* p, const std::string& text,
                                            const std::string& part) {
    return holdsText(t, p, text, part, false);
}
#define EXPECT_HAS(text, part) EXPECT_PRED_FORMAT2(::quendle::test::holdsPart, text, part)
#define EXPECT_LACKS(text, part) EXPECT_PRED_FORMAT2(::quendle::test::lacksPart, text, part)

inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Arguments written as one line, split at single spaces (an argument with a space is added apart).
inline std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    for (size_t start = 0, end; start <= line.size(); start = end + 1) {
        end = std::min(line.find(' ', start), line.size());
        out.push_back(line.substr(start, end - start));
    }
    return out;
}

inline std::string sourceDir() {
    return QUENDLE_SOURCE_DIR;
}
inline std::string samplesDir() {
    return sourceDir() + "/../shared/samples";
}
inline bool haveSamples() {
    return fs::exists(samplesDir() + "/andest22__MARI/AppXManifest.xml");
}

// Incompressible bytes, the same for the same seed.
inline std::string randomBytes(size_t n, uint32_t seed = 1) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

// The message of the exception that `action` raises, or "" when it raises none.
inline std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.message();
    }
    return {};
}

struct RunResult {
    int exitCode = -1; // the process's exit status, or 128 + signal
    std::string out;
    std::string err;
    long peakKiB = 0; // the largest resident set of the program (its own, not ours)
};

struct RunOptions {
    std::map<std::string, std::string> env; // set (or, with an empty value, removed)
    std::string workingDir;
};

// Runs a program without a shell; standard output and error are captured through files so that
// a large output never blocks the child.
inline RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options = {}) {
    RunResult result;
    ScratchDir capture;
    std::string outPath = capture / "out", errPath = capture / "err";
    std::map<std::string, std::string> env = platform::environment();
    env.erase("CLICOLOR_FORCE");
    for (const auto& [k, v] : options.env) {
        if (v.empty())
            env.erase(k);
        else
            env[k] = v;
    }
    platform::Finished finished = platform::run(argv, env, options.workingDir, outPath, errPath);
    result.exitCode = finished.exitCode;
    result.peakKiB = finished.peakKiB;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

// Runs a shell command line, capturing both streams together in `out`.
inline RunResult runShell(const std::string& command) {
    return runProgram({"/bin/sh", "-c", command + " 2>&1"});
}

// The standard output of a Python script given `args`, with its error text when it failed.
inline std::string pythonRun(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/python3", "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = runProgram(argv);
    return r.exitCode == 0 ? r.out : r.out + r.err + "(exit " + std::to_string(r.exitCode) + ")";
}

// Whether a verifier is installed; tests that need one skip their check without it.
inline bool haveTool(const std::string& tool) {
    return runShell("command -v " + shellQuote(tool)).exitCode == 0;
}

// What `f` makes of each input, joined by "|": one comparison for a row of cases.
template <typename F> std::string each(F f, std::initializer_list<std::string> inputs) {
    std::string out;
    for (const std::string& in : inputs)
        out += (out.empty() ? "" : "|") + std::string(f(in));
    return out;
}

// The exception of type E a statement throws, for checks on its message, code and records.
template <typename E, typename F> E thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "expected an exception";
    throw std::runtime_error("no exception");
}

// Sets or (with nullptr) unsets an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr) {
        if (had_)
            old_ = std::getenv(name);
        platform::setEnvironment(name, value);
    }
    ~ScopedEnv() { platform::setEnvironment(name_, had_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    bool had_;
    std::string old_;
};

// The console writes colours while it lives.
struct ColorsOn {
    ColorsOn() {
        ConsoleWriter::install();
        ConsoleWriter::installed()->setColorsEnabled(true);
        ConsoleWriter::errors()->setColorsEnabled(true);
    }
    ~ColorsOn() {
        ConsoleWriter::installed()->setColorsEnabled(false);
        ConsoleWriter::errors()->setColorsEnabled(false);
    }
};

// The exception a call throws, presented as the program would present it: on standard error.
// Standard output must stay empty, unless `out` takes what the call printed there.
template <typename F>
std::string presentedError(F&& f, uint32_t* code = nullptr, std::string* printedOut = nullptr) {
    bool raised = false;
    std::string out;
    std::string errors = printed(
        [&] {
            out = printed([&] {
                try {
                    f();
                } catch (...) {
                    raised = true;
                    uint32_t c = handleCurrentException();
                    if (code)
                        *code = c;
                }
            });
        },
        true);
    EXPECT_TRUE(raised) << "no exception";
    if (printedOut)
        *printedOut = out;
    else
        EXPECT_EQ(out, "") << "presented on standard output";
    return errors;
}

} // namespace quendle::test
