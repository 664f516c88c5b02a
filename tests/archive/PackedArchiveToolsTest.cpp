#include "ArchiveTestSupport.h"
#include "archive/BlockMapBuilder.h"
#include "archive/PercentEncoding.h"
#include "archive/ZipReader.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace quendle;
using namespace quendle::test;

namespace {

struct SampleFile {
    std::string packagePath; // as the package names it, before percent-encoding
    std::string content;
    ZipCompression compression = ZipCompression::SuperFast;
};

std::vector<SampleFile> sampleFiles() {
    return {
        {"Root\\empty.txt", ""},
        {"Root\\VFS\\exact.bin", compressibleText(65536)},
        {"Root\\VFS\\plus1.bin", compressibleText(65537)},
        {"Root\\VFS\\My App\\random.bin", randomBytes(3 * 1024 * 1024 + 123)},
        {"Root\\[brackets] & more.txt", compressibleText(1000)},
        {"Root\\caf\xC3\xA9 \xE2\x82\xAC.txt", "non-ASCII name"},
        {"Root\\stored.bin", compressibleText(100000), ZipCompression::Stored},
        {"Root\\max.txt", compressibleText(200000), ZipCompression::Maximum},
        {"Scripts\\normal.txt", compressibleText(70000), ZipCompression::Normal},
    };
}

// Packs the files the way a package save does: the mapped entries, the block map, then
// "[Content_Types].xml" outside the map. The block map stays beside the archive.
std::string pack(const ScratchDir& dir, const std::vector<SampleFile>& files) {
    std::string archive = dir / "out/package.appv";
    std::filesystem::create_directories(dir / "out");
    BlockMapBuilder builder;
    EXPECT_TRUE(builder.open(archive));
    int n = 0;
    for (const SampleFile& f : files) {
        std::string source = dir / ("src/" + std::to_string(n++));
        writeFile(source, f.content);
        EXPECT_TRUE(builder.writer().addEntry(source, percentEncodePackagePath(f.packagePath), f.compression))
            << f.packagePath;
    }
    EXPECT_TRUE(builder.finish());
    std::string types = dir / "src/types.xml";
    writeFile(types, "<?xml version=\"1.0\"?><Types/>");
    EXPECT_TRUE(builder.writer().addEntry(types, "[Content_Types].xml", ZipCompression::SuperFast));
    EXPECT_TRUE(builder.writer().close());
    return archive;
}

} // namespace

TEST(PackedArchive, PassesUnzip7zipPythonAndTheBlockMapVerifierAndReadsBackAlike) {
    ScratchDir dir;
    std::string archive = pack(dir, sampleFiles());
    for (const auto& [tool, test, verdict] :
         {std::tuple{"unzip", " -t ", "No errors detected"}, std::tuple{"7z", " t ", "Everything is Ok"}}) {
        if (!haveTool(tool))
            continue;
        RunResult r = runShell(tool + std::string(test) + shellQuote(archive));
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_HAS(r.out, verdict);
    }
    const std::string py =
        pythonRun("import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nprint(z.testzip(), [i.filename "
                  "for i in z.infolist()])\n",
                  {archive});
    for (const char* part :
         {"None [", "'Root/VFS/My%20App/random.bin'", "'Root/%5Bbrackets%5D%20%26%20more.txt'",
          "'Root/caf%C3%A9%20%E2%82%AC.txt'", "'AppxBlockMap.xml', '[Content_Types].xml']"})
        EXPECT_HAS(py, part);

    RunResult verify = runShell("/usr/bin/python3 " + shellQuote(verifierPath()) + " " + shellQuote(archive));
    EXPECT_EQ(verify.exitCode, 0) << verify.out;

    // unzip extracts the bytes that were packed, under the percent-encoded names that were stored.
    if (!haveTool("unzip"))
        return;
    runShell("unzip -q -o " + shellQuote(archive) + " -d " + shellQuote(dir / "theirs"));
    for (const SampleFile& f : sampleFiles()) {
        std::string theirs =
            dir / ("theirs/" + percentEncodeEntryName(percentEncodePackagePath(f.packagePath)));
        EXPECT_EQ(readFile(theirs), f.content) << theirs;
    }
}

TEST(PackedArchive, ReaderExtractsArchivesOfOtherTools) {
    ScratchDir dir;
    writeFile(dir / "tree/a.txt", "alpha");
    writeFile(dir / "tree/sub/b.bin", randomBytes(200000));
    writeFile(dir / "tree/sub/deeper/c.txt", compressibleText(150000));
    std::filesystem::create_directories(dir / "tree/emptydir");
    // Python's zipfile writes the archives of the Unicode-path test below.
    const std::pair<std::string, std::string> makers[] = {
        {"zip", "cd " + shellQuote(dir / "tree") + " && zip -q -r " + shellQuote(dir / "zip.zip") + " ."},
        {"7z", "cd " + shellQuote(dir / "tree") + " && 7z a -tzip -bd " + shellQuote(dir / "7z.zip") +
                   " . >/dev/null"},
    };
    for (const auto& [name, command] : makers) {
        if (!haveTool(name))
            continue;
        RunResult made = runShell(command);
        ASSERT_EQ(made.exitCode, 0) << made.out;
        std::vector<std::string> extracted;
        std::string out = dir / ("out-" + name);
        ASSERT_TRUE(ZipReader::extract(dir / (name + ".zip"), out, nullptr, extracted)) << name;
        EXPECT_EQ(extracted.size(), 3u) << name << ": folders are not listed";
        for (const char* file : {"/a.txt", "/sub/b.bin", "/sub/deeper/c.txt"})
            EXPECT_EQ(readFile(out + file), readFile(dir / "tree" + file)) << name << file;
        EXPECT_TRUE(std::filesystem::is_directory(out + "/emptydir")) << name;
    }
}

TEST(BlockMap, DocumentLayoutNamesSizesAndBlocks) {
    ScratchDir dir;
    std::string data = randomBytes(100000, 7);
    pack(dir, {{"Root\\VFS\\A B.txt", data, ZipCompression::SuperFast},
               {"Root\\empty.txt", "", ZipCompression::SuperFast},
               {"Root\\stored.bin", data, ZipCompression::Stored}});
    const std::string xml = readFile(dir / "out/AppxBlockMap.xml");
    std::string expectedStart = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                                "<BlockMap xmlns=\"http://schemas.microsoft.com/appx/2010/blockmap\" "
                                "HashMethod=\"http://www.w3.org/2001/04/xmlenc#sha256\">\n"
                                "  <File Name=\"Root\\VFS\\A B.txt\" Size=\"100000\" LfhSize=\"48\">\n"
                                "    <Block Hash=\"";
    EXPECT_EQ(xml.substr(0, expectedStart.size()), expectedStart);
    // An empty file still has its File element, with an end tag and no blocks.
    EXPECT_HAS(xml, "  <File Name=\"Root\\empty.txt\" Size=\"0\" LfhSize=\"44\">\n  </File>\n");
    // The hashes, sizes and counts of the blocks are checked by verify_appv.py in the packed-archive
    // test, on entries of every shape.
    EXPECT_EQ(xml.substr(xml.size() - 12), "</BlockMap>\n");
}

TEST(BlockMap, FailedArchiveCreationBuildsNoMap) {
    ScratchDir dir;
    BlockMapBuilder builder;
    EXPECT_FALSE(builder.open(dir / "missing-folder/p.appv"));
    writeFile(dir / "a", "x");
    EXPECT_FALSE(builder.writer().addEntry(dir / "a", "Root\\a", ZipCompression::SuperFast));
    EXPECT_FALSE(builder.finish());
    EXPECT_FALSE(builder.writer().close());
}

TEST(PackedArchive, ReaderTakesAUnicodePathOnlyForItsOwnNameAndReadsStoredEntriesBeforeAComment) {
    ScratchDir dir;
    // Python's zipfile writes the extra fields as given: an Info-ZIP Unicode path field names
    // the file only while its CRC-32 is that of the stored name.
    RunResult made = runShell(
        "/usr/bin/python3 -c \"import struct, sys, zipfile, zlib\n"
        "def unicode(stored, name):\n"
        "    data = b'\\x01' + struct.pack('<I', zlib.crc32(stored)) + name.encode()\n"
        "    return struct.pack('<HH', 0x7075, len(data)) + data\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:\n"
        "    z.writestr('plain.txt', b'stored')\n"
        "    for stored, crcOf, name, data in [('old.txt', b'old.txt', 'n\\u00e9w.txt', b'renamed'),\n"
        "                                      ('keep.txt', b'other', 'stale.txt', b'kept')]:\n"
        "        info = zipfile.ZipInfo(stored)\n"
        "        info.extra = unicode(crcOf, name)\n"
        "        z.writestr(info, data, zipfile.ZIP_DEFLATED)\n"
        "    z.comment = b'c' * 1000\n\" " +
        shellQuote(dir / "u.zip"));
    ASSERT_EQ(made.exitCode, 0) << made.out;
    std::vector<std::string> extracted;
    ASSERT_TRUE(ZipReader::extract(dir / "u.zip", dir / "out", nullptr, extracted));
    EXPECT_EQ(readFile(dir / "out/plain.txt") + readFile(dir / "out/n\xc3\xa9w.txt") +
                  readFile(dir / "out/keep.txt"),
              "storedrenamedkept");
    EXPECT_EQ(extracted.size(), 3u) << "and no stale.txt";
}
