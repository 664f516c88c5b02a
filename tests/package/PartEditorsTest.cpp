// The editors of the XML parts: file system metadata, content types, identity and history.
#include "core/Exception.h"
#include "os/StationInfo.h"
#include "package/ContentTypes.h"
#include "package/FilesystemMetadata.h"
#include "package/PackageHistory.h"
#include "package/PackageIdentity.h"
#include "package/PackageTestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

using namespace quendle;
using namespace quendle::test;

namespace {

// One part loaded from text with its selection namespaces; counts the editors' change calls.
struct PartTest : testing::Test {
    PartTest(const char* name, const char* prefix) : name(name), prefix(prefix) {}

    void load(const std::string& xml) {
        document = std::make_unique<MsXmlDomDocument>(name);
        document->LoadXml(xml);
        document->SetupSelectionNamespaces(prefix, namespaces);
    }
    std::function<void()> counter() {
        return [this] { ++changes; };
    }
    // What an edit prints, and whether it reports a change.
    using Outcome = std::pair<std::string, bool>;
    static Outcome outcome(const std::function<bool()>& edit) {
        bool changed = false;
        std::string out = printed([&] { changed = edit(); });
        return {out, changed};
    }
    int count(const std::string& xpath) {
        return document->GetDocumentElement()->SelectNodes(xpath)->GetLength();
    }
    // Python's reading of the saved part: `script` gets the file as sys.argv[1].
    std::string readByPython(const std::string& script) {
        ScratchDir dir;
        document->Save(dir / "part.xml");
        return pythonRun("import sys, xml.etree.ElementTree as E\n" + script, {dir / "part.xml"});
    }

    const char *name, *prefix;
    std::unique_ptr<MsXmlDomDocument> document;
    NamespaceMap namespaces;
    int changes = 0;
};

// ---- FilesystemMetadata.xml ----------------------------------------------------------------

constexpr const char* MetadataXml =
    R"(<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata">
  <Filesystem Root="C:\Program Files\App">
    <Entry Long="Root"><Entry Long="VFS"><Entry Long="Common AppData" Short="COMMON~1"/></Entry></Entry>
  </Filesystem>
</Metadata>)";

class FilesystemMetadataTest : public PartTest {
  protected:
    FilesystemMetadataTest() : PartTest("FilesystemMetadata.xml", "appv") { load(MetadataXml); }

    Outcome add(const PackagePath& path) {
        FilesystemMetadata metadata(*document, counter());
        return outcome([&] { return metadata.addEntries(path); });
    }
    Outcome remove(const PackagePath& path) {
        FilesystemMetadata metadata(*document, counter());
        return outcome([&] { return metadata.removeEntry(path); });
    }
    // The "Short" of the entry reached by the chain of long names (a\b\c), "-" when absent, "?"
    // when there is no such entry.
    std::string shortOf(const std::string& chain) {
        std::string xpath = "appv:Filesystem";
        for (size_t start = 0, end; start <= chain.size(); start = end + 1) {
            end = std::min(chain.find('\\', start), chain.size());
            xpath += "/appv:Entry[@Long=\"" + chain.substr(start, end - start) + "\"]";
        }
        const auto entry = document->GetDocumentElement()->SelectSingleElement(xpath);
        return !entry ? "?" : entry->GetAttribute("Short").empty() ? "-" : entry->GetAttribute("Short");
    }
};

} // namespace

TEST_F(FilesystemMetadataTest, AddCreatesEveryMissingLevelInOrderWithShortNamesNumberedAmongSiblings) {
    const auto [out, changed] = add(R"(Root\VFS\ProgramFilesX86\App\a.exe)");
    EXPECT_TRUE(changed);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(occurrences(out, "Added element to FilesystemMetadata.xml:\n"), 3u) << out;
    const size_t first = out.find(R"(Long="ProgramFilesX86" Short="PROGRA~1")");
    const size_t second = out.find(R"(Long="App")"), third = out.find(R"(Long="a.exe")");
    EXPECT_TRUE(first < second && second < third && third != std::string::npos) << out;
    EXPECT_EQ(shortOf(R"(Root\VFS\ProgramFilesX86\App\a.exe)"), "-") << "valid 8.3 names carry no Short";
    // A second file of the same folder only adds itself; a complete path changes and prints nothing.
    EXPECT_EQ(occurrences(add(R"(Root\VFS\ProgramFilesX86\App\b.dll)").first, "Added element"), 1u);
    EXPECT_EQ(add(R"(Root\VFS\ProgramFilesX86\App\b.dll)"), Outcome("", false));
    EXPECT_EQ(changes, 4);

    // Numbering among many siblings is checked on saved packages by verify_metadata.py.
    add(R"(Root\VFS\Common Desktop\x.txt)");
    add(R"(Root\VFS\ProgramFilesX64\Common Files\x.txt)");
    EXPECT_EQ(shortOf(R"(Root\VFS\Common AppData)") + shortOf(R"(Root\VFS\Common Desktop)") +
                  shortOf(R"(Root\VFS\ProgramFilesX64\Common Files)"),
              "COMMON~1COMMON~2COMMON~1")
        << "existing entries stay, numbers restart in another folder";
}

TEST_F(FilesystemMetadataTest, NamesWithQuotesAreSelectedAndMatched) {
    const std::string out = add(R"(Root\VFS\O'Brien's "Tools"\it's.txt)").first;
    EXPECT_EQ(occurrences(out, "Added element"), 2u) << out;
    EXPECT_HAS(out, R"(Long="it's.txt")");
    EXPECT_EQ(add(R"(Root\VFS\O'Brien's "Tools"\it's.txt)").first, "") << "found again, not added twice";
    EXPECT_TRUE(remove(R"(Root\VFS\O'Brien's "Tools"\it's.txt)").second);
    EXPECT_EQ(count("appv:Filesystem/appv:Entry/appv:Entry/appv:Entry"), 1) << "pruned again";
}

TEST_F(FilesystemMetadataTest, RemovePrunesEmptiedFoldersOnlyAndTheLastFileTakesRoot) {
    add(R"(Root\VFS\ProgramFilesX86\App\bin\a.exe)");
    add(R"(Root\VFS\ProgramFilesX86\App\b.dll)");
    changes = 0;
    const auto [out, changed] = remove(R"(Root\VFS\ProgramFilesX86\App\bin\a.exe)");
    EXPECT_TRUE(changed);
    EXPECT_EQ(occurrences(out, "Removed element from FilesystemMetadata.xml:\n"), 2u) << "the file and bin";
    EXPECT_LT(out.find(R"(Long="a.exe")"), out.find(R"(Long="bin")")) << out;
    EXPECT_EQ(changes, 2);
    // An unknown path is no error. That only emptied folders go, verify_metadata.py checks on
    // saved packages (BulkEditCli).
    EXPECT_EQ(remove(R"(Root\VFS\ProgramFilesX86\App\missing.dll)"), Outcome("", false));

    load(
        R"(<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata"><Filesystem Root="C:\x"/></Metadata>)");
    add(R"(Root\VFS\a.txt)");
    EXPECT_EQ(shortOf("Root"), "-");
    EXPECT_EQ(occurrences(remove(R"(Root\VFS\a.txt)").first, "Removed element"), 3u);
    EXPECT_EQ(shortOf("Root"), "?");
    EXPECT_EQ(count("appv:Filesystem"), 1) << "Filesystem stays";

    // Without a Filesystem element nothing happens.
    load(
        R"(<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata"><EmptyDirectories/></Metadata>)");
    EXPECT_EQ(add(R"(Root\a.txt)"), Outcome("", false));
    EXPECT_EQ(remove(R"(Root\a.txt)"), Outcome("", false));
}

// The saved tree as Python reads it is verify_metadata.py's part (BulkEditCli).
TEST_F(FilesystemMetadataTest, RealMetadataStaysValid) {
    if (!haveSamples())
        GTEST_SKIP() << "samples not available";
    load(readFile(samplesDir() + "/andest22__MARI/FileSystemMetadata.xml"));
    // Names that need short names, with every kind of character the rules treat specially.
    const std::string office = R"(Root\VFS\ProgramFilesX86\Microsoft Office\root\Office16\)";
    for (const std::string& path :
         {office + "WINWORD.EXE", office + R"(1033\Word Add-ins [x64].dll)", office + "a+b,c;d=e.config",
          std::string(R"(Root\VFS\Common AppData\Microsoft\Office\Heart'beat.json)"),
          std::string(R"(Root\VFS\Common AppData\Résumé Templates\CV.dotx)")})
        add(PackagePath::ofFile(path));
    remove(PackagePath::ofFile(office + "a+b,c;d=e.config"));
    // The schema the save checks against, applied by xmllint rather than by our own loader.
    ScratchDir dir;
    document->Save(dir / "metadata.xml");
    RunResult lint =
        runShell("xmllint --noout --schema " + shellQuote(sourceDir() + "/resources/FileSystemMetadata.xsd") +
                 " " + shellQuote(dir / "metadata.xml"));
    EXPECT_EQ(lint.exitCode, 0) << lint.out;
    EXPECT_EQ(shortOf(R"(Root\VFS\ProgramFilesX86\Microsoft Office)"), "MICROS~1");
}

// ---- [Content_Types].xml -------------------------------------------------------------------

namespace {

class ContentTypesTest : public PartTest {
  protected:
    ContentTypesTest() : PartTest("[Content_Types].xml", "appv") {
        load(R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="xml" ContentType="application/xml"/>
  <Default ContentType="appv/vfs-file" Extension="dll"/>
</Types>)");
    }
    Outcome add(const PackagePath& path) {
        ContentTypes types(*document, counter());
        return outcome([&] { return types.add(path); });
    }
};

} // namespace

TEST(ContentTypesNames, ExtensionPartNameAndExtensionInUse) {
    // A dot in a folder is no extension.
    EXPECT_EQ(each([](const std::string& p) { return extensionOf(PackagePath::asWritten(p)); },
                   {R"(Root\VFS\App\Tool.EXE)", R"(Root\VFS\App.old\README)",
                    R"(Root\VFS\App\archive.tar.gz)", R"(Root\VFS\App\name.)", "LICENSE"}),
              "EXE||gz||");
    EXPECT_EQ(each([](const std::string& p) { return partNameOf(PackagePath::asWritten(p)); },
                   {R"(Root\VFS\My App\READ ME)", R"(\Root\x)"}),
              "/Root/VFS/My%20App/READ%20ME|/Root/x");
    FileTable files;
    files.insert(R"(Root\VFS\App\a.EXE)", "/x");
    // The package's own parts use xml and dat.
    auto inUse = [&](const std::string& extension) { return isExtensionInUse(extension, files) ? "1" : "0"; };
    EXPECT_EQ(each(inUse, {"exe", "Exe", "dll", "XML", "dat"}), "1|1|0|1|1");
}

// What a removal drops, and the saved part as Python reads it, are checked on saved packages by
// verify_metadata.py (BulkEditCli.DelFolderLeavesNoOrphanEntryOrContentType).
TEST_F(ContentTypesTest, AddRegistersEachExtensionOnceInLowerCaseAndExtensionlessFilesByName) {
    EXPECT_EQ(add(R"(Root\VFS\App\Tool.EXE)"),
              Outcome("Added element to [Content_Types].xml:\n<Default ContentType=\"appv/vfs-file\" "
                      "Extension=\"exe\"/>\n",
                      true));
    EXPECT_EQ(add(R"(Root\VFS\Other\second.exe)"), Outcome("", false));
    EXPECT_EQ(add(R"(Root\VFS\Other\lib.DLL)").first, "") << "dll is there already";
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(count("appv:Default"), 3);

    EXPECT_HAS(add(R"(Root\VFS\App Data\LICENSE)").first,
               R"(PartName="/Root/VFS/App%20Data/LICENSE" ContentType="appv/vfs-file")");
    add(R"(Root\VFS\App.old\README)");
    EXPECT_EQ(count("appv:Override[@PartName='/Root/VFS/App.old/README']"), 1);
    EXPECT_EQ(changes, 3);
}

// removeContentType asks the same question first, so a slip here shows in no saved package.
TEST_F(ContentTypesTest, RemoveKeepsAnExtensionAnotherFileStillUses) {
    add(R"(Root\a.exe)");
    FileTable files;
    files.insert(R"(Root\b.exe)", "/x");
    EXPECT_FALSE(ContentTypes(*document).remove(R"(Root\a.exe)", files));
    EXPECT_EQ(count("appv:Default[@Extension='exe']"), 1);
}

// ---- the identity in AppxManifest.xml --------------------------------------------------------

namespace {

constexpr const char* PackageId = "9ac08e99-230b-47e8-9721-4577b7f124ea";
constexpr const char* VersionId = "1a8308c7-90d1-4200-b16e-646f163a08e8";

class PackageIdentityTest : public PartTest {
  protected:
    PackageIdentityTest() : PartTest("AppxManifest.xml", "appx") { loadWithVersion("Version=\"1.0.0.0\""); }

    void loadWithVersion(const std::string& versionAttribute) {
        load(R"(<?xml version="1.0" encoding="UTF-8"?>
<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest" xmlns:appv="http://schemas.microsoft.com/appv/2010/manifest">
  <Identity Name="Demo" Publisher="CN=Demo" )" +
             versionAttribute + " appv:PackageId=\"" + PackageId + "\" appv:VersionId=\"" + VersionId +
             "\"/>\n  <Properties><DisplayName>Demo</DisplayName></Properties>\n</Package>");
    }
    std::string update(std::string_view id, std::string_view versionId, std::string_view version) {
        PackageIdentity identity(*document, counter());
        return printed([&] { identity.update(id, versionId, version); });
    }
    std::string attribute(const std::string& name) {
        return document->GetDocumentElement()->SelectSingleElement("appx:Identity")->GetAttribute(name);
    }
};

} // namespace

// The increment itself is the version number's; here the attribute it reads and writes.
TEST_F(PackageIdentityTest, AutoValuesAreFreshAndGivenValuesAreWrittenInFieldOrder) {
    EXPECT_EQ(update("", "", "auto"), "Updated package identity information: Version=\"1.0.0.1\"\n");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(attribute("appv:PackageId") + " " + attribute("appv:VersionId"),
              std::string(PackageId) + " " + VersionId);

    const std::string out = update("AUTO", "auto", "");
    const std::string first = attribute("appv:PackageId"), firstVersionId = attribute("appv:VersionId");
    const std::regex guid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    EXPECT_TRUE(std::regex_match(first, guid) && std::regex_match(firstVersionId, guid)) << out;
    EXPECT_NE(first, firstVersionId);
    EXPECT_EQ(out, "Updated package identity information: appv:PackageId=\"" + first +
                       "\"\nUpdated package identity information: appv:VersionId=\"" + firstVersionId +
                       "\"\n");
    update("auto", "", "");
    EXPECT_NE(attribute("appv:PackageId"), first) << "each auto is new";
    EXPECT_EQ(attribute("appv:VersionId"), firstVersionId);

    changes = 0;
    EXPECT_EQ(
        update("11111111-2222-3333-4444-555555555555", "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE", "7.1"),
        "Updated package identity information: appv:PackageId=\"11111111-2222-3333-4444-555555555555\"\n"
        "Updated package identity information: appv:VersionId=\"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE\"\n"
        "Updated package identity information: Version=\"7.1\"\n");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(PackageIdentity(*document).versionId(), "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");
    EXPECT_EQ(document->GetDocumentElement()->SelectSingleElement("appx:Identity")->GetXml(),
              "<Identity Name=\"Demo\" Publisher=\"CN=Demo\" Version=\"7.1\" "
              "appv:PackageId=\"11111111-2222-3333-4444-555555555555\" "
              "appv:VersionId=\"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE\"/>")
        << "replaced in place, never added twice";
    // A new id takes the letter case of its own attribute, else the other id's: "1111..." has none.
    const std::regex upperGuid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    update("auto", "", "");
    EXPECT_TRUE(std::regex_match(attribute("appv:PackageId"), upperGuid)) << attribute("appv:PackageId");
    update(PackageId, "auto", "");
    EXPECT_TRUE(std::regex_match(attribute("appv:VersionId"), upperGuid)) << attribute("appv:VersionId");
    loadWithVersion("");
    update("", "", "AUTO");
    EXPECT_EQ(attribute("Version"), "0.0.0.1");
}

TEST_F(PackageIdentityTest, WithoutIdentityNothingChanges) {
    load(R"(<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest"><Properties/></Package>)");
    EXPECT_EQ(update("auto", "auto", "auto"), "");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(failureOf([&] { PackageIdentity(*document).versionId(); }),
              "Unable to retrive appv:VersionId from AppXManifest.xml.");
    MsXmlDomDocument empty("AppxManifest.xml");
    EXPECT_EQ(failureOf([&] { PackageIdentity(empty).update("auto", "", ""); }), "Null pointer exception.");
}

TEST(PackageIdentityValues, GuidsAndVersionsAreCheckedBeforeAnyChange) {
    auto check = [](std::string_view id, std::string_view versionId, std::string_view version) {
        return failureOf([&] { validateIdentityValues(id, versionId, version); });
    };
    EXPECT_EQ(check("", "", "") + check("auto", "AuTo", "AUTO") +
                  check(PackageId, "9AC08E99-230B-47E8-9721-4577B7F124EA", "1.2.3.4"),
              "");
    // Braces are added by the check itself.
    for (const char* bad : {"1234", "{9ac08e99-230b-47e8-9721-4577b7f124ea}",
                            "9ac08e99-230b-47e8-9721-4577b7f124eg", "autox"}) {
        const std::string refusal =
            std::string("Invalid parameter value: \"") + bad + "\". Expected \"auto\" or <guid_string>.";
        EXPECT_EQ(check(bad, "", "") + "|" + check("", bad, ""), refusal + "|" + refusal);
    }
    for (const char* bad : {"1.2.3.4.5", "1..2", "1.2.3.123456", "70000.0.0.0", "1.65536", "1.2.65536.1",
                            "v1", "1.2.", ".1", " 1", "1,2"})
        EXPECT_EQ(check("", "", bad), std::string("Invalid parameter value: \"") + bad +
                                          "\". Expected \"auto\" or <version_string>.");
    for (const char* good : {"1.2.3.99999", "7", "1.0", "65535.65535.65535.0", "00001.2"})
        EXPECT_EQ(check("", "", good), "") << good;
}

// ---- PackageHistory.xml ----------------------------------------------------------------------

namespace {

StationInfo fixedStation() {
    StationInfo s;
    s.time = "2026-12-06T05:44:34.5Z";
    s.sequencerUser = "CORP\\builder";
    s.sequencingStation = "buildhost";
    s.windowsVersion = "6.1.0-13-amd64";
    s.userFolder = "/home/builder";
    s.processor = "2 X Test CPU";
    s.lastRebootNormal = s.terminalServices = s.remoteSession = "0";
    s.osBitness = "64";
    s.locale = "en-us";
    return s;
}

struct PackageHistoryTest : PartTest {
    PackageHistoryTest() : PartTest("PackageHistory.xml", "appv") {}
};

} // namespace

TEST(PackageHistoryValues, BothOrNeitherAndAValidVersion) {
    auto check = [](std::string_view engine, std::string_view version) {
        return failureOf([&] { validateHistoryValues(engine, version); });
    };
    EXPECT_EQ(check("", "") + check("MyTool", "2.5"), "");
    const std::string both =
        "Packaging engine and sequencer version are both mandatory when at lest one is specified.";
    EXPECT_EQ(check("MyTool", "") + "|" + check("", "2.5"), both + "|" + both);
    EXPECT_EQ(check("MyTool", "70000.1"), "Invalid sequencer version: \"70000.1\".");
}

TEST_F(PackageHistoryTest, AppendsOneItemWithEveryAttributeInOrderToTheRootOnly) {
    load(R"(<PackageHistory xmlns="http://schemas.microsoft.com/appv/2010/PackageHistory">
  <PackageHistoryItem Time="2020-01-01T00:00:00.1Z" PackageVersion="old" SequencerVersion="5.1"/>
</PackageHistory>)");
    PackageHistory editor(*document, counter());
    const std::string out =
        printed([&] { editor.appendItem("1a8308c7-90d1-4200-b16e-646f163a08e8", "", "", fixedStation()); });
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(out.rfind("Added element to PackageHistory.xml:\n<PackageHistoryItem ", 0), 0u) << out;
    // One line per item, attributes in document order; a given engine and version are the
    // command-line tests' part.
    EXPECT_EQ(
        readByPython("ns='{http://schemas.microsoft.com/appv/2010/PackageHistory}'\n"
                     "for i in E.parse(sys.argv[1]).getroot():\n"
                     "    assert i.tag == ns+'PackageHistoryItem', i.tag\n"
                     "    print(' '.join(k+'='+v for k, v in i.attrib.items()))\n"),
        "Time=2020-01-01T00:00:00.1Z PackageVersion=old SequencerVersion=5.1\n"
        "Time=2026-12-06T05:44:34.5Z PackageVersion=1a8308c7-90d1-4200-b16e-646f163a08e8 "
        "SequencerVersion=14.1 SequencerUser=CORP\\builder SequencingStation=buildhost "
        "WindowsVersion=6.1.0-13-amd64 SystemFolder= WindowsFolder= UserFolder=/home/builder SystemType= "
        "Processor=2 X Test CPU LastRebootNormal=0 TerminalServices=0 RemoteSession=0 NetFrameworkVersion= "
        "IEVersion= PackageOSBitness=64 PackagingEngine=Quendle Locale=en-us InUpgrade=false "
        "SaveMode=eSave\n");
    // A document without a root element is a null pointer.
    MsXmlDomDocument empty("PackageHistory.xml");
    EXPECT_EQ(failureOf([&] { PackageHistory(empty).appendItem("v", "", "", fixedStation()); }),
              "Null pointer exception.");
}
