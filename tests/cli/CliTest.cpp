#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quendle::test;

namespace {

// The built program with stdout a pipe, not a terminal; `env` entries override (or, when empty,
// remove) variables, and the caller's colour settings never leak in.
RunResult cli(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    env.emplace("NO_COLOR", "");
    std::vector<std::string> argv{QUENDLE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, {env, {}});
}

const std::string generalUsage = readFile(QUENDLE_SOURCE_DIR "/tests/cli/general-usage.txt");
const std::string red = "\x1b[91m";
const std::string reset = "\x1b[0m";

// Splits off the banner: its line and the empty line after it.
std::string afterBanner(const std::string& out) {
    size_t end = out.find("\n\n");
    EXPECT_NE(end, std::string::npos);
    std::string banner = out.substr(0, end);
    EXPECT_EQ(banner.rfind("Quendle ", 0), 0u) << banner;
    EXPECT_NE(banner.find(" - App-V 5.x package editor"), std::string::npos) << banner;
    EXPECT_EQ(banner.find('\n'), std::string::npos);
    return end == std::string::npos ? out : out.substr(end + 2);
}

// The usage block of the top-level commands, the start of every command's own usage.
std::string topLevelUsage() {
    return generalUsage.substr(0, generalUsage.find("Valid commands:\n"));
}

std::string usageLineOf(const std::string& command) {
    size_t at = generalUsage.find("  /" + command + " ");
    return generalUsage.substr(at, generalUsage.find("\n\n", at) + 2 - at);
}

class CliTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(generalUsage.empty()) << "golden usage file missing"; }
    std::string file(const std::string& name, const std::string& bytes) {
        writeFile(scratch_ / name, bytes);
        return scratch_ / name;
    }

    ScratchDir scratch_;
    const std::string dir_ = scratch_.path(), package_ = file("p.appv", "not a zip");
};

} // namespace

// Every help and every refusal of a command line or a command file, with its exit code and the
// whole output after the banner; --help, -h and --version count only as the first argument.
TEST_F(CliTest, EachCommandLineGetsItsExitCodeAndTheWholeExpectedOutput) {
    ::mkdir((dir_ + "/sub").c_str(), 0700);
    const std::string G = generalUsage + "\n";
    // A command's own usage as a parameter error ends it, in colour.
    auto usageOf = [](const std::string& command) {
        return topLevelUsage() + usageLineOf(command) + "\n" + reset;
    };
    const std::string one = topLevelUsage() + usageLineOf("Set-RegistryValue") + "\n";
    enum Colour { Plain, Forced, OptedOut };
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string output; // empty: only the exit code is checked
        Colour colour = Plain;
    };
    const Case cases[] = {
        {{"/Help"}, 0, G},
        {{"/help"}, 0, G},
        {{"--help"}, 0, G},
        {{"-h"}, 0, G},
        {{"/Help", "set-registryvalue"}, 0, one},
        {{"--help", "set-registryvalue"}, 0, one},
        {{"-h", "Set-RegistryValue"}, 0, one},
        {{"/Help", "Update"}, 0, "\n"},
        {{"/Help", "No-Such-Command"}, 0, "\n"},
        {{}, 100, G},
        {{}, 100, red + G + reset, Forced},
        {{}, 100, G, OptedOut},
        {{"/Help", "--help"}, 100, "Unknown parameter: --help. \n\n\n" + G},
        {{"/Help", "--version"}, 100, ""},
        // Spelt otherwise, they are misspelt commands.
        {{"--Help"}, 100, "Command \"-Help\" is unknown. Maybe you should use instead \"Help\"\n\n" + G},
        {{"--versions"}, 100, ""},
        {{"/Frobnicate"}, 100, G},
        // A sub-command named at the top is a command too, and runs into its missing package.
        {{"/Update", package_, "Del-Fil", "Root\\a"},
         100,
         "Command \"Del-Fil\" is unknown. Maybe you should use instead \"Del-File\"\n\n" + G},
        {{"/Update", package_}, 100, "A required argument is missing: <command>.\n\n\n" + G},
        {{"/Update", package_, "Set-RegistryValue", "REGISTRY\\MACHINE\\K", "-type", "REG_SZ"},
         100,
         red + "Invalid \"-type\" parameter value: \"REG_SZ\".\n\n" + usageOf("Set-RegistryValue"),
         Forced},
        {{"/Update", dir_ + "/none.appv", "Del-File", "Root\\a"},
         100,
         "File not found: \"" + dir_ + "/none.appv\".\n"},
        {{"/BatchFileUpdate", package_, file("bad.txt", ";QDC\nDel-File Root\\a\n")},
         106,
         "Unsupported command file format. The supported file formats are: ANSI, Unicode Big Endian and "
         "Unicode Little Endian. The first line of the file must begin with \";qdc\".\n"},
        {{"/BatchFileUpdate", package_, dir_ + "/sub/"}, 100, "File not found: \"" + dir_ + "/sub\".\n"},
        // A command-line error in the file ends the run even with -nofail; the line is echoed first.
        {{"/BatchFileUpdate", package_, file("c.txt", ";qdc\nAdd-Fil a b\nDel-File x\n"), "-NOFAIL"},
         100,
         "Add-Fil a b\nCommand \"Add-Fil\" is unknown. Maybe you should use instead \"Add-File\"\n\n" + G},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + " " + c.args.back());
        std::map<std::string, std::string> env;
        if (c.colour != Plain)
            env = {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", c.colour == OptedOut ? "1" : ""}};
        RunResult r = cli(c.args, env);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, "");
        if (!c.output.empty()) {
            EXPECT_EQ(afterBanner(r.out), c.output);
        }
    }
}

TEST(StandardOptions, VersionPrintsOneLineWithTheBannersVersion) {
    RunResult version = cli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.err, "");
    // The banner of any run names the same version.
    std::string banner = cli({"/Help"}).out;
    std::string number = banner.substr(8, banner.find(' ', 8) - 8);
    EXPECT_EQ(version.out, "quendle " + number + "\n") << banner;
    // A version that cannot be written is a failure, as for every other output.
    EXPECT_EQ(runShell(shellQuote(QUENDLE_EXE) + " --version >/dev/full").exitCode, 100);
}
