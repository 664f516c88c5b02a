#include "package/ContentTypes.h"
#include "core/ConsoleWriter.h"
#include "support/TestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace quendle;

namespace {

constexpr const char* TypesXml = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="xml" ContentType="application/xml"/>
  <Default ContentType="appv/vfs-file" Extension="dll"/>
  <Override PartName="/Root/VFS/App/NOTICE" ContentType="appv/vfs-file"/>
</Types>)";

class ContentTypesTest : public testing::Test {
  protected:
    void SetUp() override {
        document.LoadXml(TypesXml);
        document.SetupSelectionNamespaces("appv", namespaces);
        ConsoleWriter::install();
    }

    // Runs an edit and returns what it printed; counts the change notifications.
    std::string run(const std::function<bool(ContentTypes&)>& edit, bool* changed = nullptr) {
        ContentTypes types(document, [this] { ++changes; });
        testing::internal::CaptureStdout();
        const bool result = edit(types);
        if (changed)
            *changed = result;
        return testing::internal::GetCapturedStdout();
    }

    int count(const std::string& xpath) {
        return document.GetDocumentElement()->SelectNodes(xpath)->GetLength();
    }

    MsXmlDomDocument document{"[Content_Types].xml"};
    NamespaceMap namespaces;
    FileTable files;
    int changes = 0;
};

} // namespace

TEST(ContentTypesNames, ExtensionAndPartName) {
    EXPECT_EQ(extensionOf(R"(Root\VFS\App\Tool.EXE)"), "EXE");
    EXPECT_EQ(extensionOf(R"(Root\VFS\App.old\README)"), "") << "a dot in a folder is no extension";
    EXPECT_EQ(extensionOf(R"(Root\VFS\App\archive.tar.gz)"), "gz");
    EXPECT_EQ(extensionOf(R"(Root\VFS\App\name.)"), "");
    EXPECT_EQ(extensionOf("LICENSE"), "");
    EXPECT_EQ(partNameOf(R"(Root\VFS\App\LICENSE)"), "/Root/VFS/App/LICENSE");
    EXPECT_EQ(partNameOf(R"(Root\VFS\My App\READ ME)"), "/Root/VFS/My%20App/READ%20ME");
    EXPECT_EQ(partNameOf(R"(\Root\x)"), "/Root/x") << "normalized first";
}

TEST(ContentTypesNames, ExtensionInUseIgnoresCaseAndKeepsOwnParts) {
    FileTable files;
    files.insert(R"(Root\VFS\App\a.EXE)", "/x");
    EXPECT_TRUE(isExtensionInUse("exe", files));
    EXPECT_TRUE(isExtensionInUse("Exe", files));
    EXPECT_FALSE(isExtensionInUse("dll", files));
    EXPECT_TRUE(isExtensionInUse("XML", files)) << "the package's own parts use xml";
    EXPECT_TRUE(isExtensionInUse("dat", files)) << "and dat";
}

TEST_F(ContentTypesTest, AddRegistersEachExtensionOnceInLowerCase) {
    bool changed = false;
    const std::string out = run([](ContentTypes& t) { return t.add(R"(Root\VFS\App\Tool.EXE)"); }, &changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(out.rfind("Added element to [Content_Types].xml:\n", 0), 0u) << out;
    EXPECT_NE(out.find(R"(ContentType="appv/vfs-file" Extension="exe")"), std::string::npos) << out;
    EXPECT_EQ(count("appv:Default[@Extension='exe']"), 1);

    EXPECT_EQ(run([](ContentTypes& t) { return t.add(R"(Root\VFS\Other\second.exe)"); }, &changed), "");
    EXPECT_FALSE(changed);
    EXPECT_EQ(run([](ContentTypes& t) { return t.add(R"(Root\VFS\Other\lib.DLL)"); }), "")
        << "dll is there already";
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(count("appv:Default"), 3);
}

TEST_F(ContentTypesTest, ExtensionlessFilesGetAnOverrideEach) {
    const std::string out = run([](ContentTypes& t) { return t.add(R"(Root\VFS\App Data\LICENSE)"); });
    EXPECT_NE(out.find(R"(PartName="/Root/VFS/App%20Data/LICENSE" ContentType="appv/vfs-file")"),
              std::string::npos)
        << out;
    run([](ContentTypes& t) { return t.add(R"(Root\VFS\App.old\README)"); });
    EXPECT_EQ(count("appv:Override[@PartName='/Root/VFS/App.old/README']"), 1);
    EXPECT_EQ(changes, 2);
}

TEST_F(ContentTypesTest, RemoveKeepsWhatOtherFilesStillUse) {
    run([](ContentTypes& t) { return t.add(R"(Root\a.exe)"); });
    files.insert(R"(Root\b.exe)", "/x");
    changes = 0;
    EXPECT_EQ(run([this](ContentTypes& t) { return t.remove(R"(Root\a.exe)", files); }), "");
    EXPECT_EQ(count("appv:Default[@Extension='exe']"), 1);

    files.erase(R"(Root\b.exe)");
    const std::string out = run([this](ContentTypes& t) { return t.remove(R"(Root\b.EXE)", files); });
    EXPECT_EQ(out.rfind("Removed element from [Content_Types].xml:\n", 0), 0u) << out;
    EXPECT_NE(out.find(R"(Extension="exe")"), std::string::npos) << out;
    EXPECT_EQ(count("appv:Default[@Extension='exe']"), 0);
    EXPECT_EQ(changes, 1);

    // The package's own parts keep xml and dat whatever the table holds.
    EXPECT_EQ(run([this](ContentTypes& t) { return t.remove(R"(Root\config.xml)", files); }), "");
    EXPECT_EQ(count("appv:Default[@Extension='xml']"), 1);
    // A registration that does not exist is nothing to do.
    EXPECT_EQ(run([this](ContentTypes& t) { return t.remove(R"(Root\x.ocx)", files); }), "");
    EXPECT_EQ(changes, 1);
    // The override of an extensionless file goes with it.
    EXPECT_NE(run([this](ContentTypes& t) {
                  return t.remove(R"(Root\VFS\App\NOTICE)", files);
              }).find("/Root/VFS/App/NOTICE"),
              std::string::npos);
    EXPECT_EQ(count("appv:Override"), 0);
}

TEST_F(ContentTypesTest, SavedDocumentReadsBackInTheOpcNamespace) {
    run([](ContentTypes& t) { return t.add(R"(Root\VFS\App\Tool.exe)"); });
    run([](ContentTypes& t) { return t.add(R"(Root\VFS\App\LICENSE)"); });
    test::ScratchDir dir;
    const std::string path = dir / "content-types.xml";
    document.Save(path);
    // Python's own parser: every element must sit in the content-types namespace, unprefixed
    // attributes as OPC requires, in document order.
    const std::string script = "import sys, xml.etree.ElementTree as E\n"
                               "ns='{http://schemas.openxmlformats.org/package/2006/content-types}'\n"
                               "r=E.parse(sys.argv[1]).getroot()\n"
                               "assert r.tag==ns+'Types', r.tag\n"
                               "for e in r: print(e.tag[len(ns):] if e.tag.startswith(ns) else 'BAD:'+e.tag, "
                               "sorted(e.attrib.items()))\n";
    EXPECT_EQ(test::pythonOutput(script, path),
              "Default [('ContentType', 'application/xml'), ('Extension', 'xml')]\n"
              "Default [('ContentType', 'appv/vfs-file'), ('Extension', 'dll')]\n"
              "Override [('ContentType', 'appv/vfs-file'), ('PartName', '/Root/VFS/App/NOTICE')]\n"
              "Default [('ContentType', 'appv/vfs-file'), ('Extension', 'exe')]\n"
              "Override [('ContentType', 'appv/vfs-file'), ('PartName', '/Root/VFS/App/LICENSE')]\n");
}
