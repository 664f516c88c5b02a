#include "CommandTestSupport.h"

#include <functional>

using namespace quendle;
using namespace quendle::test;

namespace {

// What a command-line error looks like on the console: message, blank line, usage.
std::string errorOutput(const std::string& message, const std::string& usage) {
    std::string out;
    if (!message.empty())
        out += message + "\n\n";
    return out + usage + "\n";
}

const std::string prog = CommandContainerImpl::programName();

std::string topLevelUsage() {
    return "Usage:\n" + prog + "   /Update   <appv_package>  *<command>\n\n" + prog +
           "   /Help  [ <Help>]\n\n";
}

} // namespace

TEST(CommandParser, ValuesComeInDeclarationOrderWithDefaultsForAbsentParameters) {
    RecordingContainer c;
    c.executeCommand("set-nodetext", {"appxmanifest.XML", "-XPATH", "//a"});
    c.executeCommand("Set-RegistryValue", {"REGISTRY\\MACHINE\\x", "-pathvariable", "-type", "DWORD"});
    c.executeCommand("Set-RegistryValue", {"REGISTRY\\USER\\y", "-offset", "-5"});
    c.executeCommand("Update", {"p.appv", "/Del-File", "Root\\a", "-x"});
    ASSERT_EQ(c.calls.size(), 4u);
    EXPECT_EQ(c.calls[0].command, "Set-NodeText");
    EXPECT_EQ(c.calls[0].values, (CommandValues{"appxmanifest.XML", "//a", ""})); // passed on as typed
    EXPECT_EQ(c.calls[1].values, (CommandValues{"REGISTRY\\MACHINE\\x", "DWORD", "true", ""}));
    EXPECT_EQ(c.calls[2].values, (CommandValues{"REGISTRY\\USER\\y", "", "false", "-5"}));
    EXPECT_EQ(c.calls[3].values, (CommandValues{"p.appv", "/Del-File", "Root\\a", "-x"}));
    // The rest parameter never takes an empty argument, which is then left over.
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Update", {"p.appv", "Del-File", ""});
              }),
              c.getGeneralUsage() + "\n");
}

TEST(CommandParser, PositionalParameterIsTakenOnlyAtItsOwnIndex) {
    RecordingContainer c;
    uint32_t code = 0;
    std::string out = presentedError([&] { c.executeCommand("Add-File", {"-x", "b"}); }, &code);
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(out,
              errorOutput("A required argument is missing: <file_package_path>.\n",
                          topLevelUsage() + "  /Add-File   <file_package_path>  <file_source_path>\n\n"));
    // Errors of a top-level command show the general usage.
    EXPECT_EQ(presentedError([&] { c.executeCommand("Update", {"p.appv"}); }),
              errorOutput("A required argument is missing: <command>.\n", c.getGeneralUsage()));
}

TEST(CommandParser, CommandNamesIgnoreAsciiCaseAndSuggestTheLastNearCommand) {
    RecordingContainer c;
    c.executeCommand("uPdAtE", {"p", "Help"});
    EXPECT_EQ(c.calls.at(0).command, "Update");

    std::string general = c.getGeneralUsage();
    EXPECT_EQ(presentedError([&] { c.executeCommand("Updte", {}); }),
              errorOutput("Command \"Updte\" is unknown. Maybe you should use instead \"Update\"", general));
    // Within three edits of both Add-File (1) and Del-File (3): the later one in the table wins.
    EXPECT_EQ(
        presentedError([&] { c.executeCommand("Xdd-File", {}); }),
        errorOutput("Command \"Xdd-File\" is unknown. Maybe you should use instead \"Del-File\"", general));
    EXPECT_EQ(presentedError([&] { c.executeCommand("Completely-Else", {}); }), errorOutput("", general));
    EXPECT_EQ(presentedError([&] { c.executeCommand("", {}); }), errorOutput("", general));
    // A huge typed name is rejected without a suggestion search over its whole length.
    EXPECT_EQ(presentedError([&] { c.executeCommand(std::string(2'000'000, 'U'), {}); }),
              errorOutput("", general));
}

TEST(CommandParser, RunDropsTheFirstCharacterOfTheCommandWhateverItIs) {
    RecordingContainer c;
    std::vector<std::string> args = {"prog", "-Del-File", "Root\\a"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    c.run(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(c.calls.size(), 1u);
    EXPECT_EQ(c.calls[0].values, (CommandValues{"Root\\a"}));

    std::string noSlash = "Update";
    char* argv2[] = {args[0].data(), noSlash.data()};
    EXPECT_NE(presentedError([&] { c.run(2, argv2); }).find("Command \"pdate\" is unknown."),
              std::string::npos);
    EXPECT_EQ(presentedError([&] { c.run(1, argv2); }), errorOutput("", c.getGeneralUsage()));
}

TEST(CommandParser, MissingAndInvalidValues) {
    RecordingContainer c;
    std::string usage = c.getCommandUsage("Set-NodeText");
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath"});
              }),
              errorOutput("Value is missing for the parameter -xpath.\n", usage));
    // The next argument begins with '-': it is not taken as the value.
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", "-nodetext", "t"});
              }),
              errorOutput("Value is missing for the parameter -xpath.\n", usage));
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-nodetext", "t"});
              }),
              errorOutput("A required argument is missing: -xpath <xml_xpath_expression>.\n", usage));
    // An empty value is a value.
    c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", ""});
    EXPECT_EQ(c.calls.back().values, (CommandValues{"StreamMap.xml", "", ""}));
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-RegistryValue", {"K", "-type", "REG_SZ"});
              }),
              errorOutput("Invalid \"-type\" parameter value: \"REG_SZ\".",
                          c.getCommandUsage("Set-RegistryValue")));
    // A positional parameter has no name: its placeholder stands in for it.
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"Foo.xml", "-xpath", "x"});
              }),
              errorOutput("Invalid \"appv_manifest_file\" parameter value: \"Foo.xml\".",
                          c.getCommandUsage("Set-NodeText")));
}

TEST(CommandParser, UnknownParametersWithNearestSuggestion) {
    RecordingContainer c;
    std::string usage = c.getCommandUsage("Set-NodeText");
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", "a", "-xpth", "b"});
              }),
              errorOutput("Unknown parameter: -xpth. Maybe you should use instead: -xpath. \n", usage));
    // A repeated parameter: the first one is used, the second is left over.
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", "a", "-xpath", "b"});
              }),
              errorOutput("Unknown parameter: -xpath. Maybe you should use instead: -xpath. \n", usage));
    // Three edits away still earns a suggestion; four do not.
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", "a", "-xp"});
              }),
              errorOutput("Unknown parameter: -xp. Maybe you should use instead: -xpath. \n", usage));
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", "a", "-x"});
              }),
              errorOutput("Unknown parameter: -x. \n", usage));
    // Nothing within three edits, and several leftovers, of which only dashed ones are named.
    EXPECT_EQ(
        presentedError([&] {
            c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", "a", "-verbose", "loose", "-q"});
        }),
        errorOutput("Unknown parameter: -verbose. \nUnknown parameter: -q. \n", usage));
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Del-File", {"Root\\a", "stray"});
              }),
              errorOutput("", c.getCommandUsage("Del-File")));
    EXPECT_TRUE(c.calls.empty());
}

TEST(CommandParser, OneOfGroups) {
    RecordingContainer c;
    std::string usage = c.getCommandUsage("Pick");
    EXPECT_EQ(usage, topLevelUsage() + "  /Pick  { -left <xml_xpath_expression> | -right <Pick> }\n\n");
    c.executeCommand("Pick", {"-right", "r"});
    EXPECT_EQ(c.calls.back().values, (CommandValues{"", "r", "false"}));
    EXPECT_EQ(
        presentedError([&] { c.executeCommand("Pick", {"-flag"}); }),
        errorOutput("One of the following parameters is required:\n-left <xml_xpath_expression> | -right\n",
                    usage));
    EXPECT_EQ(presentedError([&] {
                  c.executeCommand("Pick", {"-left", "l", "-right", "r"});
              }),
              errorOutput("", usage));
}

TEST(CommandParser, UsageLinesAndHelp) {
    RecordingContainer c;
    EXPECT_EQ(c.getCommands()[2].getUsage(), "  /Add-File   <file_package_path>  <file_source_path>\n\n");
    EXPECT_EQ(c.getCommands()[4].getUsage(),
              "  /Set-NodeText   <AppxManifest.xml|StreamMap.xml> -xpath <xml_xpath_expression> [-nodetext "
              "<xml_node_text>]\n\n");
    EXPECT_EQ(c.getCommands()[5].getUsage(),
              "  /Set-RegistryValue   <registry_key_path> [-type <sz|dword>] [-pathvariable] [-offset "
              "<registry_value>]\n\n");
    EXPECT_EQ(c.getCommandUsage("Update"), ""); // top-level commands have no usage of their own
    EXPECT_EQ(c.getCommandUsage("No-Such"), "");
    EXPECT_EQ(c.getCommandUsage("del-file"), topLevelUsage() + "  /Del-File   <file_package_path>\n\n");
    {
        CapturedOutput out;
        c.printHelp("");
        EXPECT_EQ(out.take(), c.getGeneralUsage() + "\n");
    }
    {
        CapturedOutput out;
        c.printHelp("Update");
        EXPECT_EQ(out.take(), "\n");
    }
}

TEST(CommandParser, ErrorsAreBrightRedWhenColoursAreOn) {
    RecordingContainer c;
    CapturedOutput out(true);
    try {
        c.executeCommand("Del-File", {});
    } catch (...) {
        handleCurrentException();
    }
    std::string text = out.take();
    EXPECT_EQ(text.rfind("\x1b[91mA required argument is missing: <file_package_path>.\n", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 5), "\n\x1b[0m");
}

TEST(CommandParser, CommandWithoutHandlerFailsAsAnOrdinaryError) {
    RecordingContainer c;
    uint32_t code = 0;
    std::string out = presentedError([&] { c.executeCommand("Broken", {}); }, &code);
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_NE(out.find("bad_function_call"), std::string::npos);
}
