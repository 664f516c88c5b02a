#pragma once
// What the test helpers need of the system; a POSIX body and a Windows one (run under Wine).
#include <map>
#include <string>
#include <vector>

namespace quendle::test {

// One word for /bin/sh, whatever it holds.
inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace quendle::test

namespace quendle::test::platform {

// A new folder under `parent` (the system's temporary folder when empty), "" when none could be
// made. Its path uses "/" as separator on every platform.
std::string makeScratchFolder(const std::string& parent);

// Sets, or with nullptr removes, a variable of this process's environment.
void setEnvironment(const char* name, const char* value);
std::map<std::string, std::string> environment();

// The largest resident set of this process so far, in KiB.
long peakKiBOfThisProcess();

struct Finished {
    int exitCode = -1; // the exit status, 128 + signal, or -1 when the program did not start
    long peakKiB = 0;  // its largest resident set, where the platform tells
};
// Runs argv[0] (a path) with `env` as its whole environment, standard input empty and the two
// output streams written to the files named.
Finished run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& workingDir, const std::string& outPath, const std::string& errPath);

} // namespace quendle::test::platform
