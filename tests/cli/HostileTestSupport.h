#pragma once
// Runs of the built program on hostile or failing inputs, measured: exit code, output, wall time
// and the peak memory of the run, and what it left in its private temp folder.
#include "package/PackageTestSupport.h"

#include <algorithm>
#include <chrono>

namespace quendle::test {

struct MeasuredRun {
    int exitCode = -1;  // exit status, or 128 + signal
    std::string output; // standard output and error together
    double seconds = 0;
    long peakKiB = 0;                       // the largest resident set of the run's processes
    std::vector<std::string> tempLeftovers; // what the run left in its temp folder
};

// Runs argv (argv[0] a full path) with TMPDIR set to a fresh folder (or `tempFolder` when
// given) and NO_COLOR, stdin from /dev/null.
inline MeasuredRun runMeasured(const std::vector<std::string>& argv, const std::string& tempFolder = {}) {
    ScratchDir ownTemp;
    std::string temp = tempFolder.empty() ? ownTemp.path() : tempFolder;
    auto start = std::chrono::steady_clock::now();
    RunResult r = runProgram(argv, {{{"TMPDIR", temp}, {"NO_COLOR", "1"}}, ""});
    MeasuredRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = r.exitCode;
    run.peakKiB = r.peakKiB;
    run.output = r.out + r.err;
    if (fs::is_directory(temp))
        run.tempLeftovers = leftovers(temp);
    return run;
}

inline MeasuredRun runQuendleMeasured(const std::vector<std::string>& args,
                                      const std::string& tempFolder = {}) {
    std::vector<std::string> argv{quendleExe()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runMeasured(argv, tempFolder);
}

// Every regular file and link below a folder, relative to it: what a run may have left there.
inline std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_directory(ec))
            names.push_back(fs::relative(it->path(), folder, ec).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// True when the sanitizers are compiled in: their shadow memory makes resident sets larger.
constexpr bool sanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

// The demo package with the project's own tool, once per test program.
inline const std::string& demoPackage() {
    static ScratchDir dir;
    static std::string package = [] {
        std::string path = dir / "demo.appv";
        return makePackage(demoDir(), path) ? path : std::string();
    }();
    return package;
}

} // namespace quendle::test
