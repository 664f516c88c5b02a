// Verify, Info, Expand and Export-Registry from the command line, on packages the test builds
// and damages itself; the answers are checked against Python's zipfile and json and hivex.
#include "HostileTestSupport.h"

#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

const std::string NotesEntry = "Root/VFS/ProgramFilesX86/Demo%20Notes/notes.txt";
const std::string ReadmeEntry = "Root/VFS/ProgramFilesX86/Demo%20Notes/readme.md";

class InspectCommands : public DemoPackageTest {
  protected:
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
};

TEST_F(InspectCommands, VerifyNamesEachPlantedDefect) {
    std::string hive = entryBytes(package, "Registry.dat");
    ASSERT_GT(hive.size(), 4200u);
    hive.replace(4200, 16, std::string(16, '\xFF'));
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
    };
    for (const auto& [bad, expected] : cases) {
        SCOPED_TRACE(expected);
        FileStamp before = stampOf(bad);
        QuendleRun run = runQuendle({"/Verify", bad});
        EXPECT_EQ(run.result.exitCode, 100) << run.result.out;
        EXPECT_HAS(run.result.out, expected);
        EXPECT_HAS(run.result.out, "Problems found in " + bad + ": ");
        EXPECT_TRUE(stampOf(bad) == before);
    }
}

TEST_F(InspectCommands, VerifyReportsInRedOnlyOnATerminalAndRefusesWhatIsNoPackage) {
    std::string bad = damaged("hash", {"block-hash", NotesEntry});
    RunResult colored = runProgram({quendleExe(), "/Verify", bad},
                                   RunOptions{{{"NO_COLOR", ""}, {"CLICOLOR_FORCE", "1"}}, ""});
    EXPECT_HAS(colored.out, "\x1b[91m\"Root");
    EXPECT_LACKS(runQuendle({"/Verify", bad}).result.out, "\x1b[") << "no colours without a terminal";

    writeFile(dir / "text.appv", "not an archive at all");
    for (auto [name, message] :
         {std::pair{"text.appv", "The archive has no end of central directory record."},
          std::pair{"absent.appv", "File not found"}}) {
        QuendleRun refused = runQuendle({"/Verify", dir / name});
        EXPECT_EQ(refused.result.exitCode, 100);
        EXPECT_HAS(refused.result.out, message);
    }
}

TEST_F(InspectCommands, InfoJsonIsOneDocumentThatAgreesWithZipfile) {
    writeFile(dir / "setup.cmd", "@echo off\r\n");
    succeeded({"/Update", package, "Add-ScriptFile", dir / "setup.cmd"});
    const std::string json = succeeded({"/Info", package, "-json", "-files"});
    writeFile(dir / "info.json", json);
    // The whole of standard output must parse: no banner, no progress, nothing else.
    const char* script = R"py(import json, sys, zipfile
info = json.load(open(sys.argv[1], encoding='utf-8'))
z = zipfile.ZipFile(sys.argv[2])
zipped = [(i.filename, i.file_size, i.compress_size) for i in z.infolist()]
assert [(f['entry'], f['size'], f['compressedSize']) for f in info['files']] == zipped, info['files']
assert (info['entryCount'], info['size'], info['compressedSize']) == \
    (len(zipped), sum(i[1] for i in zipped), sum(i[2] for i in zipped)), info
assert info['fileCount'] == sum(1 for n in z.namelist() if n.startswith('Root/'))
assert info['scripts'] == ['setup.cmd'], info['scripts']
idn = info['identity']
assert (idn['name'], idn['version'], idn['manifestSchemaVersion'], idn['packageId']) == \
    ('QuendleDemoNotes', '1.0.0.0', '2010', '3F2B8C41-6D0E-4A57-9B13-7C5E2A90D418'), idn
assert info['history'][0]['packagingEngine'] == 'make_demo_package', info['history']
assert info['files'][1]['path'] == r'Root\VFS\ProgramFilesX86\Demo Notes\config\settings.ini', info['files'][1]
)py";
    EXPECT_EQ(pythonRun(script, {dir / "info.json", package}), "") << json;

    const std::string text = succeeded({"/Info", package});
    EXPECT_HAS(text, "Display name:            Demo Notes\n");
    EXPECT_HAS(text, "Scripts:                 setup.cmd\n");
    EXPECT_LACKS(text, "notes.txt") << "files are listed only with -files";
}

TEST_F(InspectCommands, ExpandWritesWhatZipfileReadsUnderDecodedNames) {
    std::string out = dir / "expanded";
    EXPECT_HAS(succeeded({"/Expand", package, out}), "Expanded 10 files of");
    const char* script = R"py(import os, sys, zipfile, urllib.parse
z = zipfile.ZipFile(sys.argv[1])
for n in z.namelist():
    assert open(os.path.join(sys.argv[2], urllib.parse.unquote(n)), 'rb').read() == z.read(n), n
count = sum(len(f) for _, _, f in os.walk(sys.argv[2]))
assert count == len(z.namelist()), count
)py";
    EXPECT_EQ(pythonRun(script, {package, out}), "");

    // A folder that holds something is kept unless the user says otherwise.
    writeFile(out + "/mine.txt", "keep");
    QuendleRun refused = runQuendle({"/Expand", package, out});
    EXPECT_EQ(refused.result.exitCode, 100);
    EXPECT_HAS(refused.result.out, "is not empty. Add -force");
    succeeded({"/Expand", package, out, "-force"});
    EXPECT_EQ(readFile(out + "/mine.txt"), "keep");

    // The reader's checks hold: an entry that climbs out of the folder stops everything.
    std::string hostile = dir / "hostile.appv";
    ASSERT_TRUE(zipOf(hostile, {"AppxManifest.xml", "<Package/>", "Root/%2E%2E/%2E%2E/escaped.txt", "out"}));
    QuendleRun escaped = runQuendle({"/Expand", hostile, dir / "hostile"});
    EXPECT_EQ(escaped.result.exitCode, 100);
    EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
    EXPECT_FALSE(fs::exists(dir / "hostile/AppxManifest.xml"));
}

TEST_F(InspectCommands, ExportRegistryAgreesWithHivexOnEveryKeyValueAndType) {
    writeCommandFile(
        dir / "edits.qdc",
        {R"(Set-RegistryKey REGISTRY\MACHINE\SOFTWARE\Gone -virtualizationlevel deleted)",
         R"(Set-RegistryKey REGISTRY\MACHINE\SOFTWARE\Mine -virtualizationlevel overwrite)",
         R"(Set-VirtualizeRegValueDeleted REGISTRY\MACHINE\SOFTWARE\Mine Old)",
         R"(Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\Mine -valuename Path -type expandsz -value )"
         R"("[{AppVPackageRoot}]\a ""quoted"" path that is long enough to wrap the hex lines of regedit" )"
         R"(-pathvariable)",
         R"(Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\Mine -valuename Bytes -type binary -value 00ff10)",
         R"(Set-RegistryValue REGISTRY\MACHINE\SOFTWARE\Mine -valuename Said -type sz -value "a ""b"" C:\d")"});
    succeeded({"/BatchFileUpdate", package, dir / "edits.qdc"});
    // A line end inside a value is given on the command line.
    succeeded({"/Update", package, "Set-RegistryValue",
               R"(REGISTRY\USER\[{AppVCurrentUserSID}]\Software\Mine)", "-valuename", "List", "-type",
               "multisz", "-value", "one\r\ntwo"});
    writeFile(dir / "hivex.reg", hivexExport(package));

    std::string regFile = dir / "exported.reg";
    succeeded({"/Export-Registry", package, regFile});
    EXPECT_EQ(readFile(regFile).substr(0, 12), std::string("\xFF\xFEW\0i\0n\0d\0o\0w\0", 12));
    const std::string text = succeeded({"/Export-Registry", package});
    writeFile(dir / "stdout.reg", text);
    EXPECT_EQ(text.substr(0, 38), "Windows Registry Editor Version 5.00\n\n");
    for (const std::string& ours : {regFile, dir / "stdout.reg"})
        EXPECT_EQ(scriptProblems("compare_reg.py", {ours, dir / "hivex.reg"}), "") << ours;
    EXPECT_HAS(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n; App-V: this key is virtualized as deleted\n"
                     "@=hex(10000):00,00,00,00\n");
    EXPECT_HAS(text, "; App-V: virtualization level overwrite");
    EXPECT_HAS(text, "; App-V: value \"Old\" is virtualized as deleted\n\"Old\"=hex(20000):00,00,00,00\n");
    EXPECT_HAS(text, "; App-V: value \"Path\" holds App-V path variables\n\"Path\"=hex(400002):5b,00,");
    EXPECT_HAS(text, "[HKEY_CURRENT_USER\\Software\\Mine]\n\"List\"=hex(7):6f,00,6e,00,65,00,00,00,74,00");
    EXPECT_HAS(text, "\"Bytes\"=hex:00,ff,10\n");
    EXPECT_HAS(text, "\"InstallFolder\"=\"[{ProgramFilesX86}]\\\\Demo Notes\"\n");
    EXPECT_HAS(text, "\"WindowWidth\"=dword:00000320\n");
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
}

TEST_F(InspectCommands, RealSampleMetadataAndHivesPassEveryCommand) {
    if (!haveSamples())
        GTEST_SKIP() << "no samples at " << samplesDir();
    std::string samples = samplesDir() + "/andest22__MARI";
    for (const char* hive : {"word.x-none.msi.16.x-none.vreg.dat", "proof.en-us.msi.16.en-us.vreg.dat"}) {
        SCOPED_TRACE(hive);
        ScratchDir work;
        std::string office = samplePackage(work.path(), hive);
        ASSERT_FALSE(office.empty());
        succeeded({"/Verify", office});
        writeFile(work / "info.json", succeeded({"/Info", office, "-json"}));
        EXPECT_EQ(pythonRun("import json, sys\ni = json.load(open(sys.argv[1]))['identity']\n"
                            "print(i['manifestSchemaVersion'], i['version'], len(i['packageId']))",
                            {work / "info.json"}),
                  "2014 16.0.17328.20206 36\n");
        writeFile(work / "hivex.reg", hivexExport(samples + "/vreg/" + hive));
        succeeded({"/Export-Registry", office, work / "ours.reg"});
        EXPECT_EQ(scriptProblems("compare_reg.py", {work / "ours.reg", work / "hivex.reg"}), "");
        succeeded({"/Expand", office, work / "expanded"});
        EXPECT_EQ(readFile(work / "expanded/AppxManifest.xml"), readFile(samples + "/AppXManifest.xml"));
    }
}

} // namespace
