#include "package/PackageIdentity.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "support/TestSupport.h"
#include "xml/MsXmlDomDocument.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

using namespace quendle;
using test::failureOf;

namespace {

constexpr const char* PackageId = "9ac08e99-230b-47e8-9721-4577b7f124ea";
constexpr const char* VersionId = "1a8308c7-90d1-4200-b16e-646f163a08e8";

std::string manifestWithVersion(const char* versionAttribute) {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest" xmlns:appv="http://schemas.microsoft.com/appv/2010/manifest">
  <Identity Name="Demo" Publisher="CN=Demo" )") +
           versionAttribute + " appv:PackageId=\"" + PackageId + "\" appv:VersionId=\"" + VersionId +
           R"("/>
  <Properties><DisplayName>Demo</DisplayName></Properties>
</Package>)";
}

class PackageIdentityTest : public testing::Test {
  protected:
    void SetUp() override {
        load(manifestWithVersion("Version=\"1.0.0.0\""));
        ConsoleWriter::install();
    }

    void load(const std::string& xml) {
        manifest = std::make_unique<MsXmlDomDocument>("AppxManifest.xml");
        manifest->LoadXml(xml);
        manifest->SetupSelectionNamespaces("appx", namespaces);
    }

    std::string update(std::string_view packageId, std::string_view versionId, std::string_view version) {
        PackageIdentity identity(*manifest, [this] { ++changes; });
        testing::internal::CaptureStdout();
        identity.update(packageId, versionId, version);
        return testing::internal::GetCapturedStdout();
    }

    std::string attribute(const std::string& name) {
        return manifest->GetDocumentElement()->SelectSingleElement("appx:Identity")->GetAttribute(name);
    }

    std::string nextVersionOf(const char* versionAttribute) {
        load(manifestWithVersion(versionAttribute));
        update("", "", "auto");
        return attribute("Version");
    }

    std::unique_ptr<MsXmlDomDocument> manifest;
    NamespaceMap namespaces;
    int changes = 0;
};

} // namespace

TEST_F(PackageIdentityTest, AutoVersionIncrementsWithCarry) {
    EXPECT_EQ(update("", "", "auto"), "Updated package identity information: Version=\"1.0.0.1\"\n");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(attribute("appv:PackageId"), PackageId) << "ids stay untouched";
    EXPECT_EQ(attribute("appv:VersionId"), VersionId);
    EXPECT_EQ(nextVersionOf("Version=\"16.0.17328.20206\""), "16.0.17328.20207");
    EXPECT_EQ(nextVersionOf(""), "0.0.0.1") << "no Version attribute";
    load(manifestWithVersion("Version=\"3.1\""));
    update("", "", "AUTO");
    EXPECT_EQ(attribute("Version"), "3.1.0.1");
}

TEST_F(PackageIdentityTest, AutoIdsAreFreshLowerCaseGuids) {
    const std::string out = update("AUTO", "auto", "");
    const std::string first = attribute("appv:PackageId");
    const std::string firstVersionId = attribute("appv:VersionId");
    const std::regex guid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    EXPECT_TRUE(std::regex_match(first, guid)) << first;
    EXPECT_TRUE(std::regex_match(firstVersionId, guid)) << firstVersionId;
    EXPECT_NE(first, firstVersionId);
    EXPECT_EQ(out, "Updated package identity information: appv:PackageId=\"" + first +
                       "\"\nUpdated package identity information: appv:VersionId=\"" + firstVersionId +
                       "\"\n");
    update("auto", "", "");
    EXPECT_NE(attribute("appv:PackageId"), first) << "each auto is new";
    EXPECT_EQ(attribute("appv:VersionId"), firstVersionId);
}

TEST_F(PackageIdentityTest, GivenValuesAreWrittenInFieldOrder) {
    const std::string out =
        update("11111111-2222-3333-4444-555555555555", "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE", "7.1");
    EXPECT_EQ(
        out, "Updated package identity information: appv:PackageId=\"11111111-2222-3333-4444-555555555555\"\n"
             "Updated package identity information: appv:VersionId=\"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE\"\n"
             "Updated package identity information: Version=\"7.1\"\n");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(PackageIdentity(*manifest).versionId(), "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");
}

TEST_F(PackageIdentityTest, AttributesStayInTheAppVNamespace) {
    update("auto", "auto", "auto");
    test::ScratchDir dir;
    const std::string path = dir / "identity.xml";
    manifest->Save(path);
    const std::string script =
        "import sys, xml.etree.ElementTree as E\n"
        "v='{http://schemas.microsoft.com/appv/2010/manifest}'\n"
        "i=E.parse(sys.argv[1]).getroot().find('{http://schemas.microsoft.com/appx/2010/"
        "manifest}Identity')\n"
        "print(sorted(k.replace(v, 'appv:') for k in i.attrib))\n";
    EXPECT_EQ(test::pythonOutput(script, path),
              "['Name', 'Publisher', 'Version', 'appv:PackageId', 'appv:VersionId']\n")
        << "no duplicate or unprefixed attribute";
}

TEST_F(PackageIdentityTest, WithoutIdentityNothingChanges) {
    load(R"(<Package xmlns="http://schemas.microsoft.com/appx/2010/manifest"><Properties/></Package>)");
    EXPECT_EQ(update("auto", "auto", "auto"), "");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(failureOf([&] { PackageIdentity(*manifest).versionId(); }),
              "Unable to retrive appv:VersionId from AppXManifest.xml.");
    MsXmlDomDocument empty("AppxManifest.xml");
    EXPECT_EQ(failureOf([&] { PackageIdentity(empty).update("auto", "", ""); }), "Null pointer exception.");
}

TEST(PackageIdentityValues, GuidsAndVersionsAreCheckedBeforeAnyChange) {
    auto check = [](std::string_view id, std::string_view versionId, std::string_view version) {
        return failureOf([&] { validateIdentityValues(id, versionId, version); });
    };
    EXPECT_EQ(check("", "", ""), "");
    EXPECT_EQ(check("auto", "AuTo", "AUTO"), "");
    EXPECT_EQ(check(PackageId, "9AC08E99-230B-47E8-9721-4577B7F124EA", "1.2.3.4"), "");
    EXPECT_EQ(check("1234", "", ""),
              "Invalid parameter value: \"1234\". Expected \"auto\" or <guid_string>.");
    EXPECT_EQ(check("", "{9ac08e99-230b-47e8-9721-4577b7f124ea}", ""),
              "Invalid parameter value: \"{9ac08e99-230b-47e8-9721-4577b7f124ea}\". Expected \"auto\" or "
              "<guid_string>.")
        << "braces are added by the check itself";
    EXPECT_EQ(check("9ac08e99-230b-47e8-9721-4577b7f124eg", "", ""),
              "Invalid parameter value: \"9ac08e99-230b-47e8-9721-4577b7f124eg\". Expected \"auto\" or "
              "<guid_string>.");
    EXPECT_EQ(check("autox", "", ""),
              "Invalid parameter value: \"autox\". Expected \"auto\" or <guid_string>.");
    for (const char* bad : {"1.2.3.4.5", "1..2", "1.2.3.123456", "70000.0.0.0", "v1", "1.2.", " 1"})
        EXPECT_EQ(check("", "", bad), std::string("Invalid parameter value: \"") + bad +
                                          "\". Expected \"auto\" or <version_string>.");
    for (const char* good : {"1.2.3.99999", "7", "65535.65535.65535.0"})
        EXPECT_EQ(check("", "", good), "") << good;
}
