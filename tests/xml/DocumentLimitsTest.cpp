// Bounds on what a part may make the later steps do: attributes per element and entity expansion.
#include "xml/DocumentLimits.h"
#include "XmlTestSupport.h"
#include "xml/MsXmlDomDocument.h"

using namespace quendle;
using namespace quendle::xmltest;

namespace {

std::string withAttributes(uint64_t count) {
    std::string tag = "<r";
    for (uint64_t i = 0; i < count; ++i)
        tag += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return tag + "><c/></r>";
}

// The reasons of the refusal of a text, or empty when it loads.
std::string refusal(const std::string& text) {
    MsXmlDomDocument doc("part.xml");
    try {
        doc.LoadXml(text);
    } catch (const XmlParseException& e) {
        std::string reasons;
        for (const auto& record : e.errors())
            reasons += record.reason + "\n";
        return reasons;
    }
    return {};
}

} // namespace

TEST(DocumentLimits, AnElementMayCarryUpToTheAttributeLimitAndNoMore) {
    EXPECT_EQ(refusal(withAttributes(xmllib::MaxAttributesPerElement)), "");
    EXPECT_EQ(refusal(withAttributes(xmllib::MaxAttributesPerElement + 1)),
              "Element \"r\" has more than 1000 attributes.\n");
    // In UTF-16 the raw scan stands aside and the parser's guard refuses the tag.
    std::string ascii = withAttributes(xmllib::MaxAttributesPerElement + 1), utf16 = "\xFF\xFE";
    for (char c : ascii)
        utf16 += std::string{c, '\0'};
    EXPECT_EQ(refusal(utf16), "Element \"r\" has more than 1000 attributes.\n");
    // Namespace declarations count as attributes.
    std::string declarations = withAttributes(xmllib::MaxAttributesPerElement);
    EXPECT_EQ(refusal(declarations.insert(2, " xmlns:p=\"urn:p\"")),
              "Element \"r\" has more than 1000 attributes.\n");
}

TEST(DocumentLimits, EntitiesAreInlinedWithinTheBoundAndTheDtdIsNotWrittenBack) {
    ScratchDir dir;
    MsXmlDomDocument doc("part.xml");
    doc.LoadXml("<!DOCTYPE r [<!ENTITY e \"Demo &amp; more\"><!ENTITY f \"&e;!\">]>"
                "<r a=\"[&e;]\"><t>&f; &f;</t></r>");
    doc.Save(dir / "out.xml");
    std::string saved = readFile(dir / "out.xml");
    EXPECT_EQ(saved.find("DOCTYPE"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("ENTITY"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<t>Demo &amp; more! Demo &amp; more!</t>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("a=\"[Demo &amp; more]\""), std::string::npos) << saved;

    // Just past the bound in total, spread over references that are each small.
    std::string big(64 * 1024, 'x');
    std::string refs;
    for (uint64_t i = 0; i <= xmllib::MaxEntityExpansion / big.size(); ++i)
        refs += "&b;";
    EXPECT_EQ(refusal("<!DOCTYPE r [<!ENTITY b \"" + big + "\">]><r>" + refs + "</r>"),
              "Entity references expand to more than 1048576 bytes.\n");
    refs.resize(refs.size() - 3);
    EXPECT_EQ(refusal("<!DOCTYPE r [<!ENTITY b \"" + big + "\">]><r>" + refs + "</r>"), "");
}

TEST(DocumentLimits, TheRawScanCountsOnlyAttributesOfStartTags) {
    std::string many(2000, '=');
    // "=" in comments, CDATA, instructions, a DOCTYPE, text and quoted values is no attribute.
    std::string quiet = "<?xml version=\"1.0\"?><!DOCTYPE r [<!-- it's " + many + " --><!ENTITY e '" + many +
                        "'>]><?pi " + many + "?><r a=\"" + many + ">\" b='x'><![CDATA[<x " + many +
                        ">]]><!-- <y " + many + "> -->" + many + "</r>";
    EXPECT_EQ(refusal(quiet), "");
    // A value holding ">" does not end the tag for the count.
    std::string crowded = withAttributes(xmllib::MaxAttributesPerElement + 1);
    crowded.insert(crowded.find("a1=\"") + 4, "> ");
    EXPECT_EQ(refusal("<?xml version=\"1.0\"?>\n<!-- first -->\n" + crowded),
              "Element \"r\" has more than 1000 attributes.\n");
    MsXmlDomDocument doc("part.xml");
    try {
        doc.LoadXml("\n\n" + crowded);
        ADD_FAILURE() << "not refused";
    } catch (const XmlParseException& e) {
        EXPECT_EQ(e.errors().at(0).line, 3);
    }
}
