#include "package/FilesystemMetadata.h"
#include "core/ConsoleWriter.h"
#include "support/TestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace quendle;

namespace {

constexpr const char* MetadataXml = R"(<?xml version="1.0" encoding="utf-8"?>
<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata">
  <Filesystem Root="C:\Program Files\App">
    <Entry Long="Root">
      <Entry Long="VFS">
        <Entry Long="Common AppData" Short="COMMON~1"/>
      </Entry>
    </Entry>
  </Filesystem>
  <EmptyDirectories/>
  <OpaqueDirectories/>
</Metadata>)";

class FilesystemMetadataTest : public testing::Test {
  protected:
    void SetUp() override {
        load(MetadataXml);
        ConsoleWriter::install();
    }

    void load(const std::string& xml) {
        document = std::make_unique<MsXmlDomDocument>("FilesystemMetadata.xml");
        document->LoadXml(xml);
        document->SetupSelectionNamespaces("appv", namespaces);
    }

    std::string add(std::string_view path, bool* changed = nullptr) {
        return run([&](FilesystemMetadata& m) { return m.addEntries(path); }, changed);
    }
    std::string remove(std::string_view path, bool* changed = nullptr) {
        return run([&](FilesystemMetadata& m) { return m.removeEntry(path); }, changed);
    }

    std::string run(const std::function<bool(FilesystemMetadata&)>& edit, bool* changed) {
        FilesystemMetadata metadata(*document, [this] { ++changes; });
        testing::internal::CaptureStdout();
        const bool result = edit(metadata);
        if (changed)
            *changed = result;
        return testing::internal::GetCapturedStdout();
    }

    // The "Short" of the entry reached by the chain of long names, "-" when absent, "?" when
    // there is no such entry.
    std::string shortOf(const std::string& chain) {
        const auto entry = document->GetDocumentElement()->SelectSingleElement("appv:Filesystem/" + chain);
        if (!entry)
            return "?";
        const std::string s = entry->GetAttribute("Short");
        return s.empty() ? "-" : s;
    }

    static std::string occurrences(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
            ++n;
        return std::to_string(n);
    }

    std::unique_ptr<MsXmlDomDocument> document;
    NamespaceMap namespaces;
    int changes = 0;
};

std::string entry(const char* longName) {
    return std::string("appv:Entry[@Long=\"") + longName + "\"]";
}

} // namespace

TEST_F(FilesystemMetadataTest, AddCreatesEveryMissingLevelInOrder) {
    bool changed = false;
    const std::string out = add(R"(Root\VFS\ProgramFilesX86\App\a.exe)", &changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(occurrences(out, "Added element to FilesystemMetadata.xml:\n"), "3") << out;
    const size_t first = out.find(R"(Long="ProgramFilesX86" Short="PROGRA~1")");
    const size_t second = out.find(R"(Long="App")");
    const size_t third = out.find(R"(Long="a.exe")");
    EXPECT_TRUE(first != std::string::npos && first < second && second < third && third != std::string::npos)
        << out;
    EXPECT_EQ(shortOf(entry("Root") + "/" + entry("VFS") + "/" + entry("ProgramFilesX86") + "/" +
                      entry("App") + "/" + entry("a.exe")),
              "-")
        << "nested one in the other; valid 8.3 names carry no Short";
    EXPECT_EQ(shortOf(entry("Root") + "/" + entry("VFS") + "/" + entry("ProgramFilesX86")), "PROGRA~1");

    // A second file of the same folder only adds itself.
    EXPECT_EQ(occurrences(add(R"(Root\VFS\ProgramFilesX86\App\b.dll)"), "Added element"), "1");
    // A path that is complete already changes nothing and prints nothing.
    EXPECT_EQ(add(R"(Root\VFS\ProgramFilesX86\App\b.dll)", &changed), "");
    EXPECT_FALSE(changed);
    EXPECT_EQ(changes, 4);
}

TEST_F(FilesystemMetadataTest, ShortNamesAreNumberedAmongSiblings) {
    add(R"(Root\VFS\Common Desktop\x.txt)");
    add(R"(Root\VFS\Common Programs\x.txt)");
    add(R"(Root\VFS\ProgramFilesX64\Common Files\x.txt)");
    const std::string vfs = entry("Root") + "/" + entry("VFS") + "/";
    EXPECT_EQ(shortOf(vfs + entry("Common AppData")), "COMMON~1") << "existing entries stay";
    EXPECT_EQ(shortOf(vfs + entry("Common Desktop")), "COMMON~2");
    EXPECT_EQ(shortOf(vfs + entry("Common Programs")), "COMMON~3");
    EXPECT_EQ(shortOf(vfs + entry("ProgramFilesX64") + "/" + entry("Common Files")), "COMMON~1")
        << "numbering restarts in another folder";
}

TEST_F(FilesystemMetadataTest, NamesWithQuotesAreSelectedAndMatched) {
    const std::string out = add(R"(Root\VFS\O'Brien's "Tools"\it's.txt)");
    EXPECT_EQ(occurrences(out, "Added element"), "2") << out;
    EXPECT_NE(out.find(R"(Long="it's.txt")"), std::string::npos) << out;
    EXPECT_EQ(add(R"(Root\VFS\O'Brien's "Tools"\it's.txt)"), "") << "found again, not added twice";
    EXPECT_NE(remove(R"(Root\VFS\O'Brien's "Tools"\it's.txt)"), "");
    EXPECT_EQ(shortOf(entry("Root") + "/" + entry("VFS") + "/appv:Entry[2]"), "?") << "pruned again";
}

TEST_F(FilesystemMetadataTest, RemovePrunesEmptiedFoldersOnly) {
    add(R"(Root\VFS\ProgramFilesX86\App\bin\a.exe)");
    add(R"(Root\VFS\ProgramFilesX86\App\b.dll)");
    changes = 0;
    bool changed = false;
    const std::string out = remove(R"(Root\VFS\ProgramFilesX86\App\bin\a.exe)", &changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(occurrences(out, "Removed element from FilesystemMetadata.xml:\n"), "2") << "the file and bin";
    EXPECT_LT(out.find(R"(Long="a.exe")"), out.find(R"(Long="bin")")) << out;
    EXPECT_EQ(changes, 2);
    const std::string app =
        entry("Root") + "/" + entry("VFS") + "/" + entry("ProgramFilesX86") + "/" + entry("App");
    EXPECT_EQ(shortOf(app), "-") << "App still holds b.dll";
    EXPECT_EQ(shortOf(app + "/" + entry("bin")), "?");

    EXPECT_EQ(remove(R"(Root\VFS\ProgramFilesX86\App\missing.dll)", &changed), "");
    EXPECT_FALSE(changed) << "an unknown path is no error";
}

TEST_F(FilesystemMetadataTest, RemovingTheLastFileRemovesRoot) {
    load(
        R"(<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata"><Filesystem Root="C:\x"/></Metadata>)");
    add(R"(Root\VFS\a.txt)");
    EXPECT_EQ(shortOf(entry("Root")), "-");
    const std::string out = remove(R"(Root\VFS\a.txt)");
    EXPECT_EQ(occurrences(out, "Removed element"), "3") << out;
    EXPECT_EQ(shortOf(entry("Root")), "?");
    EXPECT_NE(document->GetDocumentElement()->SelectSingleNode("appv:Filesystem"), nullptr)
        << "Filesystem stays";
}

TEST_F(FilesystemMetadataTest, WithoutFilesystemNothingHappens) {
    load(
        R"(<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata"><EmptyDirectories/></Metadata>)");
    bool changed = true;
    EXPECT_EQ(add(R"(Root\a.txt)", &changed), "");
    EXPECT_FALSE(changed);
    EXPECT_EQ(remove(R"(Root\a.txt)", &changed), "");
    EXPECT_FALSE(changed);
}

TEST_F(FilesystemMetadataTest, SavedTreeReadsBackWithPython) {
    add(R"(Root\VFS\Program Files\My App\readme.html)");
    test::ScratchDir dir;
    const std::string path = dir / "metadata.xml";
    document->Save(path);
    const std::string script =
        "import sys, xml.etree.ElementTree as E\n"
        "ns='{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}'\n"
        "def walk(e, d):\n"
        "    for c in e.findall(ns+'Entry'):\n"
        "        print(' '*d + c.get('Long') + '|' + (c.get('Short') or '')); walk(c, d+1)\n"
        "walk(E.parse(sys.argv[1]).getroot().find(ns+'Filesystem'), 0)\n";
    EXPECT_EQ(test::pythonOutput(script, path), "Root|\n"
                                                " VFS|\n"
                                                "  Common AppData|COMMON~1\n"
                                                "  Program Files|PROGRA~1\n"
                                                "   My App|MYAPP~1\n"
                                                "    readme.html|README~1.HTM\n");
}

TEST_F(FilesystemMetadataTest, RealMetadataStaysValidForTheFormatSchema) {
    if (!test::haveSamples())
        GTEST_SKIP() << "samples not available";
    load(test::readFile(test::samplesDir() + "/andest22__MARI/FileSystemMetadata.xml"));
    // Names that need short names, with every kind of character the rules treat specially.
    for (const char* path :
         {R"(Root\VFS\ProgramFilesX86\Microsoft Office\root\Office16\WINWORD.EXE)",
          R"(Root\VFS\ProgramFilesX86\Microsoft Office\root\Office16\1033\Word Add-ins [x64].dll)",
          R"(Root\VFS\ProgramFilesX86\Microsoft Office\root\Office16\a+b,c;d=e.config)",
          R"(Root\VFS\Common AppData\Microsoft\Office\Heart'beat.json)",
          R"(Root\VFS\Common AppData\Résumé Templates\CV.dotx)"})
        add(path);
    remove(R"(Root\VFS\ProgramFilesX86\Microsoft Office\root\Office16\a+b,c;d=e.config)");

    // The schema the save checks against, applied by xmllint rather than by our own loader.
    test::ScratchDir dir;
    const std::string saved = dir / "metadata.xml";
    document->Save(saved);
    test::RunResult lint =
        test::runShell("xmllint --noout --schema " +
                       test::shellQuote(test::sourceDir() + "/resources/FileSystemMetadata.xsd") + " " +
                       test::shellQuote(saved));
    EXPECT_EQ(lint.exitCode, 0) << lint.out;
    EXPECT_EQ(shortOf(entry("Root") + "/" + entry("VFS") + "/" + entry("ProgramFilesX86") + "/" +
                      entry("Microsoft Office")),
              "MICROS~1");
}
