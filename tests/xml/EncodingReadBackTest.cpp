// A part is saved in the encoding its declaration names only when a parser can read that
// encoding back; found by fuzzing the XML parts.
#include "XmlTestSupport.h"
#include "xml/MsXmlDomDocument.h"

using namespace quendle;
using namespace quendle::xmltest;

TEST(EncodingReadBack, AnEncodingThatCannotBeReadBackIsSavedAsUtf8) {
    ScratchDir dir;
    // UTF-7 encodes "<" as "+ADw-": saved in it, the part would be unreadable by anyone.
    for (const char* name : {"UTF-7", "utf-7"}) {
        SCOPED_TRACE(name);
        writeFile(dir / "in.xml", std::string("<?xml version=\"1.0\" encoding=\"") + name +
                                      "\"?>\n<PackageHistory a=\"1\"><Item>text</Item></PackageHistory>");
        MsXmlDomDocument doc("PackageHistory.xml");
        doc.Load(dir / "in.xml");
        doc.Save(dir / "out.xml");
        std::string saved = readFile(dir / "out.xml");
        EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << saved;
        MsXmlDomDocument again("PackageHistory.xml");
        ASSERT_NO_THROW(again.Load(dir / "out.xml"));
        EXPECT_EQ(again.GetDocumentElement()->SelectSingleNode("Item")->GetText(), "text");
    }
    // Encodings a parser recognises from the first bytes keep their declaration.
    for (const char* name : {"ISO-8859-1", "UTF-16"}) {
        SCOPED_TRACE(name);
        std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?><r>x</r>";
        if (std::string(name) == "UTF-16") {
            std::string wide = "\xFF\xFE";
            for (char c : text)
                wide += std::string{c, '\0'};
            text = wide;
        }
        writeFile(dir / "in.xml", text);
        MsXmlDomDocument doc("doc.xml");
        doc.Load(dir / "in.xml");
        EXPECT_EQ(doc.encoding(), name);
        doc.Save(dir / "out.xml");
        MsXmlDomDocument again("doc.xml");
        ASSERT_NO_THROW(again.Load(dir / "out.xml"));
    }
}
