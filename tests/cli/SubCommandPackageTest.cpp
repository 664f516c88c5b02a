// The file, identity and history operations on a real package: extracted, edited through the
// package object, saved, and checked with tools that share no code with ours.
#include "core/Exception.h"
#include "package/AppV5Package.h"
#include "package/PackageFiles.h"
#include "package/PackageHistory.h"
#include "package/PackageIdentity.h"
#include "package/PackageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace quendle;
using namespace quendle::test;

namespace {

// Packs the demo folder's parts and files (the project's own) with Python's zipfile.
bool packDemo(const std::string& package) {
    const std::string script = R"(
import os, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
    for folder, _, files in os.walk(src):
        for f in sorted(files):
            full = os.path.join(folder, f)
            rel = os.path.relpath(full, src)
            if rel == 'Registry.txt':
                continue
            z.write(full, rel.replace(' ', '%20'))
)";
    return runProgram({"/usr/bin/python3", "-c", script, demoDir(), package}).exitCode == 0;
}

// Python's view of one XML part of a saved package: each output line is one expression result.
std::string queryPart(const std::string& package, const std::string& part, const std::string& code) {
    const std::string script = "import sys, zipfile, xml.etree.ElementTree as E\n"
                               "r = E.fromstring(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))\n" +
                               code;
    RunResult r = runProgram({"/usr/bin/python3", "-c", script, package, part});
    return r.out + r.err;
}

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.message();
    }
    return {};
}

class SubCommandPackageTest : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TMPDIR", work.path().c_str(), 1);
        ASSERT_TRUE(packDemo(package)) << "python3 could not build the test package";
        writeFile(work / "src/tool.exe", std::string(70000, 'x'));
        writeFile(work / "src/LICENSE", "license text\n");
        writeFile(work / "elsewhere/setup.cmd", "@echo off\n");
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    ScratchDir work;
    std::string package = work / "demo.appv";
};

const std::string DemoFolder = R"(Root\VFS\ProgramFilesX86\Demo Notes)";

} // namespace

TEST_F(SubCommandPackageTest, FileCommandsReachTheSavedPackage) {
    {
        AppV5Package pkg;
        pkg.setPackagePath(package);
        addFileCommand(pkg, DemoFolder + R"(\bin\tool.exe)", work / "src/tool.exe");
        updateFileCommand(pkg, DemoFolder + R"(\LICENSE)", work / "src/LICENSE"); // new: added
        deleteFileCommand(pkg, DemoFolder + R"(\readme.md)");
        addScriptFileCommand(pkg, work / "elsewhere/setup.cmd");
        ASSERT_TRUE(pkg.isModified());
        ASSERT_EQ(pkg.save(), 0u);
    }
    EXPECT_EQ(verifyPackage(package), "");
    const auto names = entryNames(package);
    auto has = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };
    EXPECT_TRUE(has("Root/VFS/ProgramFilesX86/Demo%20Notes/bin/tool.exe"));
    EXPECT_TRUE(has("Root/VFS/ProgramFilesX86/Demo%20Notes/LICENSE"));
    EXPECT_TRUE(has("Scripts/setup.cmd"));
    EXPECT_FALSE(has("Root/VFS/ProgramFilesX86/Demo%20Notes/readme.md")) << "removed files are not packed";
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/bin/tool.exe"),
              std::string(70000, 'x'));

    const std::string ns = "{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}";
    EXPECT_EQ(queryPart(package, "FilesystemMetadata.xml",
                        "ns='" + ns +
                            "'\n"
                            "d = r.find(ns+'Filesystem/'+ns+'Entry/'+ns+'Entry/'+ns+'Entry/'+ns+'Entry')\n"
                            "print(d.get('Long'), [(e.get('Long'), e.get('Short')) for e in d])\n"
                            "print([e.get('Long') for e in d.find(ns+'Entry[@Long=\"bin\"]')])\n"),
              "Demo Notes [('notes.txt', None), ('config', None), ('bin', None), ('LICENSE', None)]\n"
              "['tool.exe']\n");

    const std::string ct = "{http://schemas.openxmlformats.org/package/2006/content-types}";
    EXPECT_EQ(
        queryPart(package, "[Content_Types].xml",
                  "ns='" + ct +
                      "'\n"
                      "print(sorted(e.get('Extension') for e in r.findall(ns+'Default')))\n"
                      "print([e.get('PartName') for e in r.findall(ns+'Override')])\n"),
        "['cmd', 'dat', 'exe', 'ini', 'txt', 'xml']\n"
        "['/AppxManifest.xml', '/AppxBlockMap.xml', '/Root/VFS/ProgramFilesX86/Demo%20Notes/LICENSE']\n")
        << "md went with the last .md file; exe and cmd came with theirs";
}

TEST_F(SubCommandPackageTest, IdentityAndHistoryReachTheSavedPackage) {
    {
        AppV5Package pkg;
        pkg.setPackagePath(package);
        updatePackageIdentity(pkg, "", "auto", "auto");
        updatePackageHistory(pkg, "BuildBot", "2.5");
        ASSERT_EQ(pkg.save(), 0u);
    }
    EXPECT_EQ(verifyPackage(package), "");
    const std::string appx = "{http://schemas.microsoft.com/appx/2010/manifest}";
    const std::string appv = "{http://schemas.microsoft.com/appv/2010/manifest}";
    const std::string identity = queryPart(package, "AppxManifest.xml",
                                           "i = r.find('" + appx +
                                               "Identity')\n"
                                               "print(i.get('Version'), i.get('" +
                                               appv + "PackageId'), i.get('" + appv + "VersionId'))\n");
    EXPECT_EQ(identity.substr(0, 45), "1.0.0.1 3F2B8C41-6D0E-4A57-9B13-7C5E2A90D418 ") << identity;
    const std::string newVersionId = identity.substr(45, 36);
    EXPECT_NE(newVersionId, "A61D0F27-95C4-4E08-B2F3-1E7B4C6D8A35");

    const std::string history = queryPart(
        package, "PackageHistory.xml",
        "for i in r: print(i.get('PackageVersion'), i.get('SequencerVersion'), i.get('PackagingEngine'))\n");
    EXPECT_EQ(history, "A61D0F27-95C4-4E08-B2F3-1E7B4C6D8A35 14.1 make_demo_package\n" + newVersionId +
                           " 2.5 BuildBot\n")
        << "the new item records the version id as changed earlier in the run";
}

TEST_F(SubCommandPackageTest, RefusedCommandsLeaveThePackageUnchanged) {
    const FileStamp before = stampOf(package);
    AppV5Package pkg;
    pkg.setPackagePath(package);
    EXPECT_EQ(failureOf([&] { addFileCommand(pkg, DemoFolder + R"(\a.txt)", work / "src/missing.txt"); }),
              "File not found: \"" + (work / "src/missing.txt") + "\".");
    EXPECT_FALSE(pkg.isOpen()) << "the source is checked before the package is opened";
    EXPECT_EQ(failureOf([&] { addFileCommand(pkg, R"(VFS\a.txt)", work / "src/LICENSE"); }),
              "Invalid package path \"VFS\\a.txt\". A package path must start with \"Root\".");
    EXPECT_EQ(failureOf([&] { addFileCommand(pkg, DemoFolder + R"(\NOTES.TXT)", work / "src/LICENSE"); }),
              "Unable to add file \"" + DemoFolder + "\\NOTES.TXT\" to package. File already exists.");
    EXPECT_EQ(failureOf([&] { deleteFileCommand(pkg, DemoFolder + R"(\gone.txt)"); }),
              "Unable to remove file \"" + DemoFolder + "\\gone.txt\". File not found.");
    EXPECT_EQ(failureOf([&] { deleteScriptFileCommand(pkg, "nothing.cmd"); }),
              "Unable to remove file \"Scripts\\nothing.cmd\". File not found.");
    EXPECT_EQ(
        failureOf([&] { updatePackageIdentity(pkg, "{3F2B8C41-6D0E-4A57-9B13-7C5E2A90D418}", "", ""); }),
        "Invalid parameter value: \"{3F2B8C41-6D0E-4A57-9B13-7C5E2A90D418}\". Expected \"auto\" or "
        "<guid_string>.");
    EXPECT_EQ(failureOf([&] { updatePackageHistory(pkg, "BuildBot", ""); }),
              "Packaging engine and sequencer version are both mandatory when at lest one is specified.");
    EXPECT_FALSE(pkg.isModified());
    EXPECT_TRUE(stampOf(package) == before);
}
