#include "CommandTestSupport.h"

using namespace quendle;
using namespace quendle::test;

TEST(ConsoleWriter, LineEndsBecomeLfAndALoneCarriageReturnStays) {
    CapturedOutput capture;
    ConsoleWriter* w = ConsoleWriter::installed();
    w->write("a\r\nb\n");
    w->write("\rprogress 50%");
    w->writeLine("\xC3\xA9t\xC3\xA9\r\n");
    EXPECT_EQ(capture.take(), "a\nb\n\rprogress 50%\xC3\xA9t\xC3\xA9\n\n");
}

TEST(ConsoleWriter, ColourScopesNestAndRestore) {
    CapturedOutput capture(true);
    ConsoleWriter* w = ConsoleWriter::installed();
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
    EXPECT_EQ(capture.take(), "\x1b[32mg\x1b[90mx\x1b[32mg\x1b[0mplain");
}

TEST(CommandLineException, CloneKeepsContainerAndCommand) {
    RecordingContainer c;
    CommandLineException e(&c, "Del-File", "message");
    auto clone = e.Clone(false);
    const auto& copy = dynamic_cast<const CommandLineException&>(*clone);
    EXPECT_EQ(copy.container(), &c);
    EXPECT_EQ(copy.detail(), "Del-File");
    EXPECT_EQ(copy.GetKindName(), "EXCEPTION_CMD");
    EXPECT_EQ(presentedError([&] { clone->Throw(); }), "message\n\n" + c.getCommandUsage("Del-File") + "\n");
}
