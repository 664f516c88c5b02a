#pragma once
// Helpers of the package and end-to-end tests: the project's own executables and the independent
// verifiers a saved package must pass.
#include "core/ConsoleWriter.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

namespace quendle::test {

// QUENDLE_TEST_EXE in the environment runs another build through the same tests, e.g.
// tools/wine-quendle for the Windows program.
inline std::string quendleExe() {
    const char* other = std::getenv("QUENDLE_TEST_EXE");
    return other && *other ? other : QUENDLE_EXE;
}
// The program built here, not another build such as the Windows one under Wine: POSIX
// permissions and symbolic links are its own.
inline bool builtHere() {
    return quendleExe() == std::string(QUENDLE_EXE);
}
// The tools are built beside the program built here (the one under test may be another).
inline std::string toolPath(const std::string& name) {
    return (fs::path(QUENDLE_TOOLS_DIR) / name).string();
}

// Every independent check a package must pass; empty when all agree, otherwise what failed.
inline std::string verifyPackage(const std::string& package) {
    std::string failures;
    auto check = [&](const std::string& what, const std::string& command) {
        RunResult r = runShell(command);
        if (r.exitCode != 0)
            failures += what + " failed:\n" + r.out + "\n";
    };
    check("unzip -t", "unzip -t -qq " + shellQuote(package));
    check("7z t", "7z t -bd " + shellQuote(package) + " >/dev/null");
    check("python zipfile", "/usr/bin/python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                            "sys.exit(z.testzip() is not None)' " +
                                shellQuote(package));
    check("block map", "/usr/bin/python3 " + shellQuote(sourceDir() + "/tests/archive/verify_appv.py") + " " +
                           shellQuote(package));
    return failures;
}

// Python's answer about one XML part of a package: `code` runs with the part's root element as
// `r`; its output and any error text are returned.
inline std::string queryPart(const std::string& package, const std::string& part, const std::string& code) {
    RunResult r = runProgram({"/usr/bin/python3", "-c",
                              "import sys, zipfile, xml.etree.ElementTree as E\n"
                              "r = E.fromstring(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))\n" +
                                  code,
                              package, part});
    return r.out + r.err;
}

// The bytes of one entry, read by unzip (not by our reader).
inline std::string entryBytes(const std::string& package, const std::string& entry) {
    return runProgram({"/usr/bin/unzip", "-p", package, entry}).out;
}

// Entry names in archive order, as Python's zipfile lists them.
inline std::vector<std::string> entryNames(const std::string& package) {
    RunResult r = runProgram(
        {"/usr/bin/python3", "-c",
         "import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): print(n)", package});
    std::vector<std::string> names;
    for (size_t start = 0, nl; start < r.out.size(); start = nl + 1) {
        nl = std::min(r.out.find('\n', start), r.out.size());
        names.push_back(r.out.substr(start, nl - start));
    }
    return names;
}

struct FileStamp {
    std::string bytes;
    fs::file_time_type mtime{};
    fs::perms mode = fs::perms::none;
    bool operator==(const FileStamp&) const = default;
};

// The bytes, modification time and permissions: what "untouched" means for a package.
inline FileStamp stampOf(const std::string& path) {
    FileStamp s;
    s.bytes = readFile(path);
    std::error_code ec;
    s.mtime = fs::last_write_time(fs::u8path(path), ec);
    s.mode = fs::status(fs::u8path(path), ec).permissions();
    return s;
}

// Names left in a folder (the temp folder a run was given must be empty afterwards).
inline std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Builds a package with the project's own tool from a folder laid out like demo/.
inline bool makePackage(const std::string& sourceFolder, const std::string& package) {
    RunResult r = runProgram({toolPath("make_demo_package"), sourceFolder, package});
    if (r.exitCode != 0)
        std::fprintf(stderr, "make_demo_package failed:\n%s%s\n", r.out.c_str(), r.err.c_str());
    return r.exitCode == 0;
}

inline std::string demoDir() {
    return sourceDir() + "/demo";
}

inline const char* const DisplayNameXPath = "//appx:Properties/appx:DisplayName";

// The demo package with an incompressible payload of `bytes`, built in `dir`.
inline std::string packageWithPayload(const ScratchDir& dir, size_t bytes,
                                      const std::string& name = "pkg.appv") {
    std::string source = dir / "source";
    fs::copy(demoDir(), source, fs::copy_options::recursive);
    writeFile(source + "/Root/VFS/ProgramFilesX86/Demo Notes/payload.bin", randomBytes(bytes, 11));
    std::string package = dir / name;
    if (!makePackage(source, package))
        package.clear();
    fs::remove_all(source);
    return package;
}

// Writes a command file in the "ANSI" form with its marker line.
inline void writeCommandFile(const std::string& path, const std::vector<std::string>& lines) {
    std::string text = ";qdc test commands\n";
    for (const auto& l : lines)
        text += l + "\n";
    writeFile(path, text);
}

// Runs the program with a private temp folder, which must be empty again afterwards.
struct QuendleRun {
    RunResult result;
    std::vector<std::string> tempLeftovers;
};

// Runs the program with colours forced unless `options` sets them itself, and checks that every
// red text (an error) went to standard error and every green one (a change or success line) to
// standard output; the colours are then taken out for the test's own checks. /Verify alone
// prints red lines on standard output: its report of the package's problems.
inline RunResult runRouted(const std::vector<std::string>& argv, RunOptions options) {
    const bool ownColours = options.env.count("NO_COLOR") || options.env.count("CLICOLOR_FORCE");
    if (!ownColours)
        options.env["CLICOLOR_FORCE"] = "1", options.env["NO_COLOR"] = "";
    RunResult r = runProgram(argv, options);
    if (ownColours)
        return r;
    const bool verify = std::find(argv.begin(), argv.end(), "/Verify") != argv.end();
    if (!verify) {
        EXPECT_LACKS(r.out, "\x1b[91m") << "an error on standard output";
    }
    EXPECT_LACKS(r.err, "\x1b[32m") << "a change or success line on standard error";
    for (std::string* text : {&r.out, &r.err})
        for (size_t at; (at = text->find("\x1b[")) != std::string::npos;)
            text->erase(at, text->find('m', at) + 1 - at);
    return r;
}

inline QuendleRun runQuendle(const std::vector<std::string>& args, const RunOptions& base = {}) {
    ScratchDir tmp;
    RunOptions options = base;
    options.env["TMPDIR"] = tmp.path();
    options.env["TMP"] = options.env["TEMP"] = tmp.path(); // what Windows reads
    std::vector<std::string> argv{quendleExe()};
    argv.insert(argv.end(), args.begin(), args.end());
    QuendleRun run;
    run.result = runRouted(argv, options);
    run.tempLeftovers = leftovers(tmp.path());
    return run;
}

} // namespace quendle::test
