// Where the program's texts go (errors, warnings and progress on standard error, the rest on
// standard output) and its progress lines on a terminal and into a pipe, on a package of 1 GiB
// built once; with them the refusals and forms that a packager meets first: Del-Folder of the
// root, the letter case of new ids, /Expand that fails without touching its destination.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";

class ConsoleOutput : public DemoPackageTest {};

// The banner and the empty line after it: all a run prints on standard output before its output.
const std::string bannerEnd = " - App-V 5.x package editor\n\n";

// A package of about 1 GiB whose one-edit save takes a few seconds on two cores: text that
// inflates slowly in 48 files of 16 MiB, random data in 8 more, 2,000 small files. Built once per
// test program; each test adds a file of its own name to it.
const std::string& bigPackage() {
    static ScratchDir dir;
    static const std::string package = [] {
        std::string source = dir / "source", path = dir / "big.appv";
        fs::copy(demoDir(), source, fs::copy_options::recursive);
        std::string made = pythonRun(
            "import os, random, sys\nrandom.seed(7)\nd = sys.argv[1]\n"
            "words = [bytes(random.choice(b'etaoinshrdlu') for _ in range(random.randint(2, 9))) for _ in "
            "range(5000)]\n"
            "text = b' '.join(random.choice(words) for _ in range(400000))[:1 << 21]\n"
            "for i in range(48):\n"
            "    os.makedirs(d + '/text', exist_ok=True)\n"
            "    open(d + '/text/t%02d.txt' % i, 'wb').write((text[i:] + text[:i]) * 8)\n"
            "for i in range(8):\n"
            "    os.makedirs(d + '/random', exist_ok=True)\n"
            "    open(d + '/random/r%d.bin' % i, 'wb').write(os.urandom(16 << 20))\n"
            "for i in range(2000):\n"
            "    os.makedirs(d + '/small/s%02d' % (i % 20), exist_ok=True)\n"
            "    open(d + '/small/s%02d/f%04d.txt' % (i % 20, i), 'wb').write(text[i * 97:i * 97 + 12000])\n",
            {source + "/Root/VFS/ProgramFilesX86/Demo Notes/data"});
        bool ok = made.empty() && makePackage(source, path);
        fs::remove_all(source);
        return ok ? path : std::string();
    }();
    return package;
}

// A shell command that runs quendle with a private temp folder.
std::string quendleCommand(const std::string& temp, const std::string& arguments) {
    return "TMPDIR=" + shellQuote(temp) + " " + shellQuote(quendleExe()) + " " + arguments;
}

} // namespace

TEST_F(ConsoleOutput, DiscardingStandardErrorHidesErrorsAndNothingElse) {
    const std::string missing = shellQuote(dir / "nosuch.appv");
    writeFile(dir / "new.txt", "new");
    const std::string add = "/Update " + shellQuote(package) + " Add-File " +
                            shellQuote(Notes + "\\new.txt") + " " + shellQuote(dir / "new.txt");
    struct Case {
        std::string command;
        std::string shown; // all the shell sees after the banner
    };
    const Case cases[] = {
        {"/Info " + missing + " 2>/dev/null", "exit=100\n"},
        {"/Info " + missing + " >/dev/null", "File not found: \"" + dir / "nosuch.appv" + "\".\nexit=100\n"},
        {"/Frobnicate x 2>/dev/null", "exit=100\n"},
        {add + " 2>/dev/null", "Added file \"" + Notes +
                                   "\\new.txt\" to package.\nAdded element to FilesystemMetadata.xml:\n"
                                   "<Entry Long=\"new.txt\"/>\nPackage updated successfully\nexit=0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        RunResult r = runShell("cd " + shellQuote(dir.path()) + " && { " +
                               quendleCommand(dir.path(), c.command) + "; echo exit=$?; }");
        const size_t banner = r.out.find(bannerEnd);
        EXPECT_EQ(banner == std::string::npos ? r.out : r.out.substr(banner + bannerEnd.size()), c.shown);
    }
}

TEST_F(ConsoleOutput, DelFolderRefusesTheRootAndItsVfsFolder) {
    for (const char* root : {"Root", "Root\\VFS\\", "Root\\vfs"}) {
        SCOPED_TRACE(root);
        QuendleRun run = quendle({"/Update", package, "Del-Folder", root});
        EXPECT_EQ(run.result.exitCode, 100);
        EXPECT_HAS(run.result.err,
                   "\": Root and Root\\VFS hold the whole package; remove the folders below them");
        expectUntouched();
    }
    // A folder below them still goes.
    EXPECT_HAS(saved({"/Update", package, "Del-Folder", Notes}), "Removed folder \"" + Notes);
}

TEST_F(ConsoleOutput, NewIdsTakeTheLetterCaseThePackageWritesItsIdsIn) {
    const std::string ids = "import re, sys, zipfile\n"
                            "m = zipfile.ZipFile(sys.argv[1]).read('AppxManifest.xml').decode()\n"
                            "for a in ('PackageId', 'VersionId'):\n"
                            "    v = re.search(r'appv:' + a + r'=\"([^\"]*)\"', m).group(1)\n"
                            "    print(a, 'upper' if re.fullmatch(r'[0-9A-F-]{36}', v) else\n"
                            "          'lower' if re.fullmatch(r'[0-9a-f-]{36}', v) else v)\n";
    EXPECT_EQ(pythonRun(ids, {package}), "PackageId upper\nVersionId upper\n")
        << "the demo writes upper case";
    saved(update("Update-PackageIdentity -packageid auto -versionid auto"));
    EXPECT_EQ(pythonRun(ids, {package}), "PackageId upper\nVersionId upper\n");
    saved(update("Update-PackageIdentity -packageid 0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
    saved(update("Update-PackageIdentity -versionid auto"));
    EXPECT_EQ(pythonRun(ids, {package}), "PackageId lower\nVersionId upper\n") << "each id keeps its own";
    saved(update("Update-PackageIdentity -versionid 1a8308c7-90d1-4200-b16e-646f163a08e8 -packageid auto"));
    EXPECT_EQ(pythonRun(ids, {package}), "PackageId lower\nVersionId lower\n");
}

TEST_F(ConsoleOutput, ExpandThatFailsNamesTheCauseAndLeavesTheDestinationAsItWas) {
    // Each package holds a file that would be written before the one that fails.
    ASSERT_TRUE(
        zipOf(dir / "both.appv", {"Root/first.txt", "1", "Root/a", "a file", "Root/a/b", "inside it"}));
    ASSERT_TRUE(zipOf(dir / "long.appv", {"Root/first.txt", "1", "Root/" + std::string(256, 'n'), "x"}));
    ASSERT_TRUE(zipOf(dir / "crc.appv", {"Root/first.txt", "1", "Root/z.txt", "AAAA"}));
    std::string crc = readFile(dir / "crc.appv");
    crc.replace(crc.rfind("AAAA"), 4, "BBBB"); // the data no longer match their CRC-32
    writeFile(dir / "crc.appv", crc);
    const std::pair<std::string, std::string> cases[] = {
        {"both.appv", "\"Root\\a\" is both a file and a folder in the package"},
        {"long.appv", "the name \"" + std::string(256, 'n') + "\" is longer than the 255 bytes"},
        {"crc.appv", "Failed to expand \"" + dir / "crc.appv" + "\": "},
    };
    fs::create_directories(dir / "kept");
    writeFile(dir / "kept/mine.txt", "mine");
    for (const auto& [name, cause] : cases) {
        SCOPED_TRACE(name);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"/Expand", dir / name, dir / "fresh"},
              std::vector<std::string>{"/Expand", dir / name, dir / "kept", "-force"}}) {
            QuendleRun run = quendle(args);
            EXPECT_EQ(run.result.exitCode, 100);
            EXPECT_HAS(run.result.err, cause);
            EXPECT_FALSE(fs::exists(dir / "fresh"));
            EXPECT_EQ(leftovers(dir / "kept"), std::vector<std::string>{"mine.txt"});
        }
    }
    // Nothing of the staging folders stays beside the destinations.
    for (const std::string& entry : leftovers(dir.path()))
        EXPECT_EQ(entry.find(".expanding-"), std::string::npos) << entry;
    // A package that expands fully replaces nothing but what it holds.
    saved({"/Expand", package, dir / "kept", "-force"});
    EXPECT_EQ(readFile(dir / "kept/mine.txt"), "mine");
    EXPECT_TRUE(fs::exists(dir / "kept/AppxManifest.xml"));
}

TEST_F(ConsoleOutput, ProgressIsOffWithQuietOrQuendleProgress0) {
    writeFile(dir / "new.txt", "new");
    for (const char* how : {"", "-quiet", "--quiet", "QUENDLE_PROGRESS=0"}) {
        SCOPED_TRACE(how);
        std::vector<std::string> add{"/Update", package, "Add-File", Notes + "\\new" + how + ".txt",
                                     dir / "new.txt"};
        runOptions.env["QUENDLE_PROGRESS"] = how[0] == 'Q' ? "0" : "";
        if (how[0] == '-')
            add.insert(add.begin(), how);
        QuendleRun run = quendle(add);
        EXPECT_EQ(run.result.err, *how ? "" : "Extracting files...\nPacking files...\n");
        EXPECT_HAS(run.result.out, "Package updated successfully\n");
    }
}

TEST(BigPackageProgress, OnATerminalTheLineAdvancesAsTheSaveGoes) {
    const std::string& package = bigPackage();
    ASSERT_FALSE(package.empty());
    ScratchDir temp;
    writeFile(temp / "small.txt", "small");
    const std::string command = quendleCommand(temp.path(), "/Update " + shellQuote(package) +
                                                                " Add-File 'Root\\VFS\\terminal.txt' " +
                                                                shellQuote(temp / "small.txt"));
    // Every state of the rewritten line, in order: "Packing files... N% (n of t entries, ...)".
    auto expectAdvancing = [](const std::string& command, const std::string& title) {
        RunResult r = runShell("NO_COLOR=1 script -q -e -c " + shellQuote(command) + " /dev/null");
        std::vector<std::string> states;
        for (size_t at = 0; (at = r.out.find("\r" + title + " ", at)) != std::string::npos; ++at)
            states.push_back(r.out.substr(at + 1, r.out.find_first_of("\r\n", at + 1) - at - 1));
        EXPECT_GE(states.size(), 3u) << "at least two steps before the final figures:\n" << r.out.substr(0, 2000);
        if (states.size() >= 3) {
            EXPECT_NE(states.front(), states[1]);
            EXPECT_HAS(states.back(), title + " 100% (");
        }
        return r.out;
    };
    std::string out = expectAdvancing(command, "Packing files...");
    EXPECT_HAS(out, "\rExtracting files... 100% (");
    EXPECT_HAS(out, "Package updated successfully");
    // This package is no sound one (its files have no metadata): the reading is shown all the same.
    expectAdvancing(quendleCommand(temp.path(), "/Verify " + shellQuote(package)), "Verifying package...");
}

TEST(BigPackageProgress, IntoAPipeAtMostOneLineEveryFiveSeconds) {
    ASSERT_FALSE(bigPackage().empty());
    ScratchDir temp;
    writeFile(temp / "small.txt", "small");
    // Python times each line of standard error: the titles come first, and lines with figures
    // are 5 s apart at least.
    const std::string timed =
        "import subprocess, sys, time\nstart, last, lines = time.monotonic(), -5.0, []\n"
        "p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)\n"
        "for line in p.stderr:\n"
        "    now, text = time.monotonic() - start, line.decode().rstrip('\\n')\n"
        "    if '%' in text:\n"
        "        assert now - last >= 4.9, (now, last, text)\n"
        "        last = now\n"
        "    lines.append(text)\n"
        "assert p.wait() == 0 and lines[:2] == ['Extracting files...', 'Packing files...'], lines\n";
    EXPECT_EQ(pythonRun(timed, {"/usr/bin/env", "TMPDIR=" + temp.path(), quendleExe(), "/Update",
                                bigPackage(), "Add-File", "Root\\VFS\\piped.txt", temp / "small.txt"}),
              "");
}
