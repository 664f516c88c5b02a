#include "support/TestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <memory>

using namespace quendle;
using namespace quendle::test;

namespace {

// A document loaded from `bytes`, written first to dir/name.
std::unique_ptr<MsXmlDomDocument> fromFile(ScratchDir& dir, const std::string& name,
                                           const std::string& bytes) {
    writeFile(dir / name, bytes);
    auto doc = std::make_unique<MsXmlDomDocument>(name);
    doc->Load(dir / name);
    return doc;
}

// What `doc` saves to dir/name.
std::string savedBytes(MsXmlDomDocument& doc, ScratchDir& dir, const std::string& name) {
    doc.Save(dir / name);
    return readFile(dir / name);
}

std::string saveBytes(const std::string& input, ScratchDir& dir, const std::string& name = "doc.xml") {
    return savedBytes(*fromFile(dir, "in-" + name, input), dir, name);
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

} // namespace

TEST(XmlDeclaration, IsWrittenBackByTheRulesOfTheLoadedFile) {
    ScratchDir dir;
    // No declaration at all gets the defaults; standalone="no" disappears; a declaration without
    // standalone gets standalone yes.
    EXPECT_EQ(
        each([&](const std::string& in) { return firstLine(saveBytes(in, dir)); },
             {"<a><b/></a>", R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?><a/>)",
              R"(<?xml version="1.0" encoding="utf-8"?><a/>)"}),
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>|<?xml version="1.0" encoding="UTF-8"?>|)"
        R"(<?xml version="1.0" encoding="utf-8" standalone="yes"?>)");

    // Windows-1252 stays Windows-1252: e-acute is the single byte E9, not UTF-8's C3 A9.
    std::string saved =
        saveBytes("<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\n<a>caf\xE9</a>", dir, "w.xml");
    EXPECT_EQ(firstLine(saved), R"(<?xml version="1.0" encoding="Windows-1252" standalone="yes"?>)");
    EXPECT_HAS(saved, "caf\xE9<");
    EXPECT_LACKS(saved, "\xC3\xA9");
    test::RunResult lint = runShell("xmllint --noout " + shellQuote(dir / "w.xml"));
    ASSERT_EQ(lint.exitCode, 0) << lint.out;
}

TEST(XmlLoad, ReadsUtf16AndUtf8WithByteOrderMarks) {
    ScratchDir dir;
    // "<r>é€</r>" in UTF-16LE with BOM and no declaration.
    auto doc = fromFile(dir, "u16.xml", std::string("\xFF\xFE<\0r\0>\0\xE9\0\xAC\x20<\0/\0r\0>\0", 20));
    EXPECT_EQ(doc->GetDocumentElement()->GetText(), "\xC3\xA9\xE2\x82\xAC");
    // Without a declaration it is saved as UTF-8.
    EXPECT_HAS(savedBytes(*doc, dir, "u16-saved.xml"), "<r>\xC3\xA9\xE2\x82\xAC</r>");
    auto bom = fromFile(dir, "bom8.xml", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><r>x</r>");
    EXPECT_EQ(bom->encoding() + bom->GetDocumentElement()->GetText(), "utf-8x");
}

TEST(XmlSave, IsStableAndIndentsNewElementsLikeTheirSiblings) {
    ScratchDir dir;
    const std::string input = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root xmlns=\"urn:t\">\r\n"
                              "    <item a=\"1\">text</item>\r\n  <item><deep>x</deep></item>\r\n"
                              "<!-- note --><keep xml:space=\"preserve\">  <in/>  </keep></root>";
    const std::string one = saveBytes(input, dir, "one.xml");
    auto second = fromFile(dir, "one.xml", one);
    EXPECT_EQ(savedBytes(*second, dir, "two.xml"), one);
    EXPECT_HAS(one, "<keep xml:space=\"preserve\">  <in/>  </keep>");

    NamespaceMap map;
    second->SetupSelectionNamespaces("t", map);
    second->GetDocumentElement()->AppendChildElement("item", "urn:t")->SetText("new");
    const std::string three = savedBytes(*second, dir, "three.xml");
    EXPECT_HAS(three, "\n\t<item>new</item>\n</root>");
    EXPECT_EQ(three.find("xmlns=\"urn:t\"", three.find("<item>new")), std::string::npos)
        << "the new element reuses the parent's default namespace";
}

// A file that is not there is a Win32 error with its own exit code: SubCommandCli's refusals.
TEST(XmlLoad, NotWellFormedFileGivesOneReportWithoutContent) {
    ScratchDir dir;
    writeFile(dir / "bad.xml", "<a>\n  <b>\n</a>\n");
    MsXmlDomDocument doc(dir / "bad.xml");
    auto e = thrown<XmlParseException>([&] { doc.Load(dir / "bad.xml"); });
    ASSERT_FALSE(e.errors().empty());
    EXPECT_EQ(std::tuple(e.fileName(), e.content(), e.errors()[0].line, e.errors()[0].sourceText),
              std::tuple(dir / "bad.xml", "", 3, "</a>"));
    EXPECT_HAS(e.errors()[0].reason, "mismatch");
}

TEST(XmlSecurity, EntityBombsAndExternalEntitiesFailWithoutReadingFiles) {
    ScratchDir dir;
    writeFile(dir / "secret.txt", "TOP-SECRET-TEXT");
    std::string lol = "<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        lol += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            lol += "&l" + std::to_string(i - 1) + ";";
        lol += "\">\n";
    }
    auto e = thrown<XmlParseException>([&] {
        fromFile(dir, "bomb.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE z [" + lol + "]>\n<z>&l9;</z>\n");
    });
    EXPECT_FALSE(e.errors().empty());

    for (const std::string& decl : {"<!ENTITY x SYSTEM \"file://" + dir / "secret.txt" + "\">",
                                    "<!ENTITY x SYSTEM \"" + dir / "secret.txt" + "\">",
                                    "<!ENTITY % p SYSTEM \"" + dir / "secret.txt" + "\"> %p;"}) {
        auto x = thrown<XmlParseException>([&] {
            fromFile(dir, "ext.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE a [" + decl + "]>\n<a>&x;</a>\n");
        });
        ASSERT_FALSE(x.errors().empty()) << decl;
        EXPECT_LACKS(x.reportText(), "TOP-SECRET-TEXT");
    }
    EXPECT_THROW(fromFile(dir, "dtd.xml", "<!DOCTYPE a SYSTEM \"" + dir / "secret.txt" + "\"><a/>"),
                 XmlParseException);
}

// A part is saved in the encoding its declaration names only when a parser can read that
// encoding back; found by fuzzing the XML parts.
TEST(XmlLoad, Windows1252ReadsEveryByteAsIconvDoesUnderBothNames) {
    // Our own converter, not the C library's: the Windows build has no iconv.
    ScratchDir dir;
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b)
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) // unassigned
            high += static_cast<char>(b);
    writeFile(dir / "high.bin", high);
    test::RunResult reference = runShell("iconv -f CP1252 -t UTF-8 " + shellQuote(dir / "high.bin"));
    ASSERT_EQ(reference.exitCode, 0) << reference.out;
    for (const char* name : {"windows-1252", "CP1252"}) {
        SCOPED_TRACE(name);
        auto doc = fromFile(dir, "w.xml", std::string("<?xml version=\"1.0\" encoding=\"") + name +
                                              "\"?>\n<a>" + high + "</a>");
        EXPECT_EQ(doc->GetDocumentElement()->GetText(), reference.out);
    }
}

TEST(EncodingReadBack, AnEncodingThatCannotBeReadBackIsSavedAsUtf8) {
    ScratchDir dir;
    // UTF-7 encodes "<" as "+ADw-": saved in it, the part would be unreadable by anyone. Without
    // iconv (the Windows build) it cannot be read in the first place.
#ifdef _WIN32
    EXPECT_ANY_THROW(fromFile(dir, "in.xml", "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<r/>"));
    const std::vector<const char*> names;
#else
    const std::vector<const char*> names{"UTF-7", "utf-7"};
#endif
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string saved =
            saveBytes(std::string("<?xml version=\"1.0\" encoding=\"") + name +
                          "\"?>\n<PackageHistory a=\"1\"><Item>text</Item></PackageHistory>",
                      dir, "PackageHistory.xml");
        EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << saved;
        EXPECT_EQ(
            fromFile(dir, "again.xml", saved)->GetDocumentElement()->SelectSingleNode("Item")->GetText(),
            "text");
    }
    // Encodings a parser recognises from the first bytes keep their declaration.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>x</r>"))
        utf16 += std::string{c, '\0'};
    for (const auto& [name, text] :
         {std::pair<std::string, std::string>{"UTF-16", utf16},
          {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>x</r>"}}) {
        auto doc = fromFile(dir, "in.xml", text);
        EXPECT_EQ(doc->encoding(), name);
        EXPECT_NO_THROW(fromFile(dir, "again.xml", savedBytes(*doc, dir, "out.xml"))) << name;
    }
}

namespace {

const char* Manifest =
    R"(<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest" xmlns:appv="http://schemas.microsoft.com/appv/2010/manifest">
  <Identity Name="n" appv:PackageId="p-1" Version="1.0.0.0"/>
  <Properties><DisplayName>Name</DisplayName><Description></Description></Properties>
  <appv:Extensions><appv:Extension Category="AppV.Fonts"/></appv:Extensions>
</Package>)";

// The manifest above, loaded with "appx" for its default namespace.
struct LoadedManifest {
    LoadedManifest() {
        doc.LoadXml(Manifest);
        doc.SetupSelectionNamespaces("appx", map);
    }
    MsXmlDomDocument doc{"AppxManifest.xml"};
    NamespaceMap map;
};

} // namespace

TEST(XPathNamespaces, RootDeclarationsBecomeSelectionNamespacesAndTheTableAndBadExpressionsAreNamed) {
    LoadedManifest manifest;
    auto& [doc, map] = manifest;
    EXPECT_EQ(doc.GetProperty("SelectionNamespaces"),
              "xmlns:appx='http://schemas.microsoft.com/appx/2010/manifest' "
              "xmlns:appv='http://schemas.microsoft.com/appv/2010/manifest'");
    EXPECT_EQ(map, (NamespaceMap{{"http://schemas.microsoft.com/appx/2010/manifest", "appx"},
                                 {"http://schemas.microsoft.com/appv/2010/manifest", "appv"}}));

    auto root = doc.GetDocumentElement();
    auto identity = root->SelectSingleElement("appx:Identity");
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->GetAttribute("appv:PackageId") + "|" + identity->GetAttribute("Missing") + "|" +
                  root->SelectSingleNode("appx:Properties/appx:Description")->GetText(),
              "p-1||");
    EXPECT_EQ(root->SelectNodes("appv:Extensions/appv:Extension")->GetLength(), 1);
    // The default namespace has no name of its own in XPath: unprefixed steps find nothing. An
    // attribute or a text match is not an element.
    EXPECT_EQ(root->SelectSingleNode("Identity"), nullptr);
    EXPECT_EQ(root->SelectSingleElement("appx:Identity/@Name"), nullptr);
    EXPECT_EQ(root->SelectSingleElement("appx:Properties/appx:DisplayName/text()"), nullptr);
    ASSERT_TRUE(root->SelectSingleNode("appx:Identity/@Name"));
    EXPECT_EQ(root->SelectSingleNode("appx:Identity/@Name")->GetText(), "n");

    // The parent of the root is the document node, which works like any node.
    auto top = root->GetParent();
    ASSERT_TRUE(top);
    EXPECT_EQ(top->GetName(), "#document");
    EXPECT_TRUE(top->SelectSingleNode("/appx:Package/appx:Identity") && top->HasChildNodes());
    // A rejected expression is named in the refusal.
    for (const std::string expr :
         {"appx:Identity[@Name='n'", "unknown:Identity", "count(appx:Identity)", "///"})
        EXPECT_EQ(failureOf([&] { root->SelectNodes(expr); }), "Invalid XPath expression: \"" + expr + "\".");
}

TEST(XPathEdits, CreatedElementsCarryTheirNamespaceAndPrefix) {
    LoadedManifest manifest;
    auto& [doc, map] = manifest;
    auto extensions = doc.GetDocumentElement()->SelectSingleElement("appv:Extensions");
    auto added =
        extensions->AppendChildElement("appv:Extension", "http://schemas.microsoft.com/appv/2010/manifest");
    added->SetAttribute("Category", "AppV.Shortcut");
    EXPECT_EQ(added->GetXml(), R"(<appv:Extension Category="AppV.Shortcut"/>)");
    EXPECT_EQ(doc.GetDocumentElement()->SelectNodes("appv:Extensions/appv:Extension")->GetLength(), 2);

    // Inserted before the first extension; SetText keeps markup characters literal.
    auto before = extensions->InsertChildElementBefore(
        "appv:Note", "http://schemas.microsoft.com/appv/2010/manifest", *extensions->GetFirstChild());
    before->SetText("a < b & \"c\"");
    EXPECT_EQ(extensions->GetFirstChild()->GetName(), "appv:Note");
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

    // Empty wrappers refuse every operation.
    MsXmlDomElement empty;
    EXPECT_EQ(failureOf([&] { empty.GetAttribute("x"); }), "Null pointer exception.");
}

TEST(BigSample, ManifestSavesStablyStaysEquivalentAndKeepsTheReboundAppvPrefixApart) {
    if (!haveSamples())
        GTEST_SKIP() << "samples not available";
    ScratchDir dir;
    MsXmlDomDocument doc("AppxManifest.xml");
    doc.Load(samplesDir() + "/andest22__MARI/AppXManifest.xml");
    const std::string one = savedBytes(doc, dir, "one.xml");
    EXPECT_EQ(savedBytes(*fromFile(dir, "again.xml", one), dir, "two.xml"), one);
    // An independent reader sees the same elements, attributes and texts as in the original.
    const std::string script =
        "import sys, xml.etree.ElementTree as E\n"
        "def canon(e):\n"
        "    return (e.tag, sorted(e.attrib.items()), (e.text or '').strip(), [canon(c) for c in e])\n"
        "a = canon(E.parse(sys.argv[1]).getroot()); b = canon(E.parse(sys.argv[2]).getroot())\n"
        "sys.exit(0 if a == b else 1)\n";
    test::RunResult same = runProgram({"/usr/bin/python3", "-c", script,
                                       samplesDir() + "/andest22__MARI/AppXManifest.xml", dir / "two.xml"});
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;

    NamespaceMap map;
    doc.SetupSelectionNamespaces("appx", map);
    EXPECT_EQ(map.at("http://schemas.microsoft.com/appv/2010/manifest") + "|" +
                  map.at("http://schemas.microsoft.com/appv/2013/manifest"),
              "appv|appv1.1");
    auto root = doc.GetDocumentElement();
    // appv in XPath is the root's 2010 binding, whatever deeper elements rebind it to.
    for (const auto& [xpath, count] : {std::pair{"//appv1.1:ImplementedCategories", 74},
                                       {"//appv:ImplementedCategories", 0},
                                       {"appv:Extensions/appv:Extension", 2663},
                                       {"appv:Applications/appv:Application", 9}})
        EXPECT_EQ(root->SelectNodes(xpath)->GetLength(), count) << xpath;
    EXPECT_EQ(root->SelectSingleElement("appx:Identity")->GetAttribute("appv:PackageId"),
              "9AC08E99-230B-47e8-9721-4577B7F124EA");
    auto list = root->SelectNodes("appv:Applications/appv:Application/@Id");
    EXPECT_EQ(list->GetItem(0)->GetText(), "shared");
    EXPECT_EQ(list->GetItem(list->GetLength()), nullptr);
}
