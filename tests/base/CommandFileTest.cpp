#include "cli/CommandFile.h"
#include "CommandTestSupport.h"
#include "support/TestSupport.h"

#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quendle;
using namespace quendle::test;

namespace {

class CommandFileTest : public testing::Test {
  protected:
    std::string write(const std::string& bytes) {
        std::string path = dir_ / ("commands" + std::to_string(++count_) + ".txt");
        writeFile(path, bytes);
        return path;
    }

    static std::string utf16(std::u16string_view text, bool bigEndian) {
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t c : text) {
            char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
            out += bigEndian ? hi : lo;
            out += bigEndian ? lo : hi;
        }
        return out;
    }

    // Runs the file; the values of every executed line, in order.
    std::vector<RecordingContainer::Call> runFile(const std::string& bytes, bool noFail = false) {
        RecordingContainer container;
        CommandFile file(CommandFileMarker, &container);
        file.run(write(bytes), noFail);
        return container.calls;
    }

    // The exit code and console text of a run that fails.
    std::string failingRun(const std::string& bytes, uint32_t& code, bool noFail = false) {
        RecordingContainer container;
        CommandFile file(CommandFileMarker, &container);
        std::string path = write(bytes);
        return presentedError([&] { file.run(path, noFail); }, &code);
    }

    ScratchDir dir_;
    int count_ = 0;
};

const std::string formatError =
    "Unsupported command file format. The supported file formats are: ANSI, Unicode Big Endian and Unicode "
    "Little Endian. The first line of the file must begin with \";qdc\".\n";

} // namespace

TEST_F(CommandFileTest, Utf16BothByteOrdersUtf8WithoutMarkAndWindows1252Run) {
    std::u16string text = u";qdc\r\nDel-File Root\\\u00E9t\u00E9\U0001F600.txt\r\n";
    for (bool be : {false, true}) {
        auto calls = runFile(utf16(text, be));
        ASSERT_EQ(calls.size(), 1u) << be;
        EXPECT_EQ(calls[0].values, (CommandValues{"Root\\\xC3\xA9t\xC3\xA9\xF0\x9F\x98\x80.txt"}));
    }
    auto calls = runFile(";qdc\nDel-File Root\\\xC3\xA9t\xC3\xA9.txt\n");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].values, (CommandValues{"Root\\\xC3\xA9t\xC3\xA9.txt"}));
    // ANSI bytes that are not UTF-8 are read as Windows-1252.
    calls = runFile(";qdc\nDel-File caf\xE9\x80\n");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].values, (CommandValues{"caf\xC3\xA9\xE2\x82\xAC"}));
}

TEST_F(CommandFileTest, MarkerIsCheckedOnTheFirstNonBlankLine) {
    uint32_t code = 0;
    EXPECT_EQ(failingRun("\xEF\xBB\xBF;qdc\nDel-File a\n", code), formatError); // UTF-8 byte-order mark
    EXPECT_EQ(code, CommandFileFormatErrorCode);
    EXPECT_EQ(failingRun(";QDC\nDel-File a\n", code), formatError);
    EXPECT_EQ(code, CommandFileFormatErrorCode);
    EXPECT_EQ(failingRun("Del-File a\n", code), formatError);
    EXPECT_EQ(failingRun("", code), formatError); // an empty file reads as two NUL characters
    EXPECT_EQ(code, CommandFileFormatErrorCode);
    EXPECT_EQ(failingRun(";", code), formatError);
    EXPECT_EQ(failingRun(";qd", code), formatError);
    EXPECT_EQ(failingRun(utf16(u"; qdc\n", false), code), formatError);
    EXPECT_EQ(failingRun(std::string("\0\0;qdc\n", 7), code), formatError);

    auto calls = runFile("\n  \t\r\n   \n;qdc whatever follows\nDel-File a");
    ASSERT_EQ(calls.size(), 1u); // blank lines first are fine; the last line needs no line end
    EXPECT_EQ(calls[0].values, (CommandValues{"a"}));
    EXPECT_TRUE(runFile(";qdc").empty());
    // NUL is an ordinary character.
    calls = runFile(std::string(";qdc\nDel-File a\0b\n", 17));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].values, (CommandValues{std::string("a\0b", 3)}));
}

TEST_F(CommandFileTest, CommentsBlankLinesAndLineEnds) {
    auto calls =
        runFile(";qdc\r\n; Del-File commented\r\n\r\n   \r\n  Del-File a  \rDel-File b\n\n;x\nDel-File c");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].values, (CommandValues{"a"}));
    EXPECT_EQ(calls[1].values, (CommandValues{"b"}));
    EXPECT_EQ(calls[2].values, (CommandValues{"c"}));
}

TEST_F(CommandFileTest, VariablesExpandBetweenAmpersandsOrPercentSigns) {
    ::setenv("QUENDLE_CF_DIR", "/opt/build", 1);
    ::unsetenv("QUENDLE_CF_UNSET");
    auto calls = runFile(";qdc\n"
                         "Add-File Root\\a &QUENDLE_CF_DIR&/a\n"
                         "Add-File Root\\b %QUENDLE_CF_DIR%/b\n"
                         "Add-File R&D x&y\n"              // nothing expands: '&' kept
                         "Add-File R&D %QUENDLE_CF_DIR%\n" // something expands: '&' became '%'
                         "Add-File %QUENDLE_CF_UNSET% 50%&QUENDLE_CF_DIR&\n");
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].values, (CommandValues{"Root\\a", "/opt/build/a"}));
    EXPECT_EQ(calls[1].values, (CommandValues{"Root\\b", "/opt/build/b"}));
    EXPECT_EQ(calls[2].values, (CommandValues{"R&D", "x&y"}));
    EXPECT_EQ(calls[3].values, (CommandValues{"R%D", "/opt/build"}));
    EXPECT_EQ(calls[4].values, (CommandValues{"%QUENDLE_CF_UNSET%", "50%/opt/build"}));
    EXPECT_EQ(CommandFile::expandVariables("a %% b"), "a %% b");
    EXPECT_EQ(CommandFile::expandVariables("&QUENDLE_CF_DIR"), "&QUENDLE_CF_DIR");
}

TEST_F(CommandFileTest, QuotedWordsWithDoubledQuotes) {
    auto calls = runFile(";qdc\n"
                         "Add-File \"Root\\My App\\a.txt\" \"C:\\x \"\"y\"\".txt\"\n"
                         "Set-NodeText AppxManifest.xml -xpath \"//appx:Properties/appx:Description\" "
                         "-nodetext \"a \"\"quoted\"\" word\"\n");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].values, (CommandValues{"Root\\My App\\a.txt", "C:\\x \"y\".txt"}));
    EXPECT_EQ(calls[1].values,
              (CommandValues{"AppxManifest.xml", "//appx:Properties/appx:Description", "a \"quoted\" word"}));
    // An empty quoted word is still a word; a tab is no separator.
    std::vector<std::string> words;
    EXPECT_TRUE(CommandFile::splitWords("Add-File pre\"fix x\"   \"\"", words));
    EXPECT_EQ(words, (std::vector<std::string>{"Add-File", "prefix x", ""}));
    EXPECT_FALSE(CommandFile::splitWords("Add-File \"open", words));
    EXPECT_EQ(words, (std::vector<std::string>{"Add-File"}));
    EXPECT_FALSE(CommandFile::splitWords("Add-File \"a\"b c", words));
    EXPECT_TRUE(CommandFile::splitWords("  Add-File\ta  b ", words));
    EXPECT_EQ(words, (std::vector<std::string>{"Add-File\ta", "b"}));
}

TEST_F(CommandFileTest, MalformedQuotingFailsTheLineWithoutRunningIt) {
    uint32_t code = 0;
    std::string out = failingRun(";qdc\nDel-File \"open\nDel-File b\n", code);
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_NE(out.find("Misplaced or missing double quote in the command line: Del-File \"open"),
              std::string::npos);

    RecordingContainer container;
    CommandFile file(CommandFileMarker, &container);
    CapturedOutput capture;
    file.run(write(";qdc\nDel-File \"a\"b\nDel-File c\n"), true);
    capture.take();
    ASSERT_EQ(container.calls.size(), 1u);
    EXPECT_EQ(container.calls[0].values, (CommandValues{"c"}));
}

TEST_F(CommandFileTest, EachLineIsEchoedBeforeItsOwnOutput) {
    RecordingContainer container;
    container.onCall = [](const std::string& name, const CommandValues&) {
        ConsoleWriter::installed()->writeLine("ran " + name);
    };
    CommandFile file(CommandFileMarker, &container);
    CapturedOutput capture;
    file.run(write(";qdc comment\nDel-File a\n;note\nAdd-File b c\n"), false);
    EXPECT_EQ(capture.take(), "Del-File a\nran Del-File\nAdd-File b c\nran Add-File\n");
}

TEST_F(CommandFileTest, NoFailGoesOnAfterOrdinaryErrorsButNotAfterCommandLineErrors) {
    RecordingContainer container;
    container.onCall = [](const std::string&, const CommandValues& v) {
        if (!v.empty() && v[0] == "missing")
            throw Exception(Msg::FileNotFound, v[0]);
    };
    CommandFile file(CommandFileMarker, &container);
    std::string path = write(";qdc\nDel-File missing\nDel-File ok\nAdd-Fil x y\nDel-File never\n");
    uint32_t code = 0;
    std::string out = presentedError([&] { file.run(path, true); }, &code);
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(out, "Del-File missing\nFile not found: \"missing\".\nDel-File ok\nAdd-Fil x y\n"
                   "Command \"Add-Fil\" is unknown. Maybe you should use instead \"Add-File\"\n\n" +
                       container.getGeneralUsage() + "\n");
    ASSERT_EQ(container.calls.size(), 2u);
    EXPECT_EQ(container.calls[1].values, (CommandValues{"ok"}));

    container.calls.clear();
    out = presentedError([&] { file.run(path, false); }, &code);
    EXPECT_EQ(out, "Del-File missing\nFile not found: \"missing\".\n");
    EXPECT_EQ(container.calls.size(), 1u);
}

TEST_F(CommandFileTest, UnopenableFilesAreNotFound) {
    uint32_t code = 0;
    RecordingContainer container;
    CommandFile file(CommandFileMarker, &container);
    std::string missing = dir_ / "none.txt";
    EXPECT_EQ(presentedError([&] { file.run(missing, false); }, &code),
              "File not found: \"" + missing + "\".\n");
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(presentedError([&] { file.run(dir_.path(), false); }, &code),
              "File not found: \"" + dir_.path() + "\".\n");
    EXPECT_EQ(
        presentedError([&] { file.run(std::string("a\0b", 3), false); }, &code).rfind("File not found", 0),
        0u);
    if (::geteuid() != 0) {
        std::string locked = write(";qdc\n");
        ::chmod(locked.c_str(), 0);
        EXPECT_EQ(presentedError([&] { file.run(locked, false); }, &code),
                  "File not found: \"" + locked + "\".\n");
    }
}

TEST_F(CommandFileTest, OddLengthUtf16FailsAfterTheCompleteLines) {
    RecordingContainer container;
    CommandFile file(CommandFileMarker, &container);
    std::string path = write(utf16(u";qdc\nDel-File a\nDel-File b", false) + "x");
    uint32_t code = 0;
    EXPECT_EQ(presentedError([&] { file.run(path, false); }, &code), "Del-File a\nUnexpected exception.\n");
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(container.calls.size(), 1u);
}

TEST_F(CommandFileTest, HugeLineEndsQuicklyWithACommandLineError) {
    auto start = std::chrono::steady_clock::now();
    uint32_t code = 0;
    std::string out = failingRun(";qdc\n" + std::string(10u << 20, 'A') + "\n", code);
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_NE(out.find("Valid commands:"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(60)); // linear, even under sanitizers
}

TEST_F(CommandFileTest, NamedPipeIsReadOnceItsWriterComes) {
    std::string fifo = dir_ / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ofstream(fifo) << ";qdc\nDel-File a\n";
    });
    RecordingContainer container;
    CommandFile file(CommandFileMarker, &container);
    CapturedOutput capture;
    file.run(fifo, false);
    writer.join();
    ASSERT_EQ(container.calls.size(), 1u);
    EXPECT_EQ(container.calls[0].values, (CommandValues{"a"}));
    ::unlink(fifo.c_str());
}
