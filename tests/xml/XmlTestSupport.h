#pragma once
#include "core/Exception.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace quendle::xmltest {

using test::haveSamples;
using test::readFile;
using test::samplesDir;
using test::writeFile;

// A private folder removed with everything in it when the test ends.
class TempFolder : public test::ScratchDir {
  public:
    std::string file(const std::string& name) const { return *this / name; }
};

inline std::string sample(const std::string& relative) {
    return samplesDir() + "/" + relative;
}

#define QUENDLE_REQUIRE_SAMPLES()                                                                            \
    if (!::quendle::xmltest::haveSamples())                                                                  \
    GTEST_SKIP() << "samples not available"

// Runs a shell command, returning its exit status and (merged) output.
inline int run(const std::string& command, std::string* output = nullptr) {
    test::RunResult result = test::runShell(command);
    if (output)
        *output = result.out;
    return result.exitCode;
}

inline std::string quoted(const std::string& s) {
    return test::shellQuote(s);
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
