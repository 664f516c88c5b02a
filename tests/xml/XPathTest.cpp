#include "XmlTestSupport.h"
#include "xml/MsXmlDomDocument.h"

using namespace quendle;
using namespace quendle::xmltest;

namespace {

const char* Manifest =
    R"(<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest" xmlns:appv="http://schemas.microsoft.com/appv/2010/manifest">
  <Identity Name="n" appv:PackageId="p-1" Version="1.0.0.0"/>
  <Properties><DisplayName>Name</DisplayName><Description></Description></Properties>
  <appv:Extensions><appv:Extension Category="AppV.Fonts"/></appv:Extensions>
</Package>)";

MsXmlDomDocument& loaded(MsXmlDomDocument& doc, const std::string& text, const std::string& prefix,
                         NamespaceMap& map) {
    doc.LoadXml(text);
    doc.SetupSelectionNamespaces(prefix, map);
    return doc;
}

} // namespace

TEST(XPathNamespaces, RootDeclarationsBecomeSelectionNamespacesAndTheTable) {
    MsXmlDomDocument doc("AppxManifest.xml");
    NamespaceMap map;
    loaded(doc, Manifest, "appx", map);
    EXPECT_EQ(doc.GetProperty("SelectionNamespaces"),
              "xmlns:appx='http://schemas.microsoft.com/appx/2010/manifest' "
              "xmlns:appv='http://schemas.microsoft.com/appv/2010/manifest'");
    EXPECT_EQ(map.at("http://schemas.microsoft.com/appx/2010/manifest"), "appx");
    EXPECT_EQ(map.at("http://schemas.microsoft.com/appv/2010/manifest"), "appv");

    auto root = doc.GetDocumentElement();
    auto identity = root->SelectSingleElement("appx:Identity");
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->GetAttribute("appv:PackageId"), "p-1");
    EXPECT_EQ(identity->GetAttribute("Missing"), "");
    EXPECT_EQ(root->SelectSingleNode("appx:Properties/appx:Description")->GetText(), "");
    EXPECT_EQ(root->SelectNodes("appv:Extensions/appv:Extension")->GetLength(), 1);
    // The default namespace has no name of its own in XPath: unprefixed steps find nothing.
    EXPECT_EQ(root->SelectSingleNode("Identity"), nullptr);

    // An attribute or a text match is not an element.
    EXPECT_EQ(root->SelectSingleElement("appx:Identity/@Name"), nullptr);
    EXPECT_EQ(root->SelectSingleElement("appx:Properties/appx:DisplayName/text()"), nullptr);
    ASSERT_TRUE(root->SelectSingleNode("appx:Identity/@Name"));
    EXPECT_EQ(root->SelectSingleNode("appx:Identity/@Name")->GetText(), "n");

    // The parent of the root is the document node, which works like any node.
    auto top = root->GetParent();
    ASSERT_TRUE(top);
    EXPECT_EQ(top->GetName(), "#document");
    EXPECT_TRUE(top->SelectSingleNode("/appx:Package/appx:Identity"));
    EXPECT_TRUE(top->HasChildNodes());
}

TEST(XPathNamespaces, RejectedExpressionsRaise65024WithTheExpression) {
    MsXmlDomDocument doc("AppxManifest.xml");
    NamespaceMap map;
    loaded(doc, Manifest, "appx", map);
    auto root = doc.GetDocumentElement();
    for (const std::string expr :
         {"appx:Identity[@Name='n'", "unknown:Identity", "count(appx:Identity)", "///"}) {
        auto e = thrown<Exception>([&] { root->SelectNodes(expr); });
        EXPECT_EQ(e.message(), "Invalid XPath expression: \"" + expr + "\".") << expr;
        EXPECT_EQ(e.code(), GenericErrorCode);
    }
}

TEST(XPathEdits, CreatedElementsCarryTheirNamespaceAndPrefix) {
    MsXmlDomDocument doc("AppxManifest.xml");
    NamespaceMap map;
    loaded(doc, Manifest, "appx", map);
    auto extensions = doc.GetDocumentElement()->SelectSingleElement("appv:Extensions");
    auto added =
        extensions->AppendChildElement("appv:Extension", "http://schemas.microsoft.com/appv/2010/manifest");
    added->SetAttribute("Category", "AppV.Shortcut");
    EXPECT_EQ(added->GetXml(), R"(<appv:Extension Category="AppV.Shortcut"/>)");
    EXPECT_EQ(doc.GetDocumentElement()->SelectNodes("appv:Extensions/appv:Extension")->GetLength(), 2);

    // Inserted before the first extension; SetText keeps markup characters literal.
    auto first = extensions->GetFirstChild();
    auto before = extensions->InsertChildElementBefore(
        "appv:Note", "http://schemas.microsoft.com/appv/2010/manifest", *first);
    before->SetText("a < b & \"c\"");
    EXPECT_EQ(extensions->GetFirstChild()->GetName(), "appv:Note");
    EXPECT_EQ(before->GetText(), "a < b & \"c\"");
    EXPECT_EQ(before->GetXml(), "<appv:Note>a &lt; b &amp; \"c\"</appv:Note>");

    // New attributes with a declared prefix land in its namespace; existing ones are replaced.
    auto identity = doc.GetDocumentElement()->SelectSingleElement("appx:Identity");
    identity->SetAttribute("appv:VersionId", "v-2");
    identity->SetAttribute("Version", "2.0");
    EXPECT_TRUE(
        doc.GetDocumentElement()->SelectSingleNode("appx:Identity[@appv:VersionId='v-2'][@Version='2.0']"));

    // An element in no namespace under a default namespace stays in no namespace.
    auto plain = doc.GetDocumentElement()->AppendChildElement("Plain", "");
    EXPECT_EQ(plain->GetXml(), R"(<Plain xmlns=""/>)");
    EXPECT_TRUE(doc.GetDocumentElement()->SelectSingleNode("Plain"));

    // Removing returns the node, which stays usable.
    auto removed = extensions->RemoveChild(*before);
    EXPECT_EQ(removed->GetText(), "a < b & \"c\"");
    EXPECT_EQ(extensions->SelectNodes("appv:Note")->GetLength(), 0);

    // Empty wrappers refuse every operation with 65022.
    MsXmlDomElement empty;
    auto e = thrown<Exception>([&] { empty.GetAttribute("x"); });
    EXPECT_EQ(e.message(), "Null pointer exception.");
}

TEST(XPathNamespaces, BigSampleKeepsTheReboundAppvPrefixApart) {
    if (!haveSamples())
        GTEST_SKIP() << "samples not available";
    MsXmlDomDocument doc("AppxManifest.xml");
    doc.Load(samplesDir() + "/andest22__MARI/AppXManifest.xml");
    NamespaceMap map;
    doc.SetupSelectionNamespaces("appx", map);
    EXPECT_EQ(map.at("http://schemas.microsoft.com/appv/2010/manifest"), "appv");
    EXPECT_EQ(map.at("http://schemas.microsoft.com/appv/2013/manifest"), "appv1.1");
    auto root = doc.GetDocumentElement();
    // appv in XPath is the root's 2010 binding, whatever deeper elements rebind it to.
    EXPECT_EQ(root->SelectNodes("//appv1.1:ImplementedCategories")->GetLength(), 74);
    EXPECT_EQ(root->SelectNodes("//appv:ImplementedCategories")->GetLength(), 0);
    EXPECT_EQ(root->SelectNodes("appv:Extensions/appv:Extension")->GetLength(), 2663);
    EXPECT_EQ(root->SelectNodes("appv:Applications/appv:Application")->GetLength(), 9);
    EXPECT_EQ(root->SelectSingleElement("appx:Identity")->GetAttribute("appv:PackageId"),
              "9AC08E99-230B-47e8-9721-4577B7F124EA");
    auto list = root->SelectNodes("appv:Applications/appv:Application/@Id");
    EXPECT_EQ(list->GetItem(0)->GetText(), "shared");
    EXPECT_EQ(list->GetItem(list->GetLength()), nullptr);
}
