// What the manifest declares, shown by /Info and written out by /Export-Config, judged against
// the package parsed without Quendle (ElementTree, hivex, zipfile: verify_info.py) on the demo
// package and on one built from the real Office manifest.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

class ManifestViews : public DemoPackageTest {
  protected:
    void SetUp() override {
        DemoPackageTest::SetUp();
        runOptions = {{{"LANG", "en_US.UTF-8"}}, dir.path()};
    }

    // The packages to judge: the demo and, when the samples are there, the Office manifest.
    std::vector<std::string> packages() {
        std::vector<std::string> out{package};
        if (haveSamples())
            out.push_back(samplePackage(dir.path(), "proof.en-us.msi.16.en-us.vreg.dat"));
        return out;
    }

    // What Python finds wrong in the files; its parse (expat) also proves them well-formed.
    std::string configProblems(const std::string& pkg, const std::string& folder) {
        std::string name = folder + "/" + fs::path(pkg).stem().string();
        return scriptProblems("verify_info.py",
                              {"--config", pkg, name + "_DeploymentConfig.xml", name + "_UserConfig.xml"});
    }
};

TEST_F(ManifestViews, InfoListsWhatThePackageHoldsAndDeclaresUnderDocumentedKeys) {
    writeFile(dir / "setup.cmd", "@echo off\r\n");
    saved({"/Update", package, "Add-ScriptFile", dir / "setup.cmd"});
    for (const std::string& pkg : packages()) {
        SCOPED_TRACE(pkg);
        ASSERT_FALSE(pkg.empty());
        writeFile(dir / "info.json", saved({"/Info", pkg, "-json", "-files"}));
        writeFile(dir / "info.txt", saved({"/Info", pkg, "-files"}));
        EXPECT_EQ(scriptProblems("verify_info.py", {dir / "info.json", pkg, sourceDir() + "/docs/inspect.md",
                                                    dir / "info.txt"}),
                  "");
    }
    // The demo's own declarations, so that an empty list on both sides cannot pass.
    const std::string json = saved({"/Info", package, "-json"}), text = saved({"/Info", package});
    for (const char* part :
         {R"("formatVersion": 2,)", R"("manifestSchemaVersion": "2010")",
          R"("targetOSes": ["Win7", "Win81"])",
          R"({"category": "AppV.Shortcut", "name": "[{Common Programs}]\\Demo Notes\\Read Me.lnk", )"
          R"("applicationId": "[{ProgramFilesX86}]\\Demo Notes\\readme.md"})",
          R"({"category": "AppV.FileTypeAssociation", "name": ".dnote", )",
          R"({"id": "[{ProgramFilesX86}]\\Demo Notes\\readme.md", "name": "Demo Read Me", )",
          R"({"root": "REGISTRY\\MACHINE", "keys": 4, "values": 3})"})
        EXPECT_HAS(json, part);
    EXPECT_HAS(text, "Display name:            Demo Notes\n");
    EXPECT_HAS(text, "Scripts:                 setup.cmd\n");
    EXPECT_LACKS(text, "settings.ini") << "files are listed only with -files";
}

TEST_F(ManifestViews, ExportConfigCarriesEveryExtensionPointAndFollowsTheManifestsEdits) {
    for (const std::string& pkg : packages()) {
        SCOPED_TRACE(pkg);
        ASSERT_FALSE(pkg.empty());
        ScratchDir out;
        EXPECT_HAS(saved({"/Export-Config", pkg, out.path()}), "_UserConfig.xml\"");
        EXPECT_EQ(configProblems(pkg, out.path()), "");
    }

    // Beside the package by default; an existing file stays unless -force is given.
    saved({"/Export-Config", package});
    const std::string user = dir / "demo_UserConfig.xml";
    EXPECT_HAS(readFile(user), "Read Me.lnk");
    saved({"/Update", package, "Del-Nodes", "AppxManifest.xml", "-xpath",
           "//appv:Extension[appv:Shortcut/appv:File[contains(., 'Read Me')]]"});
    QuendleRun refused = quendle({"/Export-Config", package});
    EXPECT_EQ(refused.result.exitCode, 100);
    EXPECT_HAS(refused.result.out + refused.result.err, "demo_DeploymentConfig.xml\" exists. Add -force");
    EXPECT_HAS(readFile(user), "Read Me.lnk") << "refused, so unchanged";
    saved({"/Export-Config", package, "-force"});
    EXPECT_EQ(configProblems(package, dir.path()), "");
    for (const char* file : {"demo_UserConfig.xml", "demo_DeploymentConfig.xml"}) {
        EXPECT_LACKS(readFile(dir / file), "Read Me.lnk");
        EXPECT_HAS(readFile(dir / file), "Demo Notes.lnk");
    }
    EXPECT_TRUE(std::none_of(fs::directory_iterator(dir.path()), fs::directory_iterator(),
                             [](const auto& e) { return e.path().extension() == ".tmp"; }));
}

} // namespace
