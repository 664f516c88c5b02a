// --help, -h and --version answer as on any Linux tool, and only as the first argument: every
// other command line keeps its meaning.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

RunResult runTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUENDLE_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, {{{"NO_COLOR", "1"}}, ""});
}

} // namespace

TEST(StandardOptions, VersionPrintsOneLineWithTheBannersVersion) {
    RunResult version = runTool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.err, "");
    // The banner of any run names the same version.
    std::string banner = runTool({"/Help"}).out;
    std::string number = banner.substr(8, banner.find(' ', 8) - 8);
    EXPECT_EQ(version.out, "quendle " + number + "\n") << banner;
    // A version that cannot be written is a failure, as for every other output.
    EXPECT_EQ(runShell(shellQuote(QUENDLE_EXE) + " --version >/dev/full").exitCode, 100);
}

TEST(StandardOptions, HelpAndHPrintWhatSlashHelpPrints) {
    RunResult general = runTool({"/Help"}), one = runTool({"/Help", "Set-RegistryValue"});
    ASSERT_EQ(general.exitCode, 0);
    for (const char* option : {"--help", "-h"}) {
        RunResult r = runTool({option});
        EXPECT_EQ(r.exitCode, 0) << option;
        EXPECT_EQ(r.out, general.out) << option;
        RunResult s = runTool({option, "set-registryvalue"});
        EXPECT_EQ(s.exitCode, 0) << option;
        EXPECT_EQ(s.out, one.out) << option;
    }
}

TEST(StandardOptions, AnywhereButFirstTheyAreOrdinaryArguments) {
    RunResult afterHelp = runTool({"/Help", "--help"});
    EXPECT_EQ(afterHelp.exitCode, 100);
    EXPECT_TRUE(contains(afterHelp.out, "Unknown parameter: --help")) << afterHelp.out;
    EXPECT_EQ(runTool({"/Help", "--version"}).exitCode, 100);
    // Spelt otherwise, they are misspelt commands as before.
    RunResult upper = runTool({"--Help"});
    EXPECT_EQ(upper.exitCode, 100);
    EXPECT_TRUE(contains(upper.out, "Command \"-Help\" is unknown")) << upper.out;
    EXPECT_EQ(runTool({"--versions"}).exitCode, 100);
}
