#include "PackageTestSupport.h"

#include "package/ManifestValidator.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace quendle;
using namespace quendle::test;

namespace {

using Cache = std::vector<std::pair<std::string, std::shared_ptr<MsXmlDomDocument>>>;

const std::string Mari = "/andest22__MARI/";

std::shared_ptr<MsXmlDomDocument> loadPart(const std::string& part, const std::string& path) {
    auto doc = std::make_shared<MsXmlDomDocument>(part);
    doc->Load(path);
    NamespaceMap map;
    doc->SetupSelectionNamespaces(part == "AppxManifest.xml" ? "appx" : "appv", map);
    return doc;
}

std::shared_ptr<MsXmlDomDocument> partFromText(const ScratchDir& dir, const std::string& part,
                                               const std::string& text) {
    writeFile(dir / ("source-" + part), text);
    return loadPart(part, dir / ("source-" + part));
}

// The write-back of one part given as text (loaded under the name `loadAs`, by default the
// part's own) into a fresh content folder; its exception, if any.
std::optional<XmlParseException> writeBackOf(const std::string& part, const std::string& text,
                                             const std::string& loadAs = "") {
    ScratchDir dir;
    try {
        ManifestValidator::WriteBackXmlParts(
            Cache{{part, partFromText(dir, loadAs.empty() ? part : loadAs, text)}}, dir.path());
    } catch (const XmlParseException& e) {
        return e;
    }
    return std::nullopt;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The reasons of a refusal, one a line; "" when the part passed.
std::string reasons(const std::optional<XmlParseException>& e) {
    std::string out;
    for (size_t i = 0; e && i < e->errors().size(); ++i)
        out += e->errors()[i].reason + "\n";
    return out;
}

std::vector<std::string> sampleManifests() {
    std::vector<std::string> paths{samplesDir() + Mari + "AppXManifest.xml",
                                   samplesDir() + Mari + "ThinAppXManifest.xml",
                                   samplesDir() + "/tuneax1392__redesigned-octo-waddle/ThinAppXManifest.xml"};
    for (const char* id : {"common.16", "90160000-0015-0000-1000-0000000FF1CE",
                           "90160000-0015-0409-1000-0000000FF1CE", "90160000-3101-0000-1000-0000000FF1CE"})
        paths.push_back(samplesDir() + Mari + "PackageManifests/AppXManifest." + id + ".xml");
    return paths;
}

} // namespace

TEST(ManifestWriteBack, EverySampleManifestPassesAndIsSavedWithItsOwnNamespaces) {
    if (!haveSamples())
        GTEST_SKIP() << "samples not available";
    for (const std::string& path : sampleManifests()) {
        SCOPED_TRACE(path);
        ScratchDir content;
        auto manifest = loadPart("AppxManifest.xml", path);
        ASSERT_NO_THROW(
            ManifestValidator::WriteBackXmlParts(Cache{{"AppxManifest.xml", manifest}}, content.path()));
        // The saved manifest is the edited one, not the normalized copy that was checked.
        const std::string saved = readFile(content / "AppxManifest.xml");
        EXPECT_HAS(saved, "xmlns:appv=\"http://schemas.microsoft.com/appv/2010/manifest\"");
        EXPECT_LACKS(saved, "xmlns=\"http://schemas.microsoft.com/appv/2014/manifest\"");

        // An independent validator agrees on the normalized copy.
        MsXmlDomDocument normalized("AppxManifest.xml");
        ManifestValidator::NormalizeManifest(*manifest, normalized);
        normalized.Save(content / "normalized.xml");
        auto check = runShell("xmllint --noout --schema " +
                              shellQuote(sourceDir() + "/resources/AppX2010Manifest.xsd") + " " +
                              shellQuote(content / "normalized.xml"));
        EXPECT_EQ(check.exitCode, 0) << check.out;
    }
}

TEST(ManifestWriteBack, AuthoredExtensionFragmentPassesInsideAManifest) {
    if (!haveSamples())
        GTEST_SKIP() << "samples not available";
    std::string fragment = readFile(samplesDir() + Mari + "PackageManifests/AuthoredExtensions.16.xml");
    if (fragment.starts_with("\xEF\xBB\xBF"))
        fragment.erase(0, 3);
    // The thin manifest has no extensions of its own, so the fragment is its only Extensions.
    std::string manifest = readFile(samplesDir() + Mari + "ThinAppXManifest.xml");
    manifest = replaced(manifest, "</Package>", fragment + "</Package>");
    EXPECT_FALSE(writeBackOf("AppxManifest.xml", manifest));
}

TEST(ManifestWriteBack, CorruptedManifestsAreRejectedWithAReport) {
    if (!haveSamples())
        GTEST_SKIP() << "samples not available";
    const std::string thin = readFile(samplesDir() + Mari + "ThinAppXManifest.xml");
    struct Case {
        const char* defect;
        std::string from, to, mentioned;
    };
    const std::vector<Case> cases = {
        {"Identity without PackageId", " appv:PackageId=\"9AC08E99-230B-47e8-9721-4577B7F124EA\"", "",
         "PackageId"},
        {"Identity without VersionId", " appv:VersionId=\"1A8308C7-90D1-4200-B16E-646F163A08E8\"", "",
         "VersionId"},
        {"PackageId that is no GUID", "9AC08E99-230B-47e8-9721-4577B7F124EA", "not-a-guid", "PackageId"},
        {"misspelt App-V element", "<appv:KnownFolder ID=\"{6365D5A7", "<appv:KnownFoldr ID=\"{6365D5A7",
         "KnownFoldr"},
        {"misspelt application", "<Application Id=\"Excel\"", "<Aplication Id=\"Excel\"", "Aplication"},
        {"flag attribute with a wrong value", "TargetInPackage=\"false\"", "TargetInPackage=\"nope\"",
         "TargetInPackage"},
        {"version that is no version", "Version=\"16.0.17328.20206\"", "Version=\"sixteen\"", "Version"},
        {"application without Id", "<Application Id=\"Word\" Origin", "<Application Origin", "Id"},
        {"two Identity elements", "<Properties>",
         "<Identity appv:PackageId=\"9AC08E99-230B-47e8-9721-4577B7F124EA\" "
         "appv:VersionId=\"9AC08E99-230B-47e8-9721-4577B7F124EA\"/><Properties>",
         "Identity"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        std::string text = replaced(thin, c.from, c.to);
        if (std::string(c.defect) == "misspelt application") {
            size_t close = text.find("</Application>", text.find("<Aplication"));
            text.replace(close, 14, "</Aplication>");
        }
        auto failure = writeBackOf("AppxManifest.xml", text);
        ASSERT_TRUE(failure);
        EXPECT_HAS(reasons(failure), c.mentioned);
        EXPECT_GT(failure->errors().front().line, 0);
        EXPECT_HAS(failure->reportText(), "\nValidation failed on AppxManifest.xml");
    }

    // The same in the big manifest: a misspelt extension, found on its own line.
    std::string big = readFile(samplesDir() + Mari + "AppXManifest.xml");
    big = replaced(big, "<appv:Extension ", "<appv:Extention ");
    big = replaced(big, "</appv:Extension>", "</appv:Extention>");
    auto failure = writeBackOf("AppxManifest.xml", big);
    ASSERT_TRUE(failure);
    ASSERT_EQ(failure->errors().size(), 1u);
    EXPECT_HAS(failure->errors()[0].sourceText, "Extention");
}

TEST(ManifestWriteBack, IgnorableForeignContentIsRemovedOnlyFromTheCheckedCopy) {
    ScratchDir dir;
    const std::string manifest =
        R"(<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest" xmlns:appv="http://schemas.microsoft.com/appv/2010/manifest" xmlns:x="urn:future" appv:IgnorableNamespaces="x">
  <Identity Name="n" appv:PackageId="11111111-2222-3333-4444-555555555555" appv:VersionId="11111111-2222-3333-4444-555555555556" x:Extra="1"/>
  <Prerequisites/>
  <Resources/>
  <x:FutureThing><appv:Whatever/></x:FutureThing>
  <appv:Extensions><appv:Extension Category="AppV.Fonts"><appv:Fonts><appv:Font Path="a.ttf" DelayLoad="true"/></appv:Fonts></appv:Extension></appv:Extensions>
</Package>)";
    ScratchDir content;
    ManifestValidator::WriteBackXmlParts(
        Cache{{"AppxManifest.xml", partFromText(dir, "AppxManifest.xml", manifest)}}, content.path());
    EXPECT_HAS(readFile(content / "AppxManifest.xml"), "<x:FutureThing>");

    // Not declared ignorable, the same element is judged by the schema and refused.
    std::string strict = replaced(manifest, " appv:IgnorableNamespaces=\"x\"", "");
    EXPECT_TRUE(writeBackOf("AppxManifest.xml", strict));
    // A wrong type inside a known extension is found after the namespace upgrade.
    std::string badFont = replaced(manifest, "DelayLoad=\"true\"", "DelayLoad=\"later\"");
    EXPECT_HAS(reasons(writeBackOf("AppxManifest.xml", badFont)), "DelayLoad");
}

TEST(MetadataWriteBack, FilesystemMetadataAndStreamMapAreCheckedOthersOnlySaved) {
    if (haveSamples()) {
        const std::string sampleText = readFile(samplesDir() + Mari + "FileSystemMetadata.xml");
        EXPECT_FALSE(writeBackOf("FilesystemMetadata.xml", sampleText));
        auto failure = writeBackOf("FilesystemMetadata.xml", replaced(sampleText, "Long=", "Lung="));
        ASSERT_TRUE(failure);
        EXPECT_HAS(reasons(failure), "Long");
        EXPECT_EQ(failure->fileName() + ":" + std::to_string(failure->errors()[0].line),
                  "FilesystemMetadata.xml:4");
    }
    const std::string fsm =
        R"(<Metadata xmlns="http://schemas.microsoft.com/appv/2010/FilesystemMetadata"><Filesystem Root="C:\x"><Entry Long="Root"><Entry Long="Program Files" Short="PROGRA~1"/></Entry></Filesystem></Metadata>)";
    EXPECT_FALSE(writeBackOf("FilesystemMetadata.xml", fsm));
    // The error's line and its text, which the report lists among the document's own lines.
    const auto bad = writeBackOf("FilesystemMetadata.xml", replaced(fsm, "PROGRA~1", "PROGRAM~1.LONG"));
    ASSERT_TRUE(bad);
    const XmlParseErrorRecord& record = bad->errors().back();
    EXPECT_HAS(record.sourceText, "Short=\"PROGRAM~1.LONG\"");
    EXPECT_HAS(bad->reportText(), "\n" + std::to_string(record.line) + ": " + record.sourceText + "\n");
    EXPECT_HAS(bad->reportText(), "\n1: <");

    const std::string streamMap =
        R"(<StreamMap xmlns="http://schemas.microsoft.com/appv/2010/streammap"><PrimaryFeatureBlock/><FeatureBlock Id="1"/></StreamMap>)";
    EXPECT_FALSE(writeBackOf("StreamMap.xml", streamMap));
    const auto failure = writeBackOf("StreamMap.xml", replaced(streamMap, "<FeatureBlock", "<Bogus"));
    EXPECT_HAS(failure ? failure->reportText() : "", "\nValidation failed on StreamMap.xml");

    // A part name in other letter case is still the part that is checked.
    EXPECT_TRUE(
        writeBackOf("streammap.XML", replaced(streamMap, "<FeatureBlock", "<Bogus"), "StreamMap.xml"));
    // The history and the content types are written back without any check.
    EXPECT_FALSE(writeBackOf("PackageHistory.xml", "<Anything><Goes/></Anything>"));
    EXPECT_FALSE(writeBackOf("[Content_Types].xml", "<Types/>"));
}

TEST(MetadataWriteBack, FirstFailureStopsTheWriteBack) {
    ScratchDir dir, content;
    Cache cache{{"AppxManifest.xml",
                 partFromText(dir, "AppxManifest.xml",
                              "<Package xmlns=\"http://schemas.microsoft.com/appx/2010/manifest\"/>")},
                {"PackageHistory.xml", partFromText(dir, "PackageHistory.xml", "<History/>")}};
    EXPECT_THROW(ManifestValidator::WriteBackXmlParts(cache, content.path()), XmlParseException);
    EXPECT_FALSE(fs::exists(content / "PackageHistory.xml"));
    // What is left is the normalized copy that failed; the workspace is discarded anyway.
    EXPECT_HAS(readFile(content / "AppxManifest.xml"), "appx/2010/manifest");
}
