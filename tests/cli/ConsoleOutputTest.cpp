// The progress lines: on a terminal while a package of 1 GiB is saved, and turned off; /Expand
// that fails without touching its destination. Which stream each text goes to every end-to-end
// run checks (runRouted), and the command-line table checks whole.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";

class ConsoleOutput : public DemoPackageTest {};

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
    // A package that expands fully refuses a folder that holds something, unless forced; then it
    // replaces nothing but what it holds.
    QuendleRun refused = quendle({"/Expand", package, dir / "kept"});
    EXPECT_EQ(refused.result.exitCode, 100);
    EXPECT_HAS(refused.result.err, "is not empty. Add -force");
    saved({"/Expand", package, dir / "kept", "-force"});
    EXPECT_EQ(readFile(dir / "kept/mine.txt"), "mine");
    EXPECT_TRUE(fs::exists(dir / "kept/AppxManifest.xml"));
}

TEST_F(ConsoleOutput, ProgressIsOffWithQuiet) {
    writeFile(dir / "new.txt", "new");
    // QUENDLE_PROGRESS=0 is the progress line's own test.
    for (const char* how : {"", "-quiet", "--quiet"}) {
        SCOPED_TRACE(how);
        std::vector<std::string> add{"/Update", package, "Add-File", Notes + "\\new" + how + ".txt",
                                     dir / "new.txt"};
        if (*how)
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
