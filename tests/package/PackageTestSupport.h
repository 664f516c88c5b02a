#pragma once
// Helpers of the package and end-to-end tests: temporary folders, running programs, and the
// independent verifiers a saved package must pass.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quendle::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& parent = fs::temp_directory_path().string()) {
        std::string templ = parent + "/quendle-test-XXXXXX";
        path_ = mkdtemp(templ.data()) ? templ : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
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
inline std::string quendleExe() {
    return QUENDLE_EXE;
}
// The tools are built beside the program.
inline std::string toolPath(const std::string& name) {
    return (fs::path(QUENDLE_EXE).parent_path() / name).string();
}

struct RunResult {
    int exitCode = -1; // the process's exit status, or 128 + signal
    std::string out;
    std::string err;
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!options.workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env.erase("CLICOLOR_FORCE");
    for (const auto& [k, v] : options.env) {
        if (v.empty())
            env.erase(k);
        else
            env[k] = v;
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& s : argCopy)
        args.push_back(s.data());
    args.push_back(nullptr);

    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

// Runs a shell command line, capturing both streams together.
inline RunResult runShell(const std::string& command) {
    return runProgram({"/bin/sh", "-c", command + " 2>&1"});
}

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
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
    size_t start = 0;
    while (start < r.out.size()) {
        size_t nl = r.out.find('\n', start);
        names.push_back(r.out.substr(start, nl - start));
        start = nl == std::string::npos ? r.out.size() : nl + 1;
    }
    return names;
}

struct FileStamp {
    std::string bytes;
    struct timespec mtime {};
    mode_t mode = 0;
    bool operator==(const FileStamp& o) const {
        return bytes == o.bytes && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               mode == o.mode;
    }
};

// The bytes, modification time and permissions: what "untouched" means for a package.
inline FileStamp stampOf(const std::string& path) {
    FileStamp s;
    s.bytes = readFile(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        s.mtime = st.st_mtim;
        s.mode = st.st_mode;
    }
    return s;
}

// Names left in a folder (the temp folder a run was given must be empty afterwards).
inline std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
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

inline QuendleRun runQuendle(const std::vector<std::string>& args, const RunOptions& base = {}) {
    ScratchDir tmp;
    RunOptions options = base;
    options.env["TMPDIR"] = tmp.path();
    options.env["NO_COLOR"] = "1";
    std::vector<std::string> argv{quendleExe()};
    argv.insert(argv.end(), args.begin(), args.end());
    QuendleRun run;
    run.result = runProgram(argv, options);
    run.tempLeftovers = leftovers(tmp.path());
    return run;
}

} // namespace quendle::test
