#include "cli/CommandFile.h"
#include "CommandTestSupport.h"

#include <chrono>

using namespace quendle;
using namespace quendle::test;

namespace {

using Lines = std::vector<CommandValues>;

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
            out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    }

    // Runs the file; the values of every executed line, in order.
    Lines runFile(const std::string& bytes, bool noFail = false) {
        RecordingContainer container;
        printed([&] { CommandFile(CommandFileMarker, &container).run(write(bytes), noFail); });
        Lines lines;
        for (const auto& call : container.calls)
            lines.push_back(call.values);
        return lines;
    }

    // The console text of a run that fails; its exit code in `code`.
    std::string failingRun(const std::string& bytes, uint32_t& code, bool noFail = false,
                           RecordingContainer* container = nullptr) {
        RecordingContainer own;
        CommandFile file(CommandFileMarker, container ? container : &own);
        std::string path = write(bytes);
        return presentedError([&] { file.run(path, noFail); }, &code, &echoed_);
    }

    std::string echoed_; // what the last failing run printed on standard output

    ScratchDir dir_;
    int count_ = 0;
};

const std::string formatError =
    "Unsupported command file format. The supported file formats are: ANSI, Unicode Big Endian and Unicode "
    "Little Endian. The first line of the file must begin with \";qdc\".\n";

} // namespace

TEST_F(CommandFileTest, EncodingsCommentsBlankLinesAndLineEnds) {
    std::u16string text = u";qdc\r\nDel-File Root\\\u00E9t\u00E9\U0001F600.txt\r\n";
    for (bool be : {false, true})
        EXPECT_EQ(runFile(utf16(text, be)), (Lines{{"Root\\\xC3\xA9t\xC3\xA9\xF0\x9F\x98\x80.txt"}})) << be;
    EXPECT_EQ(runFile(";qdc\nDel-File Root\\\xC3\xA9t\xC3\xA9.txt\n"),
              (Lines{{"Root\\\xC3\xA9t\xC3\xA9.txt"}}));
    // ANSI bytes that are not UTF-8 are read as Windows-1252.
    EXPECT_EQ(runFile(";qdc\nDel-File caf\xE9\x80\n"), (Lines{{"caf\xC3\xA9\xE2\x82\xAC"}}));
    EXPECT_EQ(
        runFile(";qdc\r\n; Del-File commented\r\n\r\n   \r\n  Del-File a  \rDel-File b\n\n;x\nDel-File c"),
        (Lines{{"a"}, {"b"}, {"c"}}));
    // Blank lines before the marker are fine; the last line needs no line end; NUL is a character.
    EXPECT_EQ(runFile("\n  \t\r\n   \n;qdc whatever follows\nDel-File a"), (Lines{{"a"}}));
    EXPECT_TRUE(runFile(";qdc").empty());
    EXPECT_EQ(runFile(std::string(";qdc\nDel-File a\0b\n", 17)), (Lines{{std::string("a\0b", 3)}}));
}

TEST_F(CommandFileTest, MarkerIsCheckedOnTheFirstNonBlankLine) {
    for (const std::string& bad :
         {std::string("\xEF\xBB\xBF;qdc\nDel-File a\n"), std::string(";QDC\nDel-File a\n"),
          std::string("Del-File a\n"), std::string(""), std::string(";"), std::string(";qd"),
          utf16(u"; qdc\n", false), std::string("\0\0;qdc\n", 7)}) {
        uint32_t code = 0;
        EXPECT_EQ(failingRun(bad, code), formatError) << bad;
        EXPECT_EQ(code, CommandFileFormatErrorCode);
    }
}

TEST_F(CommandFileTest, VariablesExpandAndQuotedWordsTakeDoubledQuotes) {
    ::setenv("QUENDLE_CF_DIR", "/opt/build", 1);
    ::unsetenv("QUENDLE_CF_UNSET");
    EXPECT_EQ(runFile(";qdc\n"
                      "Add-File Root\\a &QUENDLE_CF_DIR&/a\n"
                      "Add-File Root\\b %QUENDLE_CF_DIR%/b\n"
                      "Add-File R&D x&y\n"              // nothing expands: '&' kept
                      "Add-File R&D %QUENDLE_CF_DIR%\n" // something expands: '&' became '%'
                      "Add-File %QUENDLE_CF_UNSET% 50%&QUENDLE_CF_DIR&\n"
                      "Add-File \"Root\\My App\\a.txt\" \"C:\\x \"\"y\"\".txt\"\n"
                      "Set-NodeText AppxManifest.xml -xpath \"//appx:Properties/appx:Description\" "
                      "-nodetext \"a \"\"quoted\"\" word\"\n"),
              (Lines{{"Root\\a", "/opt/build/a"},
                     {"Root\\b", "/opt/build/b"},
                     {"R&D", "x&y"},
                     {"R%D", "/opt/build"},
                     {"%QUENDLE_CF_UNSET%", "50%/opt/build"},
                     {"Root\\My App\\a.txt", "C:\\x \"y\".txt"},
                     {"AppxManifest.xml", "//appx:Properties/appx:Description", "a \"quoted\" word"}}));
    EXPECT_EQ(CommandFile::expandVariables("a %% b"), "a %% b");
    EXPECT_EQ(CommandFile::expandVariables("&QUENDLE_CF_DIR"), "&QUENDLE_CF_DIR");
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

TEST_F(CommandFileTest, EchoesEachLineAndNoFailGoesOnAfterOrdinaryErrorsOnly) {
    uint32_t code = 0;
    EXPECT_HAS(failingRun(";qdc\nDel-File \"open\nDel-File b\n", code),
               "Misplaced or missing double quote in the command line: Del-File \"open");
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(runFile(";qdc\nDel-File \"a\"b\nDel-File c\n", true), (Lines{{"c"}}));

    RecordingContainer container;
    container.onCall = [](const std::string& name, const CommandValues& v) {
        if (!v.empty() && v[0] == "missing")
            throw Exception(Msg::FileNotFound, v[0]);
        ConsoleWriter::installed()->writeLine("ran " + name);
    };
    const std::string text = ";qdc note\nDel-File missing\n;x\nDel-File ok\nAdd-Fil x y\nDel-File never\n";
    // The lines and what they print on standard output, the errors on standard error.
    EXPECT_EQ(failingRun(text, code, true, &container),
              "File not found: \"missing\".\n"
              "Command \"Add-Fil\" is unknown. Maybe you should use instead \"Add-File\"\n\n" +
                  container.getGeneralUsage() + "\n");
    EXPECT_EQ(echoed_, "Del-File missing\nDel-File ok\nran Del-File\nAdd-Fil x y\n");
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(container.calls.size(), 2u);
    container.calls.clear();
    EXPECT_EQ(failingRun(text, code, false, &container), "File not found: \"missing\".\n");
    EXPECT_EQ(echoed_, "Del-File missing\n");
    EXPECT_EQ(container.calls.size(), 1u);
}

TEST_F(CommandFileTest, UnreadableFilesAndOddUtf16) {
    RecordingContainer container;
    CommandFile file(CommandFileMarker, &container);
    uint32_t code = 0;
    // A missing file and a folder are CliTest's; an unreadable one needs a user other than root.
    const std::string unreadable = write(";qdc\n");
    ::chmod(unreadable.c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(presentedError([&] { file.run(unreadable, false); }),
                  "File not found: \"" + unreadable + "\".\n");
    }
    EXPECT_EQ(presentedError([&] { file.run(std::string("a\0b", 3), false); }).rfind("File not found", 0),
              0u);
    // An odd byte count fails after the complete lines.
    EXPECT_EQ(failingRun(utf16(u";qdc\nDel-File a\nDel-File b", false) + "x", code, false, &container),
              "Unexpected exception.\n");
    EXPECT_EQ(echoed_, "Del-File a\n");
    EXPECT_EQ(code, GenericErrorCode);
    EXPECT_EQ(container.calls.size(), 1u);
}

// A named pipe as the command file is EndToEndInterrupt's: every run there reads one.
TEST_F(CommandFileTest, HugeLineEndsQuickly) {
    auto start = std::chrono::steady_clock::now();
    uint32_t code = 0;
    EXPECT_HAS(failingRun(";qdc\n" + std::string(10u << 20, 'A') + "\n", code), "Valid commands:");
    EXPECT_EQ(code, GenericErrorCode);
    // Linear, even under sanitizers.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}
