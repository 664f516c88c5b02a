#include "core/ProgressLine.h"
#include "support/TestSupport.h"
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
    EXPECT_HAS(Exception(Msg::NullPointer).sourceLocationText(), "ExceptionPresenterTest.cpp:");
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

TEST(ConsoleWriter, ALineRewrittenInPlaceIsEndedByTheNextTextOnItsStream) {
    ConsoleWriter::install();
    EXPECT_EQ(printed(
                  [] {
                      ConsoleWriter* e = ConsoleWriter::errors();
                      e->writeTransient("\rA 1%");
                      e->writeLine("B");
                      e->writeTransient("\rC");
                      ConsoleWriter::installed()->write(""); // standard output is no terminal here
                      e->endTransient();
                      e->endTransient();
                  },
                  true),
              "\rA 1%\nB\n\rC\n");
}

TEST(ProgressLine, IntoAPipeTheTitleThenFiguresAtMostEveryFiveSecondsAndNothingWhenTurnedOff) {
    using namespace std::chrono_literals;
    ConsoleWriter::install();
    ProgressLine::Clock::time_point t{};
    auto run = [&] {
        return printed(
            [&] {
                ProgressLine line([&t] { return t; });
                line.begin("Packing files...", 1000, 1000ull << 20);
                for (int i = 0; i < 1000; ++i) { // a minute of work, a MiB every 60 ms
                    t += 60ms;
                    line.advance(1, 1 << 20);
                }
                line.end();
            },
            true);
    };
    const std::string log = run();
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(log.substr(start, end - start));
    ASSERT_EQ(lines.size(), 12u) << log; // the title and one line per 5.04 s
    EXPECT_EQ(lines[0], "Packing files...");
    EXPECT_EQ(lines[1], "Packing files... 8% (84 of 1000 entries, 84.0 MiB of 1000.0 MiB)");
    EXPECT_EQ(lines[11], "Packing files... 92% (924 of 1000 entries, 924.0 MiB of 1000.0 MiB)");

    ProgressLine::setQuiet(true);
    EXPECT_EQ(run(), "");
    ProgressLine::setQuiet(false);
    {
        ScopedEnv quiet("QUENDLE_PROGRESS", "0");
        EXPECT_EQ(run(), "");
    }

    const std::pair<uint64_t, const char*> sizes[] = {
        {0, "0 bytes"}, {1023, "1023 bytes"}, {1024, "1.0 KiB"}, {1536, "1.5 KiB"}, {5ull << 30, "5.0 GiB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(ProgressLine::sizeText(bytes), text);
}
