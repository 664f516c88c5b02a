#include "ArchiveTestSupport.h"
#include "archive/PercentEncoding.h"
#include "core/Exception.h"
#include "xml/XmlOutput.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

TEST(PercentEncoding, PackagePathsAndEntryNames) {
    EXPECT_EQ(percentEncodePackagePath(" @$+,/:;=?&%<>{}[]()#^!*'"),
              "%20%40%24%2B%2C%2F%3A%3B%3D%3F%26%25%3C%3E%7B%7D%5B%5D%28%29%23%5E%21%2A%27");
    EXPECT_EQ(percentEncodePackagePath("Root\\caf\xC3\xA9-_.~"), "Root\\caf\xC3\xA9-_.~");
    EXPECT_EQ(percentEncodeEntryName("Root\\caf\xC3\xA9 x"), "Root/caf%C3%A9 x");

    // Escapes are bytes, so UTF-8 sequences come back; broken ones stay; decoded once.
    EXPECT_EQ(each(percentDecode, {"My%20App%5b1%5D", "caf%C3%A9", "100%", "%2", "%zz%4", "%2525"}),
              "My App[1]|caf\xC3\xA9|100%|%2|%zz%4|%25");
    EXPECT_EQ(percentDecodeCharacters("A%20B%E9"), "A B\xC3\xA9") << "an escape names a character";
    // Encoding then decoding gives the package path back.
    std::string path = "Root\\a b\\#1 & [2] {3} 100%.txt";
    EXPECT_EQ(percentDecode(percentEncodePackagePath(path)), path);
}

namespace {

// Collects reports instead of throwing, to see which kinds the writer raises.
struct RecordingReporter : IFileErrorReporter {
    std::vector<int> kinds;
    void Report(std::source_location, int kind, const std::string&, const SystemError&) override {
        kinds.push_back(kind);
    }
};

} // namespace

TEST(XmlOutput, IndentationEscapingAndMatchedEndTags) {
    ScratchDir dir;
    std::string path = dir / "out.xml";
    {
        XmlOutput out(ExceptionFileErrorReporter::instance(), path);
        out.WriteDeclaration();
        out.WriteDeclaration();
        out.StartElement("Root", {"a", "", "empty"}, {"a<b&\"c\"'>", "skipped", ""}, false);
        out.StartElement("Leaf", {}, {}, true);
        out.StartElement("Text", {"t"}, {"x\ty\nz"}, true, "a<b&\"c\"\ty\x01");
        out.StartElement("Open", {}, {}, false, "inner & text");
        EXPECT_FALSE(out.EndElement("Root")) << "not the innermost element";
        EXPECT_TRUE(out.EndElement("Open"));
        out.EndAll();
        EXPECT_FALSE(out.EndElement("Root")) << "nothing open";
        EXPECT_EQ(out.lineCount(), 8u);
        out.Close();
    }
    EXPECT_EQ(readFile(path), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                              "<Root a=\"a&lt;b&amp;&quot;c&quot;&apos;&gt;\" empty=\"\">\n"
                              "  <Leaf/>\n"
                              "  <Text t=\"x&#9;y&#10;z\">a&lt;b&amp;\"c\"\ty&#1;</Text>\n"
                              "  <Open>\n"
                              "    inner &amp; text\n"
                              "  </Open>\n"
                              "</Root>\n");
    XmlOutput omit(ExceptionFileErrorReporter::instance(), path);
    omit.setOmitEmptyAttributes(true);
    omit.setStandalone(false);
    omit.WriteDeclaration();
    omit.StartElement("E", {"x", "y"}, {"", "1"}, true);
    omit.Close();
    EXPECT_EQ(readFile(path), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n<E y=\"1\"/>\n");
}

TEST(XmlOutput, EncodingsAndByteOrderMarks) {
    ScratchDir dir;
    auto writeWith = [&](XmlFileEncoding encoding, bool append = false, bool buffered = false) {
        std::string path = dir / "enc.xml";
        XmlOutput out(ExceptionFileErrorReporter::instance(), path, {buffered, append, encoding});
        out.StartElement("\xC3\xA9", {}, {}, true);
        out.StartElement("b", {}, {}, true);
        out.Close();
        return readFile(path);
    };
    EXPECT_EQ(writeWith(XmlFileEncoding::Utf8), "<\xC3\xA9/>\n<b/>\n");
    EXPECT_EQ(writeWith(XmlFileEncoding::Utf8WithBom), "\xEF\xBB\xBF<\xC3\xA9/>\n<b/>\n") << "one mark";
    EXPECT_EQ(writeWith(XmlFileEncoding::Utf8WithBom, true),
              "\xEF\xBB\xBF<\xC3\xA9/>\n<b/>\n<\xC3\xA9/>\n<b/>\n")
        << "no second mark when appending";
    EXPECT_EQ(writeWith(XmlFileEncoding::Utf16LeWithBom, false, true),
              std::string("\xFF\xFE<\0\xE9\0/\0>\0\n\0<\0b\0/\0>\0\n\0", 22));
    EXPECT_EQ(writeWith(XmlFileEncoding::Utf16Be), std::string("\0<\0\xE9\0/\0>\0\n\0<\0b\0/\0>\0\n", 20));
    EXPECT_EQ(writeWith(XmlFileEncoding::Windows1252), "<\xE9/>\n<b/>\n");
    EXPECT_EQ(XmlOutput::encode("\xE2\x82\xAC \xF0\x9F\x98\x80", XmlFileEncoding::Windows1252, false),
              "\x80 ?");
    EXPECT_EQ(XmlOutput::encode("\xF0\x9F\x98\x80", XmlFileEncoding::Utf16Le, false),
              std::string("\x3D\xD8\x00\xDE", 4));
    EXPECT_EQ(XmlOutput::encode("a", static_cast<XmlFileEncoding>(12), true), "");

    RecordingReporter reporter;
    XmlOutput unknown(reporter, dir / "u.xml", {false, false, static_cast<XmlFileEncoding>(12)});
    unknown.StartElement("a", {}, {}, true);
    EXPECT_EQ(reporter.kinds, std::vector<int>{2}) << "text that becomes no bytes cannot be written";
}

TEST(XmlOutput, FileErrorsBecomeExceptionsWithThePath) {
    ScratchDir dir;
    std::string path = dir / "no/such/folder/x.xml";
    const auto e = thrown<Exception>([&] { XmlOutput out(ExceptionFileErrorReporter::instance(), path); });
    EXPECT_EQ(e.message(), "Error opening file: \"" + path + "\".");
    EXPECT_HAS(e.sourceFile(), "XmlOutput");
    if (std::filesystem::exists("/dev/full")) {
        XmlOutput full(ExceptionFileErrorReporter::instance(), "/dev/full");
        full.StartElement("a", {}, {}, true);
        EXPECT_EQ(failureOf([&] { full.Close(); }), "File \"/dev/full\" could not be written.");
    }
}
