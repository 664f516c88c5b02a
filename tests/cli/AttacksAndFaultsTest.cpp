// Attacks and faults through the whole program. Hostile packages: each is refused with a clear
// message, nothing is written outside the workspace, the package file is untouched, and time and
// memory stay bounded. The workspace in a shared temp folder and the package shared by parallel
// runs: an attacker who plants links at and inside workspaces reaches nothing outside them,
// parallel runs never lose an edit. Signals and kill -9 at any moment, a full or read-only file
// system, a file-size limit, a very deep tree, a source file that vanishes before the save: never
// a partial package, a clear message and the failure code, and (except after SIGKILL) no trace.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <regex>
#include <sys/file.h>
#include <thread>

using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";
const std::regex WorkspaceName(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");

const std::string PlantedPrefix = "{ABCDEF01";

// Every path below `root` with its bytes ("<dir>" for folders), links not followed.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = e.path().lexically_relative(root).string();
        tree[rel] = e.is_symlink() ? "<link>" : e.is_directory() ? "<dir>" : readFile(e.path().string());
    }
    return tree;
}

// Plants links at every workspace it sees and inside it, as fast as it can.
void attack(const std::string& tmp, const std::string& victim, const std::atomic<bool>& stop) {
    std::error_code ec;
    while (!stop.load()) {
        for (const auto& e : fs::directory_iterator(tmp, ec)) {
            std::string name = e.path().filename().string();
            // The attacker's own planted tree is left as it is, to see that no run touches it.
            if (!std::regex_match(name, WorkspaceName) || e.is_symlink(ec) || name.starts_with(PlantedPrefix))
                continue;
            std::string w = e.path().string();
            fs::create_directory_symlink(victim, w + "/res/Root", ec);
            if (!fs::is_symlink(w + "/res/Root", ec))
                fs::create_directory_symlink(victim, w + "/res/Root/VFS", ec);
            // The manifest swapped for a link to a file outside, between extraction and save.
            if (fs::rename(w + "/res/AppxManifest.xml", w + "/res/manifest.old", ec), !ec)
                fs::create_symlink(victim + "/secret.xml", w + "/res/AppxManifest.xml", ec);
            fs::create_symlink(victim, w + "/demo.appv", ec);
            fs::create_symlink(victim, w + ".quendle-new", ec);
        }
    }
}

using WorkspaceIsolation = DemoPackageTest;

// Far more than a good run needs (a few megabytes), far less than any of the payloads.
const long MemoryBoundKiB = sanitizedBuild() ? 600 * 1024 : 200 * 1024;

// A hostile variant of the demo package, written by the attacker's script, and its state before
// the run.
struct Hostile {
    std::string package;
    FileStamp before;
};

Hostile hostile(const ScratchDir& dir, const std::string& kind, const std::string& target = {}) {
    std::string out = dir / (kind + ".appv");
    EXPECT_EQ(scriptProblems("HostilePackages.py",
                             {demoPackage(), kind, out, target.empty() ? dir / "unused" : target}),
              "");
    return {out, stampOf(out)};
}

// A value edit reaches the hive.
MeasuredRun setWidth(const std::string& package) {
    return runMeasured({"/Update", package, "Set-RegistryValue",
                        "REGISTRY\\MACHINE\\SOFTWARE\\Quendle Demo\\Notes", "-valuename", "Width", "-type",
                        "dword", "-value", "1"});
}

std::string openFailure(const std::string& package) {
    return "Failed to open: " + package + " (invalid file format).";
}

// What every refusal must show: the message, the failure code, an untouched package, no workspace
// left, and bounded time and memory.
void expectRefused(const MeasuredRun& run, const std::string& package, const FileStamp& before,
                   const std::string& message) {
    EXPECT_EQ(run.exitCode, 100) << run.output;
    EXPECT_HAS(run.output, message);
    EXPECT_LACKS(run.output, "Package updated successfully");
    EXPECT_TRUE(stampOf(package) == before) << "the package file changed";
    EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
    EXPECT_LT(run.seconds, 20.0);
    EXPECT_LT(run.peakKiB, MemoryBoundKiB);
}

// A running quendle with its own temp folder and captured output.
class Child {
  public:
    Child(const std::vector<std::string>& args, const std::string& tempFolder, const std::string& outPath) {
        std::vector<std::string> argv{quendleExe()};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            setenv("TMPDIR", tempFolder.c_str(), 1);
            setenv("NO_COLOR", "1", 1);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> raw;
            for (auto& a : argv)
                raw.push_back(a.data());
            raw.push_back(nullptr);
            execv(raw[0], raw.data());
            _exit(127);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void signal(int sig) { kill(pid_, sig); }
    // The signal that ended the child, or 0 when it exited.
    int waitForSignal() {
        int status = 0;
        waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

  private:
    pid_t pid_ = -1;
};

bool waitForText(const std::string& path, const std::string& text, std::chrono::seconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (contains(readFile(path), text))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A shell script that starts a command-file run reading from a pipe, feeds it `lines`, waits for
// `waitFor` in its output, runs `meanwhile`, then ends the command file and waits for the run.
// Prints the run's output followed by "exit=<code>".
std::string pipedRun(const std::string& dir, const std::string& tmp, const std::string& package,
                     const std::string& lines, const std::string& waitFor, const std::string& meanwhile) {
    std::string d = shellQuote(dir);
    return "cd " + d + " || exit 1; mkfifo commands || exit 1; (TMPDIR=" + shellQuote(tmp) + " NO_COLOR=1 " +
           shellQuote(quendleExe()) + " /BatchFileUpdate " + shellQuote(package) +
           " commands >out.txt 2>&1; echo \"exit=$?\" >>out.txt) & exec 3>" + d + "/commands; printf '%s' " +
           shellQuote(";qdc\n" + lines) + " >&3; i=0; until grep -q " + shellQuote(waitFor) +
           " out.txt || [ $i -gt 600 ]; do sleep 0.05; i=$((i+1)); done; " + meanwhile +
           "; exec 3>&-; wait; cat out.txt";
}

} // namespace

TEST_F(WorkspaceIsolation, LinksPlantedAtAndInsideWorkspacesReachNothingOutside) {
    ScratchDir tmp;
    std::string victim = dir / "victim";
    writeFile(victim + "/secret.xml", "<secret>VICTIM-SECRET</secret>");
    writeFile(victim + "/sub/keep.txt", "keep me");
    const auto before = snapshot(victim);
    // Links named like workspaces, waiting for the sweep or a name to be reused.
    for (int i = 0; i < 10; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "{%08X-0000-0000-0000-000000000000}", i);
        fs::create_directory_symlink(victim, tmp / name);
    }
    // A planted folder tree named like a workspace, without our lock: not ours, never touched.
    const std::string planted = tmp / (PlantedPrefix + "-0000-0000-0000-000000000000}");
    writeFile(planted + "/res/Root/file.txt", "planted");
    fs::create_directory_symlink(victim, planted + "/res/link");
    const auto plantedBefore = snapshot(planted);

    std::atomic<bool> stop{false};
    std::thread attacker(attack, tmp.path(), victim, std::cref(stop));
    int saved = 0;
    for (int run = 0; run < 200; ++run) {
        RunResult r =
            runProgram({quendleExe(), "/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath",
                        "//appx:Properties/appx:DisplayName", "-nodetext", "Run " + std::to_string(run)},
                       RunOptions{{{"TMPDIR", tmp.path()}, {"NO_COLOR", "1"}}, {}});
        // Saved, or refused with a message; never a crash.
        ASSERT_TRUE(r.exitCode >= 0 && r.exitCode < 128) << "run " << run << ": " << r.exitCode << "\n"
                                                         << r.out << r.err;
        saved += r.exitCode == 0;
    }
    stop = true;
    attacker.join();

    EXPECT_EQ(snapshot(victim), before) << "something outside the workspace changed";
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_LACKS(entryBytes(package, "AppxManifest.xml"), "VICTIM-SECRET") << "read through a link";
    EXPECT_EQ(snapshot(planted), plantedBefore);
    fs::remove_all(planted);
    for (const auto& e : fs::directory_iterator(tmp.path()))
        EXPECT_TRUE(e.is_symlink()) << "left behind: " << e.path();
    std::printf("%d of 200 attacked runs saved, the others refused the planted links\n", saved);
}

TEST_F(WorkspaceIsolation, ParallelRunsOnOnePackageNeverLoseAnEdit) {
    ScratchDir tmp;
    constexpr int Runs = 8;
    std::vector<MeasuredRun> results(Runs);
    std::vector<std::thread> runs;
    for (int i = 0; i < Runs; ++i) {
        writeFile(dir / ("f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
        runs.emplace_back([&, i] {
            results[i] =
                runMeasured({"/Update", package, "Add-File", Notes + "\\f" + std::to_string(i) + ".txt",
                             dir / ("f" + std::to_string(i) + ".txt")},
                            tmp.path());
        });
    }
    for (auto& t : runs)
        t.join();
    EXPECT_EQ(verifyPackage(package), "");
    std::vector<std::string> names = entryNames(package);
    for (int i = 0; i < Runs; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        // With a generous wait every run gets its turn, and says so.
        EXPECT_EQ(std::count(names.begin(), names.end(),
                             "Root/VFS/ProgramFilesX86/Demo%20Notes/f" + std::to_string(i) + ".txt"),
                  1);
        EXPECT_EQ(results[i].exitCode, 0) << results[i].output;
    }
    EXPECT_TRUE(leftovers(tmp.path()).empty());
}

TEST_F(WorkspaceIsolation, ARunThatCannotGetThePackageOrMakeItsWorkspaceSaysWhyAndChangesNothing) {
    writeFile(dir / "new.txt", "new");
    int holder = ::open(package.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    QuendleRun run = runQuendle({"/Update", package, "Add-File", Notes + "\\new.txt", dir / "new.txt"},
                                RunOptions{{{"QUENDLE_LOCK_WAIT", "1"}}, {}});
    ::close(holder);
    const std::string out = run.result.out + run.result.err;
    EXPECT_EQ(run.result.exitCode, 100) << out;
    EXPECT_HAS(out, "Waiting for another run (process " + std::to_string(getpid()));
    EXPECT_HAS(out, "is in use by another run (process " + std::to_string(getpid()));
    EXPECT_TRUE(stampOf(package) == original);
    EXPECT_TRUE(run.tempLeftovers.empty());

    // Another package is not held up by it.
    std::string other = dir / "other.appv";
    fs::copy_file(package, other);
    holder = ::open(package.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    succeeded({"/Update", other, "Add-File", Notes + "\\new.txt", dir / "new.txt"},
              RunOptions{{{"QUENDLE_LOCK_WAIT", "0"}}, {}});
    ::close(holder);

    // A workspace that cannot be made is a clear error before anything is read.
    MeasuredRun noRoom =
        runMeasured({"/Update", package, "Add-File", Notes + "\\new.txt", dir / "new.txt"}, dir / "missing");
    EXPECT_EQ(noRoom.exitCode, 100);
    EXPECT_HAS(noRoom.output, "Unable to create a private workspace folder in \"" + dir / "missing" + "\"");
    EXPECT_LACKS(noRoom.output, "Extracting files");
    EXPECT_TRUE(stampOf(package) == original);
}

TEST_F(WorkspaceIsolation, AFileSizeLimitIsAClearErrorAndLeavesNothing) {
    ScratchDir tmp;
    writeFile(dir / "big.bin", randomBytes(300000, 42));
    // 100 KiB: the extracted package fits, the new archive does not.
    std::string script = "ulimit -f 100; TMPDIR=" + shellQuote(tmp.path()) + " NO_COLOR=1 " +
                         shellQuote(quendleExe()) + " /Update " + shellQuote(package) + " Add-File " +
                         shellQuote(Notes + "\\big.bin") + " " + shellQuote(dir / "big.bin");
    RunResult r = runProgram({"/bin/sh", "-c", script + " 2>&1"});
    EXPECT_EQ(r.exitCode, 100) << "not ended by SIGXFSZ (153):\n" << r.out;
    EXPECT_HAS(r.out, "The file size exceeds the limit allowed and cannot be saved.");
    EXPECT_TRUE(stampOf(package) == original);
    EXPECT_TRUE(leftovers(tmp.path()).empty());
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_FALSE(e.path().filename().string().starts_with(".demo.appv.")) << e.path();
}

TEST_F(WorkspaceIsolation, AnEntryThousandsOfFoldersDeepLeavesNothingBehind) {
    const char* deep =
        "import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'a').writestr('Root/' + 'd/' * 2500 + "
        "'leaf.txt', b'deep')\n";
    ASSERT_EQ(pythonRun(deep, {package}), "");
    writeFile(dir / "new.txt", "new");
    saved({"/Update", package, "Add-File", Notes + "\\new.txt", dir / "new.txt"});
    // unzip truncates names this long; Python and 7-Zip read them whole.
    const char* check = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
                        "print(z.read('Root/' + 'd/' * 2500 + 'leaf.txt').decode())\n";
    EXPECT_EQ(pythonRun(check, {package}), "deep\n");
    EXPECT_EQ(runShell("7z t -bd " + shellQuote(package)).exitCode, 0);
}

// Each refusal leaves nothing written outside the workspace, nor anything read from outside it.
TEST(HostilePackage, EachAttackIsRefusedWithItsOwnCauseInBoundedTimeAndMemory) {
    struct Case {
        const char* kind;
        std::string message;       // the refusal
        std::string cause;         // a further part of the output
        bool editsTheHive = false; // else the display name
    };
    const Case cases[] = {
        // Names that climb out of the workspace to the secret file beside the package; the other
        // spellings of a climb, and absolute names, are the reader's own test.
        {"slip", "", ""},
        // A second manifest and a second notes file, each spelt in another case: which one the
        // client would read is up to the order of writing.
        {"case-twins", "\nCause: entries \"", "differ only in case"},
        // The entity names a secret file beside the package, which must never be read.
        {"external-entity", "AppxManifest.xml", ""},
        // Reading the display name (the change line shows the old text) would expand 10^9 "lol"s.
        {"billion-laughs", "AppxManifest.xml", ""},
        // The entry declares one mebibyte and inflates to ten gibibytes. No edit touches it, so it
        // is found out when the save copies it.
        {"bomb-lying",
         "The package is damaged: the data of \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\bomb.bin\" do not "
         "match the package's directory. The package was not changed.\nCause: it holds more data than it "
         "declares",
         ""},
        {"hive-loop", "The registry is corrupted.", "", true},
        // One bin of 1 GiB of free space: the format allows it, no real hive needs it.
        {"hive-free-bin", "The registry is corrupted.", "", true},
        // 200 entries on one local header of 64 MiB of zeros would extract 12.5 GiB.
        {"shared-local-header", "\nCause: ", "\" share the local header at offset "},
        {"into-central-directory", "\nCause: ", ") runs into the central directory at offset "},
        {"nul-name", "\nCause: ", "a%00b.txt\" has a NUL character in its name"},
        {"raw-nul-name", "\nCause: ", "a\\x00b.txt\" has a NUL character in its name"},
        {"control-name", "\nCause: ", "line%0Abreak.txt\" has a control character (U+000A) in its name"},
        {"non-utf8-name", "\nCause: ", "bad\\xFF\\xFE.txt\" has a name that is not UTF-8"},
        {"attributes-manifest", "Element \"Package\" has more than 1000 attributes.", ""},
        // 50,000 references to an entity of 50 kB: 2.5 GB if the edited text were expanded.
        {"entity-expansion", "Entity references expand to more than 1048576 bytes.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ScratchDir dir;
        std::string secret = dir / "secret.txt";
        writeFile(secret, "TOP-SECRET-CONTENT");
        Hostile h = hostile(dir, c.kind, secret);
        ASSERT_LT(fs::file_size(h.package), 20u << 20) << "each attack is crafted cheaply";
        MeasuredRun run = c.editsTheHive
                              ? setWidth(h.package)
                              : runMeasured({"/Update", h.package, "Set-NodeText", "AppxManifest.xml",
                                             "-xpath", DisplayNameXPath, "-nodetext", "Edited"});
        std::string message =
            c.message.empty() || c.message[0] == '\n' ? openFailure(h.package) + c.message : c.message;
        expectRefused(run, h.package, h.before, message);
        EXPECT_HAS(run.output, c.cause);
        EXPECT_LACKS(run.output, "TOP-SECRET-CONTENT");
        EXPECT_EQ(readFile(secret), "TOP-SECRET-CONTENT");
        EXPECT_EQ(filesBelow(dir.path()), 2u) << "the package and secret.txt only";
        EXPECT_LT(run.output.size(), 100000u);
    }
}

TEST(HostilePackage, TenGibibyteZipBombDeclaredHonestlyIsRefusedBeforeFillingTheDisk) {
    // The declared size is checked against the free space of the temp folder's file system: a
    // small file system of its own makes the check independent of this machine's disk.
    if (!canMountPrivately())
        GTEST_SKIP() << "needs root and mount namespaces";
    ScratchDir dir;
    Hostile h = hostile(dir, "bomb-honest");
    std::string tmp = dir / "tmp";
    fs::create_directories(tmp);
    std::string script = "mount -t tmpfs -o size=512m tmpfs " + shellQuote(tmp) + " && exec " +
                         shellQuote(quendleExe()) + " /Update " + shellQuote(h.package) +
                         " Set-NodeText AppxManifest.xml -xpath " + DisplayNameXPath + " -nodetext Edited";
    MeasuredRun run = runMeasured({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script}, tmp);
    expectRefused(run, h.package, h.before, openFailure(h.package));
}

TEST(HostilePackage, HiveFreeSpaceCostsNoMemory) {
    // 256 MiB of one-page bins, each a free cell: scanned, never held, and not saved again.
    ScratchDir dir;
    Hostile h = hostile(dir, "hive-free-bins");
    MeasuredRun run = setWidth(h.package);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_LT(run.peakKiB, MemoryBoundKiB);
    EXPECT_LT(run.seconds, 20.0);
    EXPECT_TRUE(run.tempLeftovers.empty());
    EXPECT_EQ(runShell("unzip -tq " + shellQuote(h.package)).exitCode, 0);
    EXPECT_LT(entryBytes(h.package, "Registry.dat").size(), 1u << 20);
    EXPECT_HAS(hivexExport(h.package), "\"Width\"=dword:00000001");
}

// A small file system of its own, mounted in a private mount namespace (which needs root), at the
// temp folder or at the package's folder; full, filled up during the run, or read-only.
TEST(FaultInjection, AFullOrReadOnlyFileSystemKeepsThePackageAndLeavesNothing) {
    if (!canMountPrivately())
        GTEST_SKIP() << "needs root and mount namespaces";
    struct Case {
        const char* name;
        size_t payload;
        bool atTemp;                                   // else at the package's folder
        std::string size;                              // of the file system; empty: just room for the package
        std::string waitFor, meanwhile, message, more; // "@" stands for the temp folder, "%" the package
    };
    const Case cases[] = {
        // The declared sizes do not fit: refused before the first byte is written.
        {"temp folder full before extracting", 2 << 20, true, "1m", "exit=", "true",
         "Failed to open: % (invalid file format).\nCause: ", "bytes that may be extracted into @/{"},
        // Extracted and edited with room to spare; then the temp folder's file system is filled up,
        // and only then does the command file end and the save begin. The archive goes beside the
        // package; what fails is the block map, the one file the save writes in the temp folder.
        {"temp folder filled before saving", 1 << 20, true, "300m", "Replaced text",
         "dd if=/dev/zero of=@/filler bs=1M 2>/dev/null", "File \"@/{",
         "/AppxBlockMap.xml\" could not be written.\n"},
        // The new archive is written straight beside the package: the entry being written names it.
        {"package folder full", 96 << 10, false, "", "Replaced text", "true",
         "Cause: There is not enough space on the disk.", ""},
        {"package folder read-only", 96 << 10, false, "1m", "Replaced text",
         "mount -o remount,ro $(dirname %)",
         "Unable to save App-V 5.x package. The media is write protected.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string original = packageWithPayload(dir, c.payload, "original.appv"), tmp = dir / "tmp",
                          folder = dir / "pkg", package = folder + "/pkg.appv";
        fs::create_directories(tmp);
        fs::create_directories(folder);
        auto fill = [&](std::string text) {
            for (auto [mark, with] : {std::pair{"@", tmp}, std::pair{"%", package}})
                for (size_t at; (at = text.find(mark)) != std::string::npos;)
                    text.replace(at, 1, with);
            return text;
        };
        const std::string size =
            c.size.empty() ? std::to_string((fs::file_size(original) + 4095) / 4096 * 4 + 8) + "k" : c.size;
        std::string script =
            "mount -t tmpfs -o size=" + size + " tmpfs " + shellQuote(c.atTemp ? tmp : folder) + " && cp " +
            shellQuote(original) + " " + shellQuote(package) + " && " +
            pipedRun(dir.path(), tmp, package,
                     std::string("Set-NodeText AppxManifest.xml -xpath ") + DisplayNameXPath +
                         " -nodetext Full\n",
                     c.waitFor, fill(c.meanwhile)) +
            "; rm -f " + shellQuote(tmp + "/filler") + "; cmp -s " + shellQuote(original) + " " +
            shellQuote(package) + " && echo same; ls -A " + shellQuote(folder) + " " + shellQuote(tmp);
        RunResult r = runProgram({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script + " 2>&1"});
        EXPECT_HAS(r.out, fill(c.message));
        EXPECT_HAS(r.out, fill(c.more));
        EXPECT_LACKS(r.out, "Package updated successfully");
        EXPECT_HAS(r.out, "exit=100\nsame\n" + folder + ":\npkg.appv\n\n" + tmp + ":\n")
            << "the package as it was, nothing left beside it or in the temp folder";
        EXPECT_TRUE(r.out.ends_with(tmp + ":\n")) << r.out;
    }
}

TEST(FaultInjection, SourceFileThatVanishesBeforeTheSaveFailsItAndKeepsThePackage) {
    ScratchDir dir, tmp;
    std::string package = packageWithPayload(dir, 1000);
    FileStamp before = stampOf(package);
    std::string source = dir / "added.txt";
    writeFile(source, "soon gone");
    std::string script =
        pipedRun(dir.path(), tmp.path(), package,
                 "Add-File \"Root\\VFS\\ProgramFilesX86\\Demo Notes\\added.txt\" " + source + "\n",
                 "Added file", "rm " + shellQuote(source));
    RunResult r = runShell(script);
    EXPECT_HAS(r.out, "Unable to add file to package: \"" + source + "\".");
    EXPECT_LACKS(r.out, "Package updated successfully");
    EXPECT_TRUE(r.out.ends_with("exit=100\n")) << r.out;
    EXPECT_TRUE(stampOf(package) == before);
    EXPECT_TRUE(leftovers(tmp.path()).empty());
}

TEST(EndToEndInterrupt, SignalsAndFaultsRemoveTheWorkspaceAndLeaveThePackage) {
    // SIGSEGV stands for a hardware fault: reported by the fault handler, which then exits.
    // Every signal that ends a process by default and can be caught cleans up alike; what
    // SIGKILL leaves, and a hidden temporary of an older killed save, the next run removes.
    for (int sig : {SIGTERM, SIGINT, SIGSEGV, SIGUSR1, SIGALRM, SIGXCPU, SIGRTMIN + 3, SIGKILL}) {
        SCOPED_TRACE(strsignal(sig));
        ScratchDir dir, tmp;
        std::string package = dir / "demo.appv";
        ASSERT_TRUE(makePackage(demoDir(), package));
        FileStamp before = stampOf(package);
        // The run reads its commands from a pipe that stays open, so it is caught in the middle
        // of its work: the package extracted and edited in memory, nothing saved yet.
        std::string fifo = dir / "commands";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::string out = dir / "out.txt";
        Child child({"/BatchFileUpdate", package, fifo}, tmp.path(), out);
        // Open until the end of the round, after the run has ended.
        std::ofstream writer(fifo);
        writer << ";qdc\nSet-NodeText AppxManifest.xml -xpath " << DisplayNameXPath
               << " -nodetext Interrupted\n"
               << std::flush;
        ASSERT_TRUE(waitForText(out, "Replaced text", std::chrono::seconds(20))) << readFile(out);
        EXPECT_FALSE(leftovers(tmp.path()).empty()) << "the workspace exists while the run works";

        child.signal(sig);
        int endedBy = child.waitForSignal();
        if (sig == SIGSEGV)
            EXPECT_HAS(readFile(out), "ACCESS_VIOLATION");
        else
            EXPECT_EQ(endedBy, sig) << "the run ends by the signal, as the caller expects";
        EXPECT_TRUE(stampOf(package) == before);
        if (sig == SIGKILL) {
            EXPECT_FALSE(leftovers(tmp.path()).empty()) << "a killed run cannot clean up";
            writeFile(dir / ".demo.appv.0badf00d", "half");
            fs::last_write_time(dir / ".demo.appv.0badf00d",
                                fs::file_time_type::clock::now() - std::chrono::hours(1));
            MeasuredRun next = runMeasured({"/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath",
                                            DisplayNameXPath, "-nodetext", "Next"},
                                           tmp.path());
            EXPECT_EQ(next.exitCode, 0) << next.output;
            EXPECT_FALSE(fs::exists(dir / ".demo.appv.0badf00d"));
            EXPECT_HAS(entryBytes(package, "AppxManifest.xml"), "<DisplayName>Next</DisplayName>");
        }
        EXPECT_TRUE(leftovers(tmp.path()).empty()) << "workspace left: " << leftovers(tmp.path()).front();
    }
}

TEST(EndToEndInterrupt, KillDashNineAtAnyMomentLeavesTheOldOrACompleteNewPackage) {
    ScratchDir dir;
    // A payload big enough that packing takes a while, so the kills land at different stages.
    std::string pristine = packageWithPayload(dir, 4 << 20, "pristine.appv");
    ASSERT_FALSE(pristine.empty());
    const std::string oldBytes = readFile(pristine);
    std::mt19937 random(20261206);

    int oldSeen = 0, newSeen = 0;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScratchDir work, tmp;
        std::string package = work / "pkg.appv";
        fs::copy_file(pristine, package);
        Child child({"/Update", package, "Set-NodeText", "AppxManifest.xml", "-xpath", DisplayNameXPath,
                     "-nodetext", "Killed"},
                    tmp.path(), work / "out.txt");
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 700)(random)));
        child.signal(SIGKILL);
        child.waitForSignal();

        if (readFile(package) == oldBytes) {
            ++oldSeen;
            continue;
        }
        ++newSeen;
        EXPECT_EQ(verifyPackage(package), "") << "a changed package must be complete";
        EXPECT_HAS(entryBytes(package, "AppxManifest.xml"), "<DisplayName>Killed</DisplayName>");
    }
    std::printf("killed runs: %d left the old package, %d a new one\n", oldSeen, newSeen);
}
