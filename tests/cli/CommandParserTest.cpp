#include "CommandTestSupport.h"
#include "cli/CommandBinding.h"
#include "util/strings/StringTable.h"

using namespace quendle;
using namespace quendle::test;

namespace {

// What a command-line error looks like on the console: message, blank line, usage.
std::string errorOutput(const std::string& message, const std::string& usage) {
    return (message.empty() ? "" : message + "\n\n") + usage + "\n";
}

const std::string prog = CommandContainerImpl::programName();
const std::string topLevelUsage =
    "Usage:\n" + prog + "   /Update   <appv_package>  *<command>\n\n" + prog + "   /Help  [ <Help>]\n\n";

} // namespace

TEST(CommandParser, ValuesComeInDeclarationOrderWithDefaultsForAbsentParameters) {
    RecordingContainer c;
    c.executeCommand("set-nodetext", {"appxmanifest.XML", "-XPATH", "//a"});
    c.executeCommand("Set-RegistryValue", {"REGISTRY\\MACHINE\\x", "-pathvariable", "-type", "DWORD"});
    c.executeCommand("Set-RegistryValue", {"REGISTRY\\USER\\y", "-offset", "-5"});
    c.executeCommand("Update", {"p.appv", "/Del-File", "Root\\a", "-x"});
    c.executeCommand("Set-NodeText", {"StreamMap.xml", "-xpath", ""}); // an empty value is a value
    c.executeCommand("Pick", {"-right", "r"});
    c.executeCommand("uPdAtE", {"p", "Help"});
    // Values are passed on as typed; command names ignore ASCII case.
    EXPECT_EQ(c.calls, (std::vector<RecordingContainer::Call>{
                           {"Set-NodeText", {"appxmanifest.XML", "//a", ""}},
                           {"Set-RegistryValue", {"REGISTRY\\MACHINE\\x", "DWORD", "true", ""}},
                           {"Set-RegistryValue", {"REGISTRY\\USER\\y", "", "false", "-5"}},
                           {"Update", {"p.appv", "/Del-File", "Root\\a", "-x"}},
                           {"Set-NodeText", {"StreamMap.xml", "", ""}},
                           {"Pick", {"", "r", "false"}},
                           {"Update", {"p", "Help"}}}));
}

TEST(CommandParser, EachCommandLineErrorShowsItsMessageAndTheRightUsage) {
    RecordingContainer c;
    struct Case {
        std::string command, args;    // the arguments joined by single spaces
        std::string message, usageOf; // the command whose usage follows; "" for the general usage
    };
    const std::string missingXpath = "Value is missing for the parameter -xpath.\n", node = "Set-NodeText",
                      unknownXpath = "Unknown parameter: -xpath. Maybe you should use instead: -xpath. \n";
    const Case cases[] = {
        // A positional parameter is taken only at its own index.
        {"Add-File", "-x b", "A required argument is missing: <file_package_path>.\n", "Add-File"},
        {"Update", "p.appv", "A required argument is missing: <command>.\n", ""},
        {"Update", "p.appv Del-File ", "", ""}, // the rest never takes an empty argument
        // Within three edits of both Add-File (1) and Del-File (3): the later one in the table wins.
        {"Xdd-File", "", "Command \"Xdd-File\" is unknown. Maybe you should use instead \"Del-File\"", ""},
        {"", "", "", ""},
        // A huge typed name is rejected without a suggestion search over its whole length, and
        // named by its start.
        {std::string(2'000'000, 'U'), "", "Command \"" + std::string(80, 'U') + "...\" is unknown.", ""},
        {node, "StreamMap.xml -xpath", missingXpath, node},
        // The next argument begins with '-': it is not taken as the value.
        {node, "StreamMap.xml -xpath -nodetext t", missingXpath, node},
        {node, "StreamMap.xml -nodetext t",
         "A required argument is missing: -xpath <xml_xpath_expression>.\n", node},
        // A positional parameter has no name: its placeholder stands in for it.
        {node, "Foo.xml -xpath x", "Invalid \"appv_manifest_file\" parameter value: \"Foo.xml\".", node},
        {node, "StreamMap.xml -xpath a -xpth b",
         "Unknown parameter: -xpth. Maybe you should use instead: -xpath. \n", node},
        // A repeated parameter: the first one is used, the second is left over.
        {node, "StreamMap.xml -xpath a -xpath b", unknownXpath, node},
        // Three edits away still earns a suggestion; four do not.
        {node, "StreamMap.xml -xpath a -xp",
         "Unknown parameter: -xp. Maybe you should use instead: -xpath. \n", node},
        {node, "StreamMap.xml -xpath a -x", "Unknown parameter: -x. \n", node},
        // Several leftovers, of which only dashed ones are named.
        {node, "StreamMap.xml -xpath a -verbose loose -q",
         "Unknown parameter: -verbose. \nUnknown parameter: -q. \n", node},
        {"Del-File", "Root\\a stray", "", "Del-File"},
        {"Pick", "-flag",
         "One of the following parameters is required:\n-left <xml_xpath_expression> | -right\n", "Pick"},
        {"Pick", "-left l -right r", "", "Pick"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command.substr(0, 20) + " " + k.args);
        uint32_t code = 0;
        const std::string usage = k.usageOf.empty() ? c.getGeneralUsage() : c.getCommandUsage(k.usageOf);
        const std::vector<std::string> args = k.args.empty() ? std::vector<std::string>{} : words(k.args);
        EXPECT_EQ(presentedError([&] { c.executeCommand(k.command, args); }, &code),
                  errorOutput(k.message, usage));
        EXPECT_EQ(code, GenericErrorCode);
    }
    EXPECT_TRUE(c.calls.empty());
}

// The real table's usage lines, help and colours are checked whole on the program's output
// (CliTest, against general-usage.txt); here what only this table has: a one-of group and a
// command without a handler.
TEST(CommandParser, OneOfUsageAndAMissingHandlerIsAnOrdinaryError) {
    RecordingContainer c;
    EXPECT_EQ(c.getCommandUsage("Pick"),
              topLevelUsage + "  /Pick  { -left <xml_xpath_expression> | -right <Pick> }\n\n");
    EXPECT_EQ(c.getCommandUsage("del-file"), topLevelUsage + "  /Del-File   <file_package_path>\n\n");
    uint32_t code = 0;
    EXPECT_HAS(presentedError([&] { c.executeCommand("Broken", {}); }, &code), "bad_function_call");
    EXPECT_EQ(code, GenericErrorCode);
}

// The table hands the parsed values to typed functions. That they arrive in order, a switch as
// its truth and a rest parameter whole, every command-line test shows (NewElementWithCreateIfNotExist
// runs with and without the switch); here what no command line can reach: a wrong count.
TEST(CommandBinding, AWrongCountIsAnInternalErrorAndAHandlersResultPassesThrough) {
    CommandHandler fixed = typedHandler([](const std::string&, std::string_view, bool) {});
    CommandHandler rest =
        typedHandler([](const std::string&, const std::vector<std::string>&) { return 7u; });
    EXPECT_EQ(rest({"pkg"}), 7u);
    for (const CommandValues& wrong : {CommandValues{"a", "b"}, CommandValues{"a", "b", "true", "d"}})
        EXPECT_EQ(failureOf([&] { fixed(wrong); }), loadString(Msg::UnexpectedException)) << wrong.size();
    EXPECT_THROW(rest({}), Exception);
}
