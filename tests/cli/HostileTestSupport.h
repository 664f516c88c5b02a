#pragma once
// Helpers of the command-line tests: a fresh demo package per test, and runs of the built program
// on hostile or failing inputs, measured: exit code, output, wall time and the peak memory of the
// run, and what it left in its private temp folder.
#include "package/PackageTestSupport.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quendle::test {

// Root with mount namespaces: a test may then give a run a small file system of its own.
inline bool canMountPrivately() {
    static const bool can =
        geteuid() == 0 && runShell("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs /mnt'").exitCode == 0;
    return can;
}


struct MeasuredRun {
    int exitCode = -1;  // exit status, or 128 + signal
    std::string output; // standard output and error together
    std::string errors; // standard error alone
    double seconds = 0;
    long peakKiB = 0;                       // the largest resident set of the run's processes
    std::vector<std::string> tempLeftovers; // what the run left in its temp folder
};

// Runs argv with TMPDIR set to a fresh folder (or `tempFolder` when given), stdin from /dev/null,
// each text checked for the stream it goes to (runRouted); argv[0] is a program's full path, or a
// command ("/Update") of quendle.
inline MeasuredRun runMeasured(std::vector<std::string> argv, const std::string& tempFolder = {}) {
    if (argv[0].find('/', 1) == std::string::npos)
        argv.insert(argv.begin(), quendleExe());
    ScratchDir ownTemp;
    std::string temp = tempFolder.empty() ? ownTemp.path() : tempFolder;
    auto start = std::chrono::steady_clock::now();
    RunResult r = runRouted(argv, {{{"TMPDIR", temp}}, ""});
    MeasuredRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = r.exitCode;
    run.peakKiB = r.peakKiB;
    run.output = r.out + r.err;
    run.errors = r.err;
    if (fs::is_directory(temp))
        run.tempLeftovers = leftovers(temp);
    return run;
}

// How many files and links lie below a folder: what a run may have left there.
inline size_t filesBelow(const std::string& folder) {
    size_t count = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        count += !e.is_directory();
    return count;
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

// What hivexregedit exports of a hive file, or of a package's Registry.dat (read by unzip).
inline std::string hivexExport(const std::string& path) {
    if (path.ends_with(".appv")) {
        ScratchDir hive;
        writeFile(hive / "Registry.dat", entryBytes(path, "Registry.dat"));
        return hivexExport(hive / "Registry.dat");
    }
    return runProgram({"/usr/bin/hivexregedit", "--export", path, "\\"}).out;
}

// A package of the real Office manifest, file-system metadata and one of its hives, with the
// demo's other parts (and, when asked, its files), built from `folder`/sample-source.
inline std::string samplePackage(const std::string& folder, const std::string& hive, bool withFiles = false) {
    std::string samples = samplesDir() + "/andest22__MARI", source = folder + "/sample-source";
    fs::create_directories(source);
    fs::copy_file(samples + "/AppXManifest.xml", source + "/AppxManifest.xml");
    fs::copy_file(samples + "/FileSystemMetadata.xml", source + "/FilesystemMetadata.xml");
    fs::copy_file(samples + "/vreg/" + hive, source + "/Registry.dat");
    for (const char* part : {"PackageHistory.xml", "StreamMap.xml", "[Content_Types].xml"})
        fs::copy_file(demoDir() + "/" + part, source + "/" + part);
    if (withFiles)
        fs::copy(demoDir() + "/Root", source + "/Root", fs::copy_options::recursive);
    std::string package = folder + "/sample.appv";
    return makePackage(source, package) ? package : std::string();
}

// Replaces the first `what` in a file; a missing `what` fails the test.
inline void replaceInFile(const std::string& path, const std::string& what, const std::string& with) {
    std::string text = readFile(path);
    size_t at = text.find(what);
    ASSERT_NE(at, std::string::npos) << path << ": " << what;
    writeFile(path, text.replace(at, what.size(), with));
}

// A run that must succeed and leave its temp folder empty: its standard output and error.
inline std::string succeeded(const std::vector<std::string>& args, const RunOptions& options = {}) {
    QuendleRun run = runQuendle(args, options);
    EXPECT_EQ(run.result.exitCode, 0) << run.result.out << run.result.err;
    EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
    return run.result.out + run.result.err;
}

// An archive of the named entries as Python's zipfile writes them; false when it could not.
inline bool zipOf(const std::string& path, std::vector<std::string> namesAndTexts) {
    namesAndTexts.insert(namesAndTexts.begin(), path);
    return pythonRun("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                     "    for n, d in zip(sys.argv[2::2], sys.argv[3::2]): z.writestr(n, d)\n",
                     namesAndTexts)
        .empty();
}

// What a helper script of tests/cli says when it fails (with its exit code), or "" when it succeeds.
inline std::string scriptProblems(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/python3", sourceDir() + "/tests/cli/" + script};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = runProgram(argv);
    return r.exitCode == 0 ? "" : r.out + r.err + "(exit " + std::to_string(r.exitCode) + ")";
}

// A copy of a package with one defect planted by the independent helper.
inline std::string damagedCopy(const std::string& from, const std::string& out,
                               const std::vector<std::string>& defect) {
    std::vector<std::string> args{from, out};
    args.insert(args.end(), defect.begin(), defect.end());
    EXPECT_EQ(scriptProblems("damage_package.py", args), "");
    return out;
}

// A fresh copy of the demo package for each test, and runs that must leave their temp folder empty.
class DemoPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        package = dir / "demo.appv";
        ASSERT_TRUE(makePackage(demoDir(), package));
        original = stampOf(package);
    }

    QuendleRun quendle(const std::vector<std::string>& args) {
        QuendleRun run = runQuendle(args, runOptions);
        EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
        return run;
    }

    std::string saved(const std::vector<std::string>& args) { return succeeded(args, runOptions); }

    // "/Update <package>" and the words of `line`, where "+" stands for a space inside a word.
    std::vector<std::string> update(const std::string& line) {
        std::vector<std::string> args{"/Update", package};
        for (auto w : words(line))
            args.push_back((std::replace(w.begin(), w.end(), '+', ' '), w));
        return args;
    }

    void expectUntouched() { EXPECT_TRUE(stampOf(package) == original) << "the package file changed"; }

    ScratchDir dir;
    std::string package;
    FileStamp original;
    RunOptions runOptions;
};

} // namespace quendle::test
