// The command line: every help and refusal of a command line or command file against the golden
// usage; and the newer commands, on packages the test builds and damages itself: Verify, Info,
// Expand and Export-Registry, checked against Python's zipfile and json and hivex; Add-Folder,
// Del-Folder and Import-Registry, judged by Python's zipfile and ElementTree (verify_metadata.py
// re-derives the 8.3 names), unzip, 7-Zip and hivexregedit.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace quendle::test;

namespace {

const std::string NotesEntry = "Root/VFS/ProgramFilesX86/Demo%20Notes/notes.txt";
const std::string ReadmeEntry = "Root/VFS/ProgramFilesX86/Demo%20Notes/readme.md";
const std::string Plugins = R"(Root\VFS\ProgramFilesX86\Demo Notes\Plugins)";

// Runs start in the test folder.
class NewerCommands : public DemoPackageTest {
  protected:
    void SetUp() override {
        DemoPackageTest::SetUp();
        runOptions = {{{"LANG", "en_US.UTF-8"}}, dir.path()};
    }

    std::string damaged(const std::string& name, const std::vector<std::string>& defect) {
        return damagedCopy(package, dir / (name + ".appv"), defect);
    }

    // A package built from the demo folder after `edit` changed a copy of it.
    std::string built(const std::string& name, const std::function<void(const std::string&)>& edit) {
        std::string source = dir / (name + "-source");
        fs::copy(demoDir(), source, fs::copy_options::recursive);
        edit(source);
        std::string out = dir / (name + ".appv");
        EXPECT_TRUE(makePackage(source, out));
        return out;
    }

    // Empty when the metadata and content types agree with the files; otherwise the reasons.
    std::string metadataProblems(const std::string& appv) {
        return scriptProblems("verify_metadata.py", {appv});
    }
};

// The built program with stdout a pipe, not a terminal; `env` entries override (or, when empty,
// remove) variables, and the caller's colour settings never leak in.
RunResult cli(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    env.emplace("NO_COLOR", "");
    std::vector<std::string> argv{quendleExe()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, {env, {}});
}

const std::string generalUsage = readFile(QUENDLE_SOURCE_DIR "/tests/cli/general-usage.txt");
const std::string red = "\x1b[91m";
const std::string reset = "\x1b[0m";

// Splits off the banner: its line and the empty line after it.
std::string afterBanner(const std::string& out) {
    size_t end = out.find("\n\n");
    EXPECT_NE(end, std::string::npos);
    std::string banner = out.substr(0, end);
    EXPECT_EQ(banner.rfind("Quendle ", 0), 0u) << banner;
    EXPECT_NE(banner.find(" - App-V 5.x package editor"), std::string::npos) << banner;
    EXPECT_EQ(banner.find('\n'), std::string::npos);
    return end == std::string::npos ? out : out.substr(end + 2);
}

// The usage block of the top-level commands, the start of every command's own usage.
std::string topLevelUsage() {
    return generalUsage.substr(0, generalUsage.find("Valid commands:\n"));
}

std::string usageLineOf(const std::string& command) {
    size_t at = generalUsage.find("  /" + command + " ");
    return generalUsage.substr(at, generalUsage.find("\n\n", at) + 2 - at);
}

class CliTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(generalUsage.empty()) << "golden usage file missing"; }
    std::string file(const std::string& name, const std::string& bytes) {
        writeFile(scratch_ / name, bytes);
        return scratch_ / name;
    }

    ScratchDir scratch_;
    const std::string dir_ = scratch_.path(), package_ = file("p.appv", "not a zip");
};

// A registry file as regedit writes it: UTF-16LE with a byte-order mark.
std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii)
        out += std::string{c, '\0'};
    return out;
}

} // namespace

// Each planted defect is named, and what is no package at all is refused.
TEST_F(NewerCommands, VerifyNamesEachPlantedDefect) {
    std::string hive = entryBytes(package, "Registry.dat");
    ASSERT_GT(hive.size(), 4200u);
    hive.replace(4200, 16, std::string(16, '\xFF'));
    writeFile(dir / "text.appv", "not an archive at all");
    std::string duplicate = dir / "duplicate.appv";
    ASSERT_TRUE(zipOf(duplicate, {"Root/a.txt", "1", "ROOT/A.TXT", "2", "Root/../../outside.txt", "3"}));
    auto without = [&](const std::string& name, const std::string& part, const std::string& text) {
        return built(name, [&](const std::string& s) { replaceInFile(s + "/" + part, text, ""); });
    };
    const std::string notes = R"("Root\VFS\ProgramFilesX86\Demo Notes\notes.txt)";
    const std::pair<std::string, std::string> cases[] = {
        {damaged("flipped", {"flip-payload", NotesEntry}),
         "Entry " + notes + "\" cannot be read: its deflate stream is damaged"},
        {damaged("crc", {"crc", NotesEntry}), "Entry " + notes + "\" fails its CRC-32 check."},
        {damaged("hash", {"block-hash", NotesEntry}), notes + "\": block 1 does not match its hash"},
        {damaged("size", {"block-size", "Registry.dat"}),
         R"("Registry.dat": block 1 does not have the compressed size)"},
        {damaged("reordered", {"reorder", NotesEntry, ReadmeEntry}),
         "File 3 of AppxBlockMap.xml is " + notes +
             R"(", where the archive has "Root\VFS\ProgramFilesX86\Demo Notes\readme.md".)"},
        {built("hive",
               [&](const std::string& s) {
                   fs::remove(s + "/Registry.txt");
                   writeFile(s + "/Registry.dat", hive);
               }),
         "Registry.dat cannot be read: "},
        {without("types", "[Content_Types].xml", R"(<Default ContentType="appv/vfs-file" Extension="md" />)"),
         R"(No content type in [Content_Types].xml covers "Root\VFS\ProgramFilesX86\Demo Notes\readme.md".)"},
        {without("metadata", "FilesystemMetadata.xml", R"(<Entry Long="notes.txt" />)"),
         notes + "\" has no entry in FilesystemMetadata.xml."},
        {without("manifest", "AppxManifest.xml", R"(appv:PackageId="3F2B8C41-6D0E-4A57-9B13-7C5E2A90D418")"),
         "AppxManifest.xml, line 2: Element '{http://schemas.microsoft.com/appx/2010/manifest}Identity': The "
         "attribute '{http://schemas.microsoft.com/appv/2014/manifest}PackageId' is required but missing."},
        // Damage to the container itself.
        {damaged("gap", {"gap", ReadmeEntry}),
         R"(Entry "Root\VFS\ProgramFilesX86\Demo Notes\readme.md" does not follow the entry before it: 16 bytes lie between them.)"},
        {damaged("local", {"local-name", NotesEntry}),
         "The local header of " + notes + "\" disagrees with its central directory record: name."},
        {duplicate, R"(Entries "Root\a.txt" and "ROOT\A.TXT" name the same file.)"},
        {duplicate, R"(Entry "Root\..\..\outside.txt" would be written outside the package folder.)"},
        // What is no package at all.
        {dir / "text.appv", "The archive has no end of central directory record."},
        {dir / "absent.appv", "File not found"},
    };
    for (const auto& [bad, expected] : cases) {
        SCOPED_TRACE(expected);
        FileStamp before = stampOf(bad);
        QuendleRun run = runQuendle({"/Verify", bad});
        EXPECT_EQ(run.result.exitCode, 100) << run.result.out;
        // The problems are the report, on standard output; the failure they make is an error.
        const bool missing = bad == dir / "absent.appv";
        EXPECT_HAS(missing ? run.result.err : run.result.out, expected);
        EXPECT_HAS(run.result.err, missing ? "File not found" : "Problems found in " + bad);
        EXPECT_TRUE(stampOf(bad) == before);
    }
}

TEST_F(NewerCommands, VerifyReportsInRedOnlyOnATerminal) {
    std::string bad = damaged("hash", {"block-hash", NotesEntry});
    RunResult colored = cli({"/Verify", bad}, {{"CLICOLOR_FORCE", "1"}});
    EXPECT_HAS(colored.out, "\x1b[91m\"Root");
    EXPECT_HAS(colored.err, "\x1b[91mProblems found in ");
    const RunResult plain = cli({"/Verify", bad});
    EXPECT_HAS(plain.err, "Problems found in " + bad + ": ");
    EXPECT_LACKS(plain.out + plain.err, "\x1b[") << "no colours without a terminal";
}

TEST_F(NewerCommands, ExportRegistryAgreesWithHivexOnEveryKeyValueAndType) {
    // Types with App-V flags that no command sets: a string with the overwrite flag, as real
    // packages hold them, and a flag of no known meaning.
    writeFile(dir / "flags.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Flags]\r\n"
              "\"Mode\"=hex(40001):6f,00,6e,00,00,00\r\n\"Odd\"=hex(80004):01,00,00,00\r\n");
    writeCommandFile(
        dir / "edits.qdc",
        {"Import-Registry " + (dir / "flags.reg"),
         R"(Set-RegistryKey REGISTRY\MACHINE\SOFTWARE\Gone -virtualizationlevel deleted)",
         R"(Set-RegistryKey REGISTRY\MACHINE\SOFTWARE\Mine -virtualizationlevel overwrite)",
         R"(Set-VirtualizeRegValueDeleted REGISTRY\MACHINE\SOFTWARE\Mine Old)",
         R"(Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\Mine -valuename Path -type expandsz -value )"
         R"("[{AppVPackageRoot}]\a ""quoted"" path that is long enough to wrap the hex lines of regedit" )"
         R"(-pathvariable)",
         R"(Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\Mine -valuename Bytes -type binary -value 00ff10)",
         R"(Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\Mine -valuename Said -type sz -value "a ""b"" C:\d")"});
    saved({"/BatchFileUpdate", package, dir / "edits.qdc"});
    // A line end inside a value is given on the command line.
    saved({"/Update", package, "Set-RegistryValue", R"(REGISTRY\USER\[{AppVCurrentUserSID}]\Software\Mine)",
           "-valuename", "List", "-type", "multisz", "-value", "one\r\ntwo"});
    writeFile(dir / "hivex.reg", hivexExport(package));

    std::string regFile = dir / "exported.reg";
    saved({"/Export-Registry", package, regFile});
    EXPECT_EQ(readFile(regFile).substr(0, 12), std::string("\xFF\xFEW\0i\0n\0d\0o\0w\0", 12));
    const std::string text = saved({"/Export-Registry", package});
    writeFile(dir / "stdout.reg", text);
    EXPECT_EQ(text.substr(0, 38), "Windows Registry Editor Version 5.00\n\n");
    for (const std::string& ours : {regFile, dir / "stdout.reg"})
        EXPECT_EQ(scriptProblems("compare_reg.py", {ours, dir / "hivex.reg"}), "") << ours;
    // compare_reg.py reads the App-V flags back from the comments, and refuses a type regedit
    // cannot import; what is left is the shape regedit wants.
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
}

TEST_F(NewerCommands, RealSampleMetadataAndHivesPassEveryCommand) {
    if (!haveSamples())
        GTEST_SKIP() << "no samples at " << samplesDir();
    std::string samples = samplesDir() + "/andest22__MARI";
    for (const char* hive : {"word.x-none.msi.16.x-none.vreg.dat", "proof.en-us.msi.16.en-us.vreg.dat"}) {
        SCOPED_TRACE(hive);
        ScratchDir work;
        std::string office = samplePackage(work.path(), hive);
        ASSERT_FALSE(office.empty());
        saved({"/Verify", office});
        writeFile(work / "info.json", saved({"/Info", office, "-json"}));
        EXPECT_EQ(pythonRun("import json, sys\ni = json.load(open(sys.argv[1]))['identity']\n"
                            "print(i['manifestSchemaVersion'], i['version'], len(i['packageId']))",
                            {work / "info.json"}),
                  "2014 16.0.17328.20206 36\n");
        writeFile(work / "hivex.reg", hivexExport(samples + "/vreg/" + hive));
        saved({"/Export-Registry", office, work / "ours.reg"});
        EXPECT_EQ(scriptProblems("compare_reg.py", {work / "ours.reg", work / "hivex.reg"}), "");
        saved({"/Expand", office, work / "expanded"});
        EXPECT_EQ(readFile(work / "expanded/AppxManifest.xml"), readFile(samples + "/AppXManifest.xml"));
    }
}

TEST_F(NewerCommands, AddFolderGivesEveryFileItsEntriesUniqueShortNamesAndContentTypes) {
    // 2,000 names sharing their first six characters: far past "~9" and "~99" in one folder.
    for (int i = 0; i < 2000; ++i)
        writeFile(dir / ("src/plugin_module_" + std::to_string(i) + ".dll"), "dll " + std::to_string(i));
    writeFile(dir / "src/lang/de-DE/strings.resources", "de");
    writeFile(dir / "src/LICENSE", "license");
    writeFile(dir / "src/.config", "hidden files are files");
    writeFile(dir / "outside.txt", "secret");
    // Under Wine a Windows program sees a link as the file it names: links only for POSIX.
    const bool links = builtHere();
    if (links) {
        fs::create_symlink("../outside.txt", dir / "src/escape.txt");
        fs::create_symlink("LICENSE", dir / "src/COPYING");
    }

    std::string out = saved({"/Update", "demo.appv", "Add-Folder", Plugins + "\\", "src"});
    EXPECT_HAS(out, "Added folder \"" + Plugins + "\" to package: " + (links ? "2003" : "2002") + " files.\n");
    EXPECT_HAS(out, "Added folder \"" + Plugins + "\\lang\\de-DE\" to package: 1 files.\n");
    EXPECT_HAS(out, std::string("Added ") + (links ? "2004" : "2003") + " files in 2 folders to package.\n");
    EXPECT_EQ(out.find("escape.txt\": it links to a place outside the folder.\n") != std::string::npos, links);
    EXPECT_LACKS(out, "Added file \"") << "one line per folder, not per file";

    EXPECT_EQ(verifyPackage(package), "");
    EXPECT_EQ(metadataProblems(package), "");
    const std::string base = "Root/VFS/ProgramFilesX86/Demo%20Notes/Plugins/";
    EXPECT_EQ(entryBytes(package, base + "plugin_module_1999.dll"), "dll 1999");
    if (links) { EXPECT_EQ(entryBytes(package, base + "COPYING"), "license") << "a link inside the folder is followed"; }
    EXPECT_EQ(entryBytes(package, base + ".config"), "hidden files are files");
    const auto names = entryNames(package);
    EXPECT_EQ(std::count(names.begin(), names.end(), base + "escape.txt"), 0);
}

TEST_F(NewerCommands, DelFolderLeavesNoOrphanEntryOrContentTypeAndTheVerifierCatchesBrokenMetadata) {
    writeFile(dir / "src/bin/tool.uniq", "only extension of its kind");
    writeFile(dir / "src/bin/more.uniq", "second of that kind");
    writeFile(dir / "src/doc/guide.txt", "txt is used by the package's notes.txt too");
    writeFile(dir / "src/doc/LICENSE", "extension-less: an Override");
    writeFile(dir / "keep/keep.me", "stays");
    saved({"/Update", "demo.appv", "Add-Folder", Plugins, "src", "/Add-Folder",
           R"(Root\VFS\ProgramFilesX86\Demo Notes\Kept)", "keep"});
    ASSERT_EQ(metadataProblems(package), "");

    // Typed in another letter case: the files match as on Windows, and so do their entries.
    const std::string out =
        saved({"/Update", "demo.appv", "Del-Folder", R"(Root\VFS\ProgramFilesX86\Demo Notes\PLUGINS)"});
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

    // These checks are only worth something if the verifier fails on a broken package.
    writeFile(dir / "names/longname_one.txt", "1");
    writeFile(dir / "names/longname_two.txt", "2");
    saved({"/Update", "demo.appv", "Add-Folder", Plugins, "names", "/Set-ElementAttribute",
           "FilesystemMetadata.xml", "-xpath", "//appv:Entry[@Long='longname_two.txt']", "-attributename",
           "Short", "-attributevalue", "LONGNA~1.TXT", "/Del-SingleNode", "FilesystemMetadata.xml", "-xpath",
           "//appv:Entry[@Long='readme.md']"});
    const std::string problems = metadataProblems(package);
    EXPECT_HAS(problems, "no entry chain for Root/VFS/ProgramFilesX86/Demo Notes/readme.md");
    EXPECT_HAS(problems, "duplicate short name LONGNA~1.TXT");
}

// The file's reading of every value form is the reader's own test; here the edits must reach the
// hive exactly as the same edits made one by one do.
TEST_F(NewerCommands, ImportRegistryMatchesTheSameEditsMadeWithSetRegistryValueAndKeepsAppVBits) {
    const std::string key = R"(REGISTRY\MACHINE\SOFTWARE\Quendle Demo\Notes)";
    const std::string byHand = dir / "byhand.appv";
    fs::copy_file(package, byHand);
    const std::string set = "Set-RegistryValue \"" + key + "\" -";
    writeCommandFile(
        dir / "byhand.qdc",
        {set + "valuename WindowWidth -type dword -value 1024",
         set + R"(valuename Title -type sz -value "Demo ""Notes"" at C:\Notes")",
         set + "type sz -value \"default text\"", "Del-RegistryValue \"" + key + "\" InstallFolder",
         "Del-RegistryKeyAndSubkeys \"" + key + "\\Fonts\"",
         R"(Set-RegistryValue "REGISTRY\USER\[{AppVCurrentUserSID}]\Software\Quendle Demo\Window" )"
         "-valuename Maximized -type dword -value 1"});
    saved({"/BatchFileUpdate", "byhand.appv", "byhand.qdc"});
    const std::string expected = hivexExport(byHand);
    EXPECT_HAS(expected, "\"Maximized\"=dword:00000001");

    writeFile(dir / "edits.reg", utf16le("Windows Registry Editor Version 5.00\r\n\r\n"
                                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendle Demo\\Notes]\r\n"
                                         "\"WindowWidth\"=dword:00000400\r\n"
                                         "\"Title\"=\"Demo \\\"Notes\\\" at C:\\\\Notes\"\r\n"
                                         "@=\"default text\"\r\n"
                                         "\"InstallFolder\"=-\r\n\r\n"
                                         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendle Demo\\Notes\\Fonts]\r\n\r\n"
                                         "[HKEY_CURRENT_USER\\Software\\Quendle Demo\\Window]\r\n"
                                         "\"Maximized\"=dword:00000001\r\n"));
    const std::string out = saved({"/Update", "demo.appv", "Import-Registry", "edits.reg"});
    EXPECT_HAS(out, "Imported registry file \"edits.reg\": 2 keys written, 1 keys deleted, 4 values set, 1 "
                    "values deleted.\n");
    EXPECT_EQ(hivexExport(package), expected);

    // The App-V bits of a value the file sets again stay.
    writeFile(dir / "paths.reg", "Windows Registry Editor Version 5.00\n\n"
                                 "[HKLM\\SOFTWARE\\Quendle Demo\\Notes]\n"
                                 "\"InstallFolder\"=\"[{ProgramFilesX86}]\\\\Other\"\n"
                                 "\"Big\"=hex(b):01,00,00,00,00,00,00,80\n");
    saved({"/Update", "demo.appv", "Set-RegistryValue", key, "-valuename", "InstallFolder", "-type", "sz",
           "-value", "x", "-pathvariable", "/Import-Registry", "paths.reg"});
    const std::string hive = hivexExport(package);
    EXPECT_HAS(hive, "\"InstallFolder\"=hex(400001):") << "the path-variable bit stays\n" << hive;
    EXPECT_HAS(hive, "\"Big\"=hex(b):01,00,00,00,00,00,00,80");
}

TEST_F(NewerCommands, ShortNamesFollowXmlEditsMadeBetweenAddFileLines) {
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
    saved({"/BatchFileUpdate", "demo.appv", "edits.qdc"});
    EXPECT_EQ(
        queryPart(package, "FilesystemMetadata.xml",
                  "ns = '{http://schemas.microsoft.com/appv/2010/FilesystemMetadata}'\n"
                  "print(' '.join(e.get('Long') + '=' + e.get('Short', '-') for e in r.iter(ns + 'Entry')\n"
                  "               if e.get('Long').startswith('longname')))\n"),
        "longname_b.txt=LONGNA~3.TXT longname_c.txt=LONGNA~1.TXT longname_d.txt=LONGNA~2.TXT "
        "longname_e.txt=LONGNA~4.TXT\n");
}

TEST_F(NewerCommands, ImportRegistryIntoARealHiveUsesItsOwnTopKeys) {
    const std::string sample = samplesDir() + "/andest22__MARI/vreg/word.x-none.msi.16.x-none.vreg.dat";
    if (!fs::exists(sample))
        GTEST_SKIP() << "no sample hives";
    const std::string real = built("real", [&](const std::string& s) {
        fs::remove(s + "/Registry.txt");
        fs::copy_file(sample, s + "/Registry.dat");
    });
    // The sample spells its machine keys "Software" and "SYSTEM" and has no user key at all.
    writeFile(dir / "office.reg", "Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendle]\n\"a\"=\"1\"\n\n"
                                  "[HKEY_CLASSES_ROOT\\.quendle]\n@=\"Quendle.File\"\n\n"
                                  "[HKEY_CURRENT_USER\\Software\\Quendle]\n\"b\"=dword:00000002\n");
    saved({"/Update", real, "Import-Registry", "office.reg"});
    const std::string hive = hivexExport(real);
    EXPECT_HAS(hive, "[\\REGISTRY\\MACHINE\\Software\\Quendle]\n") << "the hive's own spelling";
    EXPECT_LACKS(hive, "[\\REGISTRY\\MACHINE\\SOFTWARE]");
    EXPECT_HAS(hive, "[\\REGISTRY\\MACHINE\\Software\\Classes\\.quendle]\n");
    EXPECT_HAS(hive, "[\\REGISTRY\\USER\\[{AppVCurrentUserSID}]\\Software\\Quendle]\n"
                     "\"b\"=dword:00000002\n")
        << hive.substr(hive.find("[\\REGISTRY\\USER"));
    EXPECT_HAS(hive, "\"CachingOptions\"=dword:00000001") << "what was there stays";
}

// Every help and every refusal of a command line or a command file, with its exit code and the
// whole output after the banner: help on standard output, a refusal (with its usage) on standard
// error; --help, -h and --version count only as the first argument.
TEST_F(CliTest, EachCommandLineGetsItsExitCodeAndTheWholeExpectedOutput) {
    ::mkdir((dir_ + "/sub").c_str(), 0700);
    const std::string G = generalUsage + "\n";
    // A command's own usage as a parameter error ends it, in colour.
    auto usageOf = [](const std::string& command) {
        return topLevelUsage() + usageLineOf(command) + "\n" + reset;
    };
    const std::string one = topLevelUsage() + usageLineOf("Set-RegistryValue") + "\n";
    enum Colour { Plain, Forced, OptedOut };
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string output; // on standard output after a success, else on standard error; empty: unchecked
        Colour colour = Plain;
        std::string echoed = ""; // standard output after the banner of a failed run
    };
    const Case cases[] = {
        {{"/Help"}, 0, G},
        {{"/help"}, 0, G},
        {{"--help"}, 0, G},
        {{"-h"}, 0, G},
        {{"/Help", "set-registryvalue"}, 0, one},
        {{"--help", "set-registryvalue"}, 0, one},
        {{"-h", "Set-RegistryValue"}, 0, one},
        {{"/Help", "Update"}, 0, "\n"},
        {{"/Help", "No-Such-Command"}, 0, "\n"},
        {{}, 100, G},
        {{}, 100, red + G + reset, Forced},
        {{}, 100, G, OptedOut},
        {{"/Help", "--help"}, 100, "Unknown parameter: --help. \n\n\n" + G},
        {{"/Help", "--version"}, 100, ""},
        // Spelt otherwise, they are misspelt commands.
        {{"--Help"}, 100, "Command \"-Help\" is unknown. Maybe you should use instead \"Help\"\n\n" + G},
        {{"--versions"}, 100, ""},
        {{"/Frobnicate"}, 100, "Command \"Frobnicate\" is unknown.\n\n" + G},
        // A sub-command named at the top is a command too, and runs into its missing package.
        {{"/Update", package_, "Del-Fil", "Root\\a"},
         100,
         "Command \"Del-Fil\" is unknown. Maybe you should use instead \"Del-File\"\n\n" + G},
        {{"/Update", package_}, 100, "A required argument is missing: <command>.\n\n\n" + G},
        {{"/Update", package_, "Set-RegistryValue", "REGISTRY\\MACHINE\\K", "-type", "REG_SZ"},
         100,
         red + "Invalid \"-type\" parameter value: \"REG_SZ\".\n\n" + usageOf("Set-RegistryValue"),
         Forced},
        {{"/Update", dir_ + "/none.appv", "Del-File", "Root\\a"},
         100,
         "File not found: \"" + dir_ + "/none.appv\".\n"},
        {{"/BatchFileUpdate", package_, file("bad.txt", ";QDC\nDel-File Root\\a\n")},
         106,
         "Unsupported command file format. The supported file formats are: ANSI, Unicode Big Endian and "
         "Unicode Little Endian. The first line of the file must begin with \";qdc\".\n"},
        {{"/BatchFileUpdate", package_, dir_ + "/sub/"}, 100, "File not found: \"" + dir_ + "/sub\".\n"},
        // A command-line error in the file ends the run even with -nofail; the line is echoed first.
        {{"/BatchFileUpdate", package_, file("c.txt", ";qdc\nAdd-Fil a b\nDel-File x\n"), "-NOFAIL"},
         100,
         "Command \"Add-Fil\" is unknown. Maybe you should use instead \"Add-File\"\n\n" + G,
         Plain,
         "Add-Fil a b\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + " " + c.args.back());
        std::map<std::string, std::string> env;
        if (c.colour != Plain)
            env = {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", c.colour == OptedOut ? "1" : ""}};
        RunResult r = cli(c.args, env);
        EXPECT_EQ(r.exitCode, c.exitCode);
        if (c.exitCode == 0) {
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(afterBanner(r.out), c.output);
            continue;
        }
        EXPECT_EQ(afterBanner(r.out), c.echoed);
        if (!c.output.empty()) {
            EXPECT_EQ(r.err, c.output);
        }
    }
}

TEST(StandardOptions, VersionPrintsOneLineWithTheBannersVersion) {
    RunResult version = cli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.err, "");
    // The banner of any run names the same version.
    std::string banner = cli({"/Help"}).out;
    std::string number = banner.substr(8, banner.find(' ', 8) - 8);
    EXPECT_EQ(version.out, "quendle " + number + "\n") << banner;
    // A version that cannot be written is a failure, as for every other output.
    EXPECT_EQ(runShell(shellQuote(quendleExe()) + " --version >/dev/full").exitCode, 100);
}
