#include "CommandTestSupport.h"
#include "os/ExceptionHandling.h"
#include "util/strings/MessageFormat.h"

#include <stdexcept>

using namespace quendle;
using namespace quendle::test;

namespace {

const char* const red = "\x1b[91m";
const char* const grey = "\x1b[90m";
const char* const reset = "\x1b[0m";

} // namespace

TEST(ValidationReport, ListsTheDocumentAroundEachErrorLine) {
    XmlParseException e("AppxManifest.xml", "<a>\r\n<b>\r\n<c x=>\r\n</b>\r\n</a>",
                        {{"Attribute value expected.", "<c x=>", 3}});
    EXPECT_EQ(e.reportText(), "\nValidation failed on AppxManifest.xml\n====================="
                              "\nReason: Attribute value expected.\nSource: <c x=>\nLine: 3\n"
                              "1: <a>\n2: <b>\n3: <c x=>\n4: </b>\n5: </a>\n");

    std::string hundredLines;
    for (int i = 1; i <= 100; ++i)
        hundredLines += "<line" + std::to_string(i) + "/>\n";
    XmlParseException big("big.xml", hundredLines, {{"r", "s", 50}, {"second", "", 0}});
    std::string report = big.reportText();
    EXPECT_HAS(report, "\n40: <line40/>\n");
    EXPECT_LACKS(report, "39: ");
    EXPECT_HAS(report, "\n60: <line60/>\n");
    EXPECT_LACKS(report, "61: ");
    // A record without a line has no context.
    EXPECT_EQ(report.substr(report.find("\nReason: second")), "\nReason: second\nSource: \nLine: 0\n");

    XmlParseException noContent("x.xml", "", {{"r", "s", 2}});
    EXPECT_EQ(noContent.reportText(),
              "\nValidation failed on x.xml\n=====================\nReason: r\nSource: s\nLine: 2\n");

    // On the console the error line is red and the context lines grey.
    XmlParseException shown("m.xml", "<a>\n<b/>\n</a>", {{"why", "<b/>", 2}});
    uint32_t code = 0;
    ColorsOn colors;
    EXPECT_EQ(presentedError([&] { shown.Throw(); }, &code),
              std::string(red) + "\nValidation failed on m.xml\n=====================" + reset + red +
                  "\nReason: why\nSource: <b/>\nLine: 2\n" + reset + grey + "1: <a>\n" + reset + red +
                  "2: <b/>\n" + reset + grey + "3: </a>\n" + reset);
    EXPECT_EQ(code, GenericErrorCode);
}

TEST(ValidationReport, StaysBoundedForThousandsOfErrorsOnOneHugeLine) {
    // One long line holding many errors, as a part with a thousand bad attributes has.
    std::string line = "<r " + std::string(64 * 1024, 'a') + "\xC3\xA9/>";
    std::vector<XmlParseErrorRecord> errors(1000, {"bad attribute", line, 1});
    XmlParseException e("p.xml", line, errors);
    std::string report = e.reportText();
    EXPECT_LT(report.size(), 40000u);
    EXPECT_HAS(report, "\n980 more errors are not shown.\n");
    EXPECT_HAS(report, "\nSource: <r aaa");
    EXPECT_HAS(report, "a [...]\nLine: 1\n");
    EXPECT_HAS(report, "\n1: <r aaa");
}

TEST(ExceptionPresenter, PresentsEachKindOnceWithItsExitCode) {
    // A stack trace travels with the message and is printed whole on the console.
    const std::string withTrace = std::string("short") + StackTraceMarker + "[0x00000001]  f()\n";
    const struct {
        std::function<void()> raise;
        std::string shown;
        uint32_t code;
    } cases[] = {
        {[] { throw Exception(Msg::FileNotFound, "C:\\x y"); }, "File not found: \"C:\\x y\".\n",
         GenericErrorCode},
        {[] { throw WindowsException(5); }, "Win32 Error [5]: \"Access is denied.\"\n", 5},
        {[] { throw WindowsException(0xDEAD); },
         "Win32 Error [57005]: \"Failed to get Windows error message [win32 error 0xdead].\"\n", 0xDEAD},
        {[] { throw std::runtime_error("disk on fire"); }, "disk on fire\n", GenericErrorCode},
        {[] { throw 42; }, "Unknown exception\n", GenericErrorCode},
        {[] { throw Exception(ErrorCode{CommandFileFormatErrorCode}, Msg::CommandFileFormat, ";qdc"); },
         formatMessageId(Msg::CommandFileFormat, {";qdc"}) + "\n", CommandFileFormatErrorCode},
        {[&] { throw Exception(withTrace); }, withTrace + "\n", GenericErrorCode},
    };
    for (const auto& c : cases) {
        uint32_t code = 0;
        EXPECT_EQ(presentedError(c.raise, &code), c.shown);
        EXPECT_EQ(code, c.code) << c.shown;
    }
}

TEST(ConsoleWriter, LineEndsBecomeLfALoneCarriageReturnStaysAndColourScopesNest) {
    ColorsOn colors;
    EXPECT_EQ(printed([] {
                  ConsoleWriter* w = ConsoleWriter::installed();
                  w->write("a\r\nb\n");
                  w->write("\rprogress 50%");
                  w->writeLine("\xC3\xA9t\xC3\xA9\r\n");
                  {
                      ConsoleColorScope green(AttributeGreen);
                      w->write("g");
                      {
                          ConsoleColorScope grey(AttributeGrey);
                          w->write("x");
                      }
                      w->write("g");
                  }
                  w->write("plain");
              }),
              "a\nb\n\rprogress 50%\xC3\xA9t\xC3\xA9\n\n\x1b[32mg\x1b[90mx\x1b[32mg\x1b[0mplain");
}
