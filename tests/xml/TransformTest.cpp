#include "XmlTestSupport.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/XslTransform.h"

using namespace quendle;
using namespace quendle::xmltest;

namespace {

const char* EchoParam = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:param name="p" select="'default'"/>
  <xsl:template match="/"><out><xsl:value-of select="$p"/></out></xsl:template>
</xsl:stylesheet>)";

std::string transformText(const std::string& stylesheetText,
                          const std::vector<std::pair<std::string, std::string>>& params,
                          const std::string& input = "<in/>") {
    MsXmlDomDocument sheet("t.xsl");
    sheet.LoadXml(stylesheetText);
    MsXmlDomDocument source("in.xml");
    source.LoadXml(input);
    XslTransform transform;
    transform.SetStylesheet(sheet);
    for (const auto& [n, v] : params)
        transform.AddParameter(n, v);
    MsXmlDomDocument result("out.xml");
    transform.Transform(source, result);
    return result.GetDocumentElement()->GetText();
}

} // namespace

TEST(XslParameters, ArePassedLiterallyIncludingQuotesAndEmptyValues) {
    EXPECT_EQ(transformText(EchoParam, {{"p", R"(it's "quoted")"}}), R"(it's "quoted")");
    EXPECT_EQ(transformText(EchoParam, {{"p", "$p concat('x')"}}), "$p concat('x')");
    EXPECT_EQ(transformText(EchoParam, {{"p", ""}}), "");
    EXPECT_EQ(transformText(EchoParam, {}), "default");
    // A repeated name is passed twice; the first value is the one the stylesheet sees.
    EXPECT_EQ(transformText(EchoParam, {{"p", "one"}, {"p", "two"}}), "one");
}

TEST(XslErrors, RejectedStylesheetRaises65026AndRuntimeErrorsCarryTheirText) {
    auto bad = thrown<Exception>([] {
        transformText("<xsl:stylesheet version=\"1.0\" "
                      "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template "
                      "match=\"/\"><xsl:bogus/></xsl:template></xsl:stylesheet>",
                      {});
    });
    EXPECT_EQ(bad.message(), "Invalid XSL transform.");
    auto notXslt = thrown<Exception>([] { transformText("<notxsl/>", {{"p", "x"}}); });
    EXPECT_EQ(notXslt.message(), "Invalid XSL transform.");

    auto runtime = thrown<Exception>([] {
        transformText(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
          <xsl:template match="/"><xsl:message terminate="yes">stop here</xsl:message></xsl:template></xsl:stylesheet>)",
                      {});
    });
    EXPECT_NE(runtime.message().find("stop here"), std::string::npos) << runtime.message();
    EXPECT_EQ(runtime.code(), 0x80004005u);
}

TEST(XslSecurity, StylesheetsCannotReadOrWriteFiles) {
    ScratchDir dir;
    writeFile(dir / "secret.xml", "<s>TOP-SECRET-TEXT</s>");
    const std::string reader =
        R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
      <xsl:template match="/"><out><xsl:value-of select="document(')" +
        dir / "secret.xml" + R"X(')"/></out></xsl:template></xsl:stylesheet>)X";
    try {
        EXPECT_EQ(transformText(reader, {}).find("TOP-SECRET-TEXT"), std::string::npos);
    } catch (const Exception& e) {
        EXPECT_EQ(e.message().find("TOP-SECRET-TEXT"), std::string::npos);
    }
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
    try {
        transformText(writer, {});
    } catch (const Exception&) {
    }
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
    // Root: the ignorable list in the 2010 namespace goes, everything else stays as it was.
    EXPECT_FALSE(root->SelectSingleNode("@old10:IgnorableNamespaces")) << xml;
    EXPECT_TRUE(root->SelectSingleNode("@IgnorableNamespaces"));
    EXPECT_TRUE(root->SelectSingleNode("@old:Kept"));
    EXPECT_TRUE(root->SelectSingleNode("@foo:Root"));
    // App-V attributes on an AppX element move to 2014; ignorable ones go; others stay.
    EXPECT_TRUE(root->SelectSingleNode("x:Identity/@v:PackageId"));
    EXPECT_FALSE(root->SelectSingleNode("x:Identity/@foo:Gone"));
    EXPECT_TRUE(root->SelectSingleNode("x:Identity/@bar:Stays"));
    // App-V elements of 2010 and 2013 are 2014 elements; their App-V attributes unqualified.
    EXPECT_TRUE(root->SelectSingleNode("v:Extensions/v:Extension[@Category='c'][@Category2='d']")) << xml;
    EXPECT_FALSE(root->SelectSingleNode("//foo:Ext"));
    EXPECT_FALSE(root->SelectSingleNode("//foo:Dropped"));
    EXPECT_TRUE(root->SelectSingleNode("bar:Copied/v:Inner/@A")) << xml;
    EXPECT_EQ(xml.find("comment"), std::string::npos);
    EXPECT_EQ(xml.find("<?pi"), std::string::npos);
}
