// The file, script, identity, history and registry sub-commands typed as a packaging engineer
// types them, checked on the saved package with tools that share no code with Quendle.
#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace quendle::test;

namespace {

const std::string Notes = R"(Root\VFS\ProgramFilesX86\Demo Notes)";
const std::string NotesKey = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes)";

class SubCommandCli : public testing::Test {
  protected:
    void SetUp() override {
        package = dir / "demo.appv";
        ASSERT_TRUE(makePackage(demoDir(), package));
        original = stampOf(package);
        writeFile(dir / "build/tool.exe", std::string(200000, 't'));
        writeFile(dir / "build/LICENSE", "license\n");
        writeFile(dir / "scripts/setup.cmd", "@echo off\r\n");
    }

    QuendleRun quendle(const std::vector<std::string>& args) {
        QuendleRun run =
            runQuendle(args, RunOptions{{{"USER", "builder"}, {"LANG", "en_US.UTF-8"}}, dir.path()});
        EXPECT_TRUE(run.tempLeftovers.empty()) << "left in the temp folder: " << run.tempLeftovers.front();
        return run;
    }

    // Python's answer about one XML part of the saved package.
    std::string query(const std::string& part, const std::string& code) {
        return queryPart(package, part, code);
    }

    std::string hiveValue(const std::string& key, const std::string& value) {
        const std::string hive = dir / "Registry.dat";
        writeFile(hive, entryBytes(package, "Registry.dat"));
        return runProgram({"/usr/bin/hivexget", hive, key, value}).out;
    }

    ScratchDir dir;
    std::string package;
    FileStamp original;
};

} // namespace

TEST_F(SubCommandCli, FileAndScriptCommandsInOneRun) {
    QuendleRun run = quendle({"/Update", "demo.appv", "Add-File", Notes + R"(\bin\tool.exe)",
                              "build/tool.exe", "/Update-File", Notes + R"(\notes.txt)", "build/LICENSE",
                              "/Del-File", Notes + R"(\readme.md)", "/Add-ScriptFile", "scripts/setup.cmd"});
    ASSERT_EQ(run.result.exitCode, 0) << run.result.out << run.result.err;
    const std::string& out = run.result.out;
    EXPECT_TRUE(contains(out, "Added file \"" + Notes +
                                  "\\bin\\tool.exe\" to package.\n"
                                  "Added element to FilesystemMetadata.xml:\n<Entry Long=\"bin\"/>\n"
                                  "Added element to FilesystemMetadata.xml:\n<Entry Long=\"tool.exe\"/>\n"
                                  "Added element to [Content_Types].xml:\n"
                                  "<Default ContentType=\"appv/vfs-file\" Extension=\"exe\"/>\n"))
        << out;
    EXPECT_TRUE(contains(out, "Updated file \"" + Notes + "\\notes.txt\" in package.\n")) << out;
    EXPECT_TRUE(contains(out, "Removed file \"" + Notes + "\\readme.md\" from package.\n")) << out;
    EXPECT_TRUE(contains(out, "Added file \"Scripts\\setup.cmd\" to package.\n")) << out;
    EXPECT_TRUE(contains(out, "Package updated successfully\n"));

    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/bin/tool.exe"),
              std::string(200000, 't'));
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/notes.txt"), "license\n")
        << "an updated file takes its new source's bytes";
    EXPECT_EQ(entryBytes(package, "Scripts/setup.cmd"), "@echo off\r\n");
    const auto names = entryNames(package);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Root/VFS/ProgramFilesX86/Demo%20Notes/readme.md"), 0);

    const std::string ns = "{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}";
    EXPECT_EQ(
        query("FilesystemMetadata.xml", "ns='" + ns +
                                            "'\n"
                                            "print(sorted(e.get('Long') for e in r.iter(ns+'Entry')))\n"),
        "['Demo Notes', 'ProgramFilesX86', 'Root', 'VFS', 'bin', 'config', 'notes.txt', 'settings.ini', "
        "'tool.exe']\n")
        << "scripts are not described in the metadata";
}

TEST_F(SubCommandCli, IdentityHistoryAndRegistryInOneRun) {
    QuendleRun run = quendle({"/Update",
                              "demo.appv",
                              "Update-PackageIdentity",
                              "-packageid",
                              "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0",
                              "-versionid",
                              "auto",
                              "-version",
                              "AUTO",
                              "/Update-PackageHistory",
                              "-packagingengine",
                              "BuildBot",
                              "-sequencerversion",
                              "5.1.2",
                              "/Set-RegistryValue",
                              NotesKey,
                              "-valuename",
                              "WindowWidth",
                              "-type",
                              "dword",
                              "-value",
                              "1024"});
    ASSERT_EQ(run.result.exitCode, 0) << run.result.out << run.result.err;
    const std::string& out = run.result.out;
    EXPECT_TRUE(contains(out, "Updated package identity information: "
                              "appv:PackageId=\"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0\"\n"));
    EXPECT_TRUE(contains(out, "Updated package identity information: Version=\"1.0.0.1\"\n"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("appv:VersionId=\"([0-9a-f-]{36})\"\n"))) << out;
    const std::string versionId = m[1];

    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(query("AppxManifest.xml",
                    "i = r.find('{http://schemas.microsoft.com/appx/2010/manifest}Identity')\n"
                    "v = '{http://schemas.microsoft.com/appv/2010/manifest}'\n"
                    "print(i.get('Version'), i.get(v+'PackageId'), i.get(v+'VersionId'))\n"),
              "1.0.0.1 0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0 " + versionId + "\n");
    const std::string item =
        query("PackageHistory.xml", "i = list(r)[-1]\n"
                                    "print(len(r), list(i.attrib)[0], list(i.attrib)[-1])\n"
                                    "print(i.get('PackageVersion'), i.get('SequencerVersion'), "
                                    "i.get('PackagingEngine'), i.get('SequencerUser'), "
                                    "i.get('Locale'))\n");
    EXPECT_EQ(item, "2 Time SaveMode\n" + versionId + " 5.1.2 BuildBot builder en-us\n");
    EXPECT_EQ(hiveValue(NotesKey, "WindowWidth"), "1024\n");
}

TEST_F(SubCommandCli, CommandFileWithQuotedPathsAndScripts) {
    writeCommandFile(dir / "edit.qdc",
                     {"Add-File \"" + Notes + "\\docs\\user guide.txt\" \"build/LICENSE\"",
                      "Add-ScriptFile scripts/setup.cmd", "Update-ScriptFile setup.cmd build/LICENSE",
                      "Del-File \"" + Notes + "\\notes.txt\"", "Del-ScriptFile setup.cmd",
                      "Add-ScriptFile build/LICENSE"});
    QuendleRun run = quendle({"/BatchFileUpdate", "demo.appv", "edit.qdc"});
    ASSERT_EQ(run.result.exitCode, 0) << run.result.out << run.result.err;
    const std::string& out = run.result.out;
    EXPECT_TRUE(contains(out, "<Entry Long=\"user guide.txt\" Short=\"USERGU~1.TXT\"/>\n")) << out;
    EXPECT_TRUE(contains(out, "Updated file \"Scripts\\setup.cmd\" in package.\n")) << out;
    EXPECT_TRUE(contains(out, "Removed file \"Scripts\\setup.cmd\" from package.\n"
                              "Removed element from [Content_Types].xml:\n"
                              "<Default ContentType=\"appv/vfs-file\" Extension=\"cmd\"/>\n"))
        << out;
    EXPECT_EQ(verifyPackage(package), "");
    const auto names = entryNames(package);
    auto has = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };
    EXPECT_TRUE(has("Root/VFS/ProgramFilesX86/Demo%20Notes/docs/user%20guide.txt"));
    EXPECT_FALSE(has("Root/VFS/ProgramFilesX86/Demo%20Notes/notes.txt"));
    EXPECT_FALSE(has("Scripts/setup.cmd"));
    EXPECT_EQ(entryBytes(package, "Scripts/LICENSE"), "license\n");
    const std::string ct = "{http://schemas.openxmlformats.org/package/2006/content-types}";
    EXPECT_EQ(query("[Content_Types].xml", "print(sorted(e.get('Extension') for e in r.findall('" + ct +
                                               "Default')))\n"
                                               "print([e.get('PartName') for e in r.findall('" +
                                               ct + "Override')][2:])\n"),
              "['dat', 'ini', 'md', 'txt', 'xml']\n['/Scripts/LICENSE']\n")
        << "txt stays for the user guide; an extension-less script is registered by its part name";
}

TEST_F(SubCommandCli, RefusedValuesEndTheRunAndLeaveThePackage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
        bool opened;
    };
    const std::vector<Case> cases = {
        {{"Update-PackageHistory", "-packagingengine", "BuildBot"},
         "Packaging engine and sequencer version are both mandatory when at lest one is specified.",
         false},
        {{"Update-PackageHistory", "-packagingengine", "BuildBot", "-sequencerversion", "1.2.3.4.5"},
         "Invalid sequencer version: \"1.2.3.4.5\".",
         false},
        {{"Update-PackageIdentity", "-packageid", "1234"},
         "Invalid parameter value: \"1234\". Expected \"auto\" or <guid_string>.",
         true},
        {{"Update-PackageIdentity", "-version", "70000.0.0.0"},
         "Invalid parameter value: \"70000.0.0.0\". Expected \"auto\" or <version_string>.",
         true},
        {{"Add-File", "Root/VFS/a.txt", "build/LICENSE"},
         "Invalid package path: \"Root/VFS/a.txt\". Expecting a backslash path.",
         false},
        {{"Add-File", R"(Root\VFS\)", "build/LICENSE"}, "Invalid file path: \"Root\\VFS\\\".", false},
        {{"Add-File", Notes + R"(\a.txt)", "build/missing.txt"},
         "File not found: \"build/missing.txt\".",
         false},
        {{"Del-File", Notes + R"(\gone.txt)"},
         "Unable to remove file \"" + Notes + "\\gone.txt\". File not found.",
         true},
        {{"Set-RegistryKey", R"(HKEY_LOCAL_MACHINE\Software)"},
         "Invalid App-V 5.x registry key path. A valid App-V 5.x registry key path must start with "
         "\"REGISTRY\\MACHINE\" or \"REGISTRY\\USER\".",
         false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"/Update", "demo.appv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        QuendleRun run = quendle(args);
        EXPECT_EQ(run.result.exitCode, 100) << c.message;
        EXPECT_TRUE(contains(run.result.out + run.result.err, c.message)) << run.result.out << run.result.err;
        EXPECT_EQ(contains(run.result.out, "Extracting files..."), c.opened) << c.message;
    }
    EXPECT_TRUE(stampOf(package) == original) << "the package file changed";
}
