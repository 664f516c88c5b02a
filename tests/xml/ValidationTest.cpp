#include "support/TestSupport.h"
#include "xml/DocumentLimits.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/XslTransform.h"


using namespace quendle;
using namespace quendle::test;

// Validation against a collection of schemas is the package's ManifestValidatorTest, with the
// program's own schemas; xmllint compiles each of them (tests/xml/tests.cmake).

// Bounds on what a part may make the later steps do: attributes per element and entity expansion.
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
    const std::string saved = readFile(dir / "out.xml");
    EXPECT_LACKS(saved, "DOCTYPE");
    EXPECT_LACKS(saved, "ENTITY");
    EXPECT_HAS(saved, "<t>Demo &amp; more! Demo &amp; more!</t>");
    EXPECT_HAS(saved, "a=\"[Demo &amp; more]\"");

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
    EXPECT_EQ(thrown<XmlParseException>([&] { doc.LoadXml("\n\n" + crowded); }).errors().at(0).line, 3);
}

namespace {

const char* EchoParam = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:param name="p" select="'default'"/>
  <xsl:template match="/"><out><xsl:value-of select="$p"/></out></xsl:template>
</xsl:stylesheet>)";

std::string transformText(const std::string& stylesheetText,
                          const std::vector<std::pair<std::string, std::string>>& params) {
    MsXmlDomDocument sheet("t.xsl");
    sheet.LoadXml(stylesheetText);
    MsXmlDomDocument source("in.xml");
    source.LoadXml("<in/>");
    XslTransform transform;
    transform.SetStylesheet(sheet);
    for (const auto& [n, v] : params)
        transform.AddParameter(n, v);
    MsXmlDomDocument result("out.xml");
    transform.Transform(source, result);
    return result.GetDocumentElement()->GetText();
}

} // namespace

TEST(XslTransform, ParametersArePassedLiterallyAndErrorsRaiseTheirCodeAndText) {
    EXPECT_EQ(transformText(EchoParam, {{"p", R"(it's "quoted")"}}), R"(it's "quoted")");
    EXPECT_EQ(transformText(EchoParam, {{"p", "$p concat('x')"}}), "$p concat('x')");
    EXPECT_EQ(transformText(EchoParam, {{"p", ""}}), "");
    EXPECT_EQ(transformText(EchoParam, {}), "default");
    // A repeated name is passed twice; the first value is the one the stylesheet sees.
    EXPECT_EQ(transformText(EchoParam, {{"p", "one"}, {"p", "two"}}), "one");

    // A rejected stylesheet raises 65026; runtime errors carry their text.
    for (const char* sheet :
         {"<notxsl/>", "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/"
                       "XSL/Transform\"><xsl:template match=\"/\"><xsl:bogus/></xsl:template>"
                       "</xsl:stylesheet>"})
        EXPECT_EQ(failureOf([&] { transformText(sheet, {{"p", "x"}}); }), "Invalid XSL transform.") << sheet;

    auto runtime = thrown<Exception>([] {
        transformText(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
          <xsl:template match="/"><xsl:message terminate="yes">stop here</xsl:message></xsl:template></xsl:stylesheet>)",
                      {});
    });
    EXPECT_HAS(runtime.message(), "stop here");
    EXPECT_EQ(runtime.code(), 0x80004005u);
}

TEST(XslSecurity, StylesheetsCannotReadOrWriteFiles) {
    ScratchDir dir;
    writeFile(dir / "secret.xml", "<s>TOP-SECRET-TEXT</s>");
    const std::string reader =
        R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
      <xsl:template match="/"><out><xsl:value-of select="document(')" +
        dir / "secret.xml" + R"X(')"/></out></xsl:template></xsl:stylesheet>)X";
    std::string read;
    const std::string failure = failureOf([&] { read = transformText(reader, {}); });
    EXPECT_LACKS(read + failure, "TOP-SECRET-TEXT");
    const std::string importer =
        R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
      <xsl:import href=")" +
        dir / "other.xsl" + R"("/><xsl:template match="/"><out/></xsl:template></xsl:stylesheet>)";
    writeFile(dir / "other.xsl", EchoParam);
    EXPECT_THROW(transformText(importer, {}), Exception);

    const std::string writer =
        R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform" xmlns:exsl="http://exslt.org/common" extension-element-prefixes="exsl">
      <xsl:template match="/"><exsl:document href=")" +
        dir / "written.xml" + R"("><w/></exsl:document><out/></xsl:template></xsl:stylesheet>)";
    failureOf([&] { transformText(writer, {}); });
    EXPECT_FALSE(std::filesystem::exists(dir / "written.xml"));
}

TEST(ManifestNormalization, MovesAppVContentToTheNewestNamespaceByTheRules) {
    const std::string input = R"(<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest"
      xmlns:appv="http://schemas.microsoft.com/appv/2010/manifest"
      xmlns:appv13="http://schemas.microsoft.com/appv/2013/manifest"
      xmlns:foo="urn:foo" xmlns:bar="urn:bar"
      IgnorableNamespaces="appv" appv:IgnorableNamespaces="foo nothere" appv13:Kept="r" foo:Root="f">
  <!-- a comment -->
  <Identity Name="n" appv:PackageId="p" foo:Gone="g" bar:Stays="s"/>
  <appv:Extensions><appv13:Extension Category="c" appv:Category2="d"><foo:Ext/></appv13:Extension></appv:Extensions>
  <foo:Dropped><appv:Inner/></foo:Dropped>
  <bar:Copied><appv:Inner appv:A="1"/></bar:Copied>
  <?pi data?>
</Package>)";
    MsXmlDomDocument stylesheet("UpdateToNewestNamespace.xsl");
    stylesheet.LoadFromResource(103);
    XslTransform transform;
    transform.SetStylesheet(stylesheet);
    transform.AddParameter("understoodNamespaces",
                           "[http://schemas.microsoft.com/appv/2010/manifest][http://schemas.microsoft.com/"
                           "appv/2013/manifest][http://schemas.microsoft.com/appv/2014/manifest]");
    transform.AddParameter("outputNamespace", "http://schemas.microsoft.com/appv/2014/manifest");
    transform.AddParameter("nsForIgnorableNamespace", "http://schemas.microsoft.com/appv/2010/manifest");
    MsXmlDomDocument source("AppxManifest.xml");
    source.LoadXml(input);
    MsXmlDomDocument result("AppxManifest.xml");
    transform.Transform(source, result);
    EXPECT_EQ(result.encoding(), "UTF-8");

    NamespaceMap map;
    result.SetProperty("SelectionNamespaces", "xmlns:x='http://schemas.microsoft.com/appx/2010/manifest' "
                                              "xmlns:v='http://schemas.microsoft.com/appv/2014/manifest' "
                                              "xmlns:old='http://schemas.microsoft.com/appv/2013/manifest' "
                                              "xmlns:old10='http://schemas.microsoft.com/appv/2010/manifest' "
                                              "xmlns:foo='urn:foo' xmlns:bar='urn:bar'");
    auto root = result.GetDocumentElement();
    const std::string xml = result.GetXml();
    // Root: the ignorable list in the 2010 namespace goes, everything else stays as it was. App-V
    // attributes on an AppX element move to 2014, ignorable ones go, others stay. App-V elements of
    // 2010 and 2013 are 2014 elements, their App-V attributes unqualified.
    std::string found;
    for (const char* xpath : {"@old10:IgnorableNamespaces", "@IgnorableNamespaces", "@old:Kept", "@foo:Root",
                              "x:Identity/@v:PackageId", "x:Identity/@foo:Gone", "x:Identity/@bar:Stays",
                              "v:Extensions/v:Extension[@Category='c'][@Category2='d']", "//foo:Ext",
                              "//foo:Dropped", "bar:Copied/v:Inner/@A"})
        found += root->SelectSingleNode(xpath) ? '1' : '0';
    EXPECT_EQ(found, "01111011001") << xml;
    EXPECT_LACKS(xml, "comment");
    EXPECT_LACKS(xml, "<?pi");
}
