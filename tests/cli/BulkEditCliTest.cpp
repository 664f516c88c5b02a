// Add-Folder, Del-Folder and Import-Registry on real saved packages, judged by tools that share no
// code with Quendle: Python's zipfile and ElementTree (verify_metadata.py re-derives the 8.3 names),
// unzip, 7-Zip, and hivexregedit for the hive.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace quendle::test;

namespace {

const std::string Plugins = R"(Root\VFS\ProgramFilesX86\Demo Notes\Plugins)";

class BulkEditCli : public DemoPackageTest {
  protected:
    std::string quendle(const std::vector<std::string>& args) {
        return succeeded(args, RunOptions{{{"LANG", "en_US.UTF-8"}}, dir.path()});
    }

    // Empty when the metadata and content types agree with the files; otherwise the reasons.
    std::string metadataProblems(const std::string& appv) {
        return scriptProblems("verify_metadata.py", {appv});
    }
};

} // namespace

TEST_F(BulkEditCli, AddFolderGivesEveryFileItsEntriesUniqueShortNamesAndContentTypes) {
    // 2,000 names sharing their first six characters: far past "~9" and "~99" in one folder.
    for (int i = 0; i < 2000; ++i)
        writeFile(dir / ("src/plugin_module_" + std::to_string(i) + ".dll"), "dll " + std::to_string(i));
    writeFile(dir / "src/lang/de-DE/strings.resources", "de");
    writeFile(dir / "src/LICENSE", "license");
    writeFile(dir / "src/.config", "hidden files are files");
    writeFile(dir / "outside.txt", "secret");
    std::filesystem::create_symlink("../outside.txt", dir / "src/escape.txt");
    std::filesystem::create_symlink("LICENSE", dir / "src/COPYING");

    std::string out = quendle({"/Update", "demo.appv", "Add-Folder", Plugins + "\\", "src"});
    EXPECT_HAS(out, "Added folder \"" + Plugins + "\" to package: 2003 files.\n");
    EXPECT_HAS(out, "Added folder \"" + Plugins + "\\lang\\de-DE\" to package: 1 files.\n");
    EXPECT_HAS(out, "Added 2004 files in 2 folders to package.\n");
    EXPECT_HAS(out, "escape.txt\": it links to a place outside the folder.\n");
    EXPECT_LACKS(out, "Added file \"") << "one line per folder, not per file";

    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(metadataProblems(package), "");
    const std::string base = "Root/VFS/ProgramFilesX86/Demo%20Notes/Plugins/";
    EXPECT_EQ(entryBytes(package, base + "plugin_module_1999.dll"), "dll 1999");
    EXPECT_EQ(entryBytes(package, base + "COPYING"), "license") << "a link inside the folder is followed";
    EXPECT_EQ(entryBytes(package, base + ".config"), "hidden files are files");
    const auto names = entryNames(package);
    EXPECT_EQ(std::count(names.begin(), names.end(), base + "escape.txt"), 0);
}

TEST_F(BulkEditCli, DelFolderLeavesNoOrphanEntryOrContentType) {
    writeFile(dir / "src/bin/tool.uniq", "only extension of its kind");
    writeFile(dir / "src/bin/more.uniq", "second of that kind");
    writeFile(dir / "src/doc/guide.txt", "txt is used by the package's notes.txt too");
    writeFile(dir / "src/doc/LICENSE", "extension-less: an Override");
    writeFile(dir / "keep/keep.me", "stays");
    quendle({"/Update", "demo.appv", "Add-Folder", Plugins, "src", "/Add-Folder",
             R"(Root\VFS\ProgramFilesX86\Demo Notes\Kept)", "keep"});
    ASSERT_EQ(metadataProblems(package), "");

    // Typed in another letter case: the files match as on Windows, and so do their entries.
    const std::string out =
        quendle({"/Update", "demo.appv", "Del-Folder", R"(Root\VFS\ProgramFilesX86\Demo Notes\PLUGINS)"});
    EXPECT_HAS(out, "from package: 4 files.\n");
    EXPECT_HAS(out, "Removed element from [Content_Types].xml:\n"
                    "<Default ContentType=\"appv/vfs-file\" Extension=\"uniq\"/>\n");
    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(metadataProblems(package), "") << "verify_metadata.py also reports orphan entries and types";
    // unzip reads "[...]" in an entry name as a pattern.
    const std::string types = entryBytes(package, "\\[Content_Types\\].xml");
    EXPECT_LACKS(types, "uniq");
    EXPECT_LACKS(types, "LICENSE");
    EXPECT_HAS(types, "Extension=\"txt\"") << "notes.txt still needs it";
    EXPECT_EQ(entryBytes(package, "Root/VFS/ProgramFilesX86/Demo%20Notes/Kept/keep.me"), "stays");
    EXPECT_LACKS(entryBytes(package, "FilesystemMetadata.xml"), "Plugins");
}

TEST_F(BulkEditCli, VerifierCatchesAMissingEntryAndAWrongShortName) {
    // The checks above are only worth something if the verifier fails on a broken package.
    writeFile(dir / "src/longname_one.txt", "1");
    writeFile(dir / "src/longname_two.txt", "2");
    quendle({"/Update", "demo.appv", "Add-Folder", Plugins, "src", "/Set-ElementAttribute",
             "FilesystemMetadata.xml", "-xpath", "//appv:Entry[@Long='longname_two.txt']", "-attributename",
             "Short", "-attributevalue", "LONGNA~1.TXT", "/Del-SingleNode", "FilesystemMetadata.xml",
             "-xpath", "//appv:Entry[@Long='readme.md']"});
    const std::string problems = metadataProblems(package);
    EXPECT_HAS(problems, "no entry chain for Root/VFS/ProgramFilesX86/Demo Notes/readme.md");
    EXPECT_HAS(problems, "duplicate short name LONGNA~1.TXT");
}

namespace {

std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii)
        out += std::string{c, '\0'};
    return out;
}

} // namespace

// The file's reading of every value form is the reader's own test; here the edits must reach the
// hive exactly as the same edits made one by one do.
TEST_F(BulkEditCli, ImportRegistryMatchesTheSameEditsMadeWithSetRegistryValue) {
    const std::string key = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes)";
    const std::string byHand = dir / "byhand.appv";
    std::filesystem::copy_file(package, byHand);
    const std::string set = "Set-RegistryValue \"" + key + "\" -";
    writeCommandFile(
        dir / "byhand.qdc",
        {set + "valuename WindowWidth -type dword -value 1024",
         set + R"(valuename Title -type sz -value "Demo ""Notes"" at C:\Notes")",
         set + "type sz -value \"default text\"", "Del-RegistryValue \"" + key + "\" InstallFolder",
         "Del-RegistryKeyAndSubkeys \"" + key + "\\Fonts\"",
         R"(Set-RegistryValue "REGISTRY\USER\[{AppVCurrentUserSID}]\Software\Quendle Demo\Window" )"
         "-valuename Maximized -type dword -value 1"});
    quendle({"/BatchFileUpdate", "byhand.appv", "byhand.qdc"});
    const std::string expected = hivexExport(byHand);
    EXPECT_HAS(expected, "\"Maximized\"=dword:00000001");

    // As regedit writes it: UTF-16LE with a byte-order mark.
    writeFile(dir / "edits.reg", utf16le("Windows Registry Editor Version 5.00\r\n\r\n"
                                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendle Demo\\Notes]\r\n"
                                         "\"WindowWidth\"=dword:00000400\r\n"
                                         "\"Title\"=\"Demo \\\"Notes\\\" at C:\\\\Notes\"\r\n"
                                         "@=\"default text\"\r\n"
                                         "\"InstallFolder\"=-\r\n\r\n"
                                         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendle Demo\\Notes\\Fonts]\r\n\r\n"
                                         "[HKEY_CURRENT_USER\\Software\\Quendle Demo\\Window]\r\n"
                                         "\"Maximized\"=dword:00000001\r\n"));
    const std::string out = quendle({"/Update", "demo.appv", "Import-Registry", "edits.reg"});
    EXPECT_HAS(out, "Imported registry file \"edits.reg\": 2 keys written, 1 keys deleted, 4 values set, 1 "
                    "values deleted.\n");
    EXPECT_EQ(hivexExport(package), expected);
}

TEST_F(BulkEditCli, ImportRegistryKeepsAppVBits) {
    const std::string key = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes)";
    writeFile(dir / "paths.reg", "Windows Registry Editor Version 5.00\n\n"
                                 "[HKLM\\SOFTWARE\\Quendle Demo\\Notes]\n"
                                 "\"InstallFolder\"=\"[{ProgramFilesX86}]\\\\Other\"\n"
                                 "\"Big\"=hex(b):01,00,00,00,00,00,00,80\n");
    quendle({"/Update", "demo.appv", "Set-RegistryValue", key, "-valuename", "InstallFolder", "-type", "sz",
             "-value", "x", "-pathvariable", "/Import-Registry", "paths.reg"});
    const std::string hive = hivexExport(package);
    EXPECT_HAS(hive, "\"InstallFolder\"=hex(400001):") << "the path-variable bit stays\n" << hive;
    EXPECT_HAS(hive, "\"Big\"=hex(b):01,00,00,00,00,00,00,80");
}

TEST_F(BulkEditCli, ShortNamesFollowXmlEditsMadeBetweenAddFileLines) {
    // The names of a folder are remembered between sub-commands; an XML edit of the metadata in
    // between must count as it would without that memory.
    writeFile(dir / "f.txt", "f");
    const std::string folder = R"(Root\VFS\ProgramFilesX86\Demo Notes\)";
    writeCommandFile(
        dir / "edits.qdc",
        {"Add-File \"" + folder + "longname_a.txt\" f.txt", "Add-File \"" + folder + "longname_b.txt\" f.txt",
         "Del-SingleNode FilesystemMetadata.xml -xpath \"//appv:Entry[@Long='longname_a.txt']\"",
         "Set-ElementAttribute FilesystemMetadata.xml -xpath \"//appv:Entry[@Long='longname_b.txt']\" "
         "-attributename Short -attributevalue LONGNA~3.TXT",
         "Add-File \"" + folder + "longname_c.txt\" f.txt", "Add-File \"" + folder + "longname_d.txt\" f.txt",
         "Add-File \"" + folder + "longname_e.txt\" f.txt"});
    quendle({"/BatchFileUpdate", "demo.appv", "edits.qdc"});
    EXPECT_EQ(
        queryPart(package, "FilesystemMetadata.xml",
                  "ns = '{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}'\n"
                  "print(' '.join(e.get('Long') + '=' + e.get('Short', '-') for e in r.iter(ns + 'Entry')\n"
                  "               if e.get('Long').startswith('longname')))\n"),
        "longname_b.txt=LONGNA~3.TXT longname_c.txt=LONGNA~1.TXT longname_d.txt=LONGNA~2.TXT "
        "longname_e.txt=LONGNA~4.TXT\n");
}

TEST_F(BulkEditCli, ImportRegistryIntoARealHiveUsesItsOwnTopKeys) {
    const std::string sample = samplesDir() + "/andest22__MARI/vreg/word.x-none.msi.16.x-none.vreg.dat";
    if (!std::filesystem::exists(sample))
        GTEST_SKIP() << "no sample hives";
    std::filesystem::copy(demoDir(), dir / "real", std::filesystem::copy_options::recursive);
    std::filesystem::remove(dir / "real/Registry.txt");
    std::filesystem::copy_file(sample, dir / "real/Registry.dat");
    const std::string real = dir / "real.appv";
    ASSERT_TRUE(makePackage(dir / "real", real));
    // The sample spells its machine keys "Software" and "SYSTEM" and has no user key at all.
    writeFile(dir / "office.reg", "Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendle]\n\"a\"=\"1\"\n\n"
                                  "[HKEY_CLASSES_ROOT\\.quendle]\n@=\"Quendle.File\"\n\n"
                                  "[HKEY_CURRENT_USER\\Software\\Quendle]\n\"b\"=dword:00000002\n");
    quendle({"/Update", real, "Import-Registry", "office.reg"});
    const std::string hive = hivexExport(real);
    EXPECT_HAS(hive, "[\\REGISTRY\\MACHINE\\Software\\Quendle]\n") << "the hive's own spelling";
    EXPECT_LACKS(hive, "[\\REGISTRY\\MACHINE\\SOFTWARE]");
    EXPECT_HAS(hive, "[\\REGISTRY\\MACHINE\\Software\\Classes\\.quendle]\n");
    EXPECT_HAS(hive, "[\\REGISTRY\\USER\\[{AppVCurrentUserSID}]\\Software\\Quendle]\n"
                     "\"b\"=dword:00000002\n")
        << hive.substr(hive.find("[\\REGISTRY\\USER"));
    EXPECT_HAS(hive, "\"CachingOptions\"=dword:00000001") << "what was there stays";
}
