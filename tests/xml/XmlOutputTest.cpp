#include "xml/XmlOutput.h"
#include "core/Exception.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

// Only UTF-8 is ever written (the other encodings and empty-attribute omission have no user), so
// those are left untested.
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
