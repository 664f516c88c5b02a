#include "XmlTestSupport.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlSchemaCollection.h"

using namespace quendle;
using namespace quendle::xmltest;

namespace {

const char* SchemaA =
    R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:a" xmlns:b="urn:b" elementFormDefault="qualified">
  <xs:import namespace="urn:b"/>
  <xs:element name="root"><xs:complexType><xs:sequence>
    <xs:element name="n" type="xs:int" maxOccurs="unbounded"/>
    <xs:element ref="b:extra" minOccurs="0"/>
  </xs:sequence><xs:attribute name="id" use="required"/></xs:complexType></xs:element>
</xs:schema>)";
const char* SchemaB = R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:b">
  <xs:element name="extra" type="xs:boolean"/>
</xs:schema>)";

std::shared_ptr<MsXmlSchemaCollection> collection() {
    auto schemas = std::make_shared<MsXmlSchemaCollection>();
    MsXmlDomDocument a("a.xsd"), b("b.xsd");
    a.LoadXml(SchemaA);
    b.LoadXml(SchemaB);
    schemas->Add("urn:a", a);
    schemas->Add("urn:b", b);
    schemas->Validate();
    return schemas;
}

void loadValidated(const std::string& path, std::shared_ptr<MsXmlSchemaCollection> schemas) {
    MsXmlDomDocument doc("doc.xml");
    doc.SetValidateOnParse(true);
    doc.SetSchemas(schemas);
    doc.Load(path);
}

} // namespace

TEST(SchemaValidation, DocumentMustSatisfyEverySchemaOfTheCollection) {
    ScratchDir dir;
    auto schemas = collection();
    writeFile(dir / "ok.xml",
              "<root id=\"1\" xmlns=\"urn:a\" xmlns:b=\"urn:b\"><n>1</n><b:extra>true</b:extra></root>");
    EXPECT_NO_THROW(loadValidated(dir / "ok.xml", schemas));
    writeFile(dir / "badb.xml",
              "<root id=\"1\" xmlns=\"urn:a\" xmlns:b=\"urn:b\"><n>1</n><b:extra>maybe</b:extra></root>");
    EXPECT_THROW(loadValidated(dir / "badb.xml", schemas), XmlParseException);
    // Without validation the same file loads.
    MsXmlDomDocument plain("badb.xml");
    plain.SetSchemas(schemas);
    EXPECT_NO_THROW(plain.Load(dir / "badb.xml"));
}

TEST(SchemaValidation, EveryErrorIsReportedWithItsLineAndTheFileText) {
    ScratchDir dir;
    writeFile(dir / "two.xml",
              "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:a\">\n  <n>1</n>\n  <n>x</n>\n</root>\n");
    auto e = thrown<XmlParseException>([&] { loadValidated(dir / "two.xml", collection()); });
    ASSERT_EQ(e.errors().size(), 2u);
    EXPECT_EQ(e.errors()[0].line, 2);
    EXPECT_NE(e.errors()[0].reason.find("id"), std::string::npos) << e.errors()[0].reason;
    EXPECT_EQ(e.errors()[1].line, 4);
    EXPECT_EQ(e.errors()[1].sourceText, "  <n>x</n>");
    EXPECT_EQ(e.fileName(), "doc.xml");
    // The content lines match the file's own numbering for the context lines of the report.
    ASSERT_FALSE(e.content().empty());
    std::istringstream lines(e.content());
    std::string line;
    for (int i = 0; i < 4; ++i)
        std::getline(lines, line);
    EXPECT_EQ(line, "  <n>x</n>");
    const std::string report = e.reportText();
    EXPECT_NE(report.find("Validation failed on doc.xml"), std::string::npos) << report;
    EXPECT_NE(report.find("Line: 4"), std::string::npos) << report;
}

TEST(SchemaValidation, BrokenSchemaIsRejectedByTheCollection) {
    MsXmlDomDocument broken("broken.xsd");
    broken.LoadXml(
        R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:c"><xs:element name="x" type="xs:nosuchtype"/></xs:schema>)");
    MsXmlSchemaCollection schemas;
    schemas.Add("urn:c", broken);
    auto e = thrown<Exception>([&] { schemas.Validate(); });
    EXPECT_NE(e.message().find("nosuchtype"), std::string::npos) << e.message();
    MsXmlSchemaCollection empty;
    EXPECT_THROW(empty.Validate(), Exception);
}
