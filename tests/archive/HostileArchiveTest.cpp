#include "ArchiveTestSupport.h"
#include "archive/ZipReader.h"
#include "archive/ZipRecords.h"
#include "archive/ZipWriter.h"

#include <chrono>
#include <gtest/gtest.h>
#include <tuple>
#include <zlib.h>

using namespace quendle;
using namespace quendle::test;

namespace {

// Stores names exactly as given, so that tests can write what a hostile tool would.
struct RawNames : ZipWriterHooks {
    ZipEntryListener* entryListener() override { return nullptr; }
    int flushMode() override { return Z_NO_FLUSH; }
    size_t readChunkSize() override { return 0; }
    size_t outputBufferSize() override { return 0; }
    std::string encodeEntryName(const std::string& name) override { return name; }
};

std::string packRaw(const ScratchDir& dir, const std::vector<std::pair<std::string, std::string>>& entries,
                    const std::string& archiveName = "a.zip") {
    RawNames hooks;
    ZipWriter writer(&hooks);
    std::string archive = dir / archiveName;
    EXPECT_TRUE(writer.open(archive));
    int n = 0;
    for (const auto& [name, content] : entries) {
        std::string source = dir / ("src/" + std::to_string(n++));
        writeFile(source, content);
        EXPECT_TRUE(writer.addEntry(source, name, ZipCompression::SuperFast)) << name;
    }
    EXPECT_TRUE(writer.close());
    return archive;
}

// One deflated entry with a payload and declared sizes of the test's choosing.
std::string craftDeflated(const std::string& name, const std::string& payload, uint32_t crc,
                          uint64_t declared) {
    LocalFileHeader local(FlagDataDescriptor, MethodDeflated, {}, name);
    DataDescriptor descriptor;
    descriptor.set(crc, payload.size(), declared);
    CentralDirectoryHeader central(local, name, 0);
    central.set(crc, payload.size(), declared);
    Zip64EndOfCentralDirectory zip64End;
    Zip64EndLocator locator;
    EndOfCentralDirectory end;
    auto text = [](const ZipRecord& r) { return std::string(r.bytes().begin(), r.bytes().end()); };
    std::string out = text(local) + payload + text(descriptor);
    uint64_t directoryAt = out.size();
    out += text(central);
    zip64End.set(1, out.size() - directoryAt, directoryAt);
    locator.setEndRecordOffset(out.size());
    return out + text(zip64End) + text(locator) + text(end);
}

// Raw deflate of `data` ending with `flush` (Z_FINISH for a whole stream).
std::string rawDeflate(const std::string& data, int level, int flush) {
    std::string out(compressBound(data.size()), '\0');
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t crcOf(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

bool folderIsEmpty(const std::string& path) {
    return !std::filesystem::exists(path) || std::filesystem::is_empty(path);
}

} // namespace

// Names that climb out or are absolute, and two entries for one file: refused before anything is
// written, the good entry before them included.
TEST(HostileArchive, NamesLeavingTheDestinationOrNamingOneFileTwiceAreRefusedBeforeAnythingIsWritten) {
    ScratchDir dir;
    const std::string outside = dir / "evil.txt", out = "outside the destination";
    using Case = std::tuple<std::string, std::string, std::string>; // first name, second name, refusal
    std::vector<Case> cases{{"good.txt", outside, out}};
    for (const char* name :
         {"../evil.txt", "x/../../evil.txt", "..\\evil.txt", "%2E%2E/evil.txt", "x/%2e%2e/%2E%2E/evil.txt",
          "/evil.txt", "\\evil.txt", "C:/evil.txt", "c:evil.txt", "%2Fevil.txt"})
        cases.emplace_back("good.txt", name, out);
    cases.insert(cases.end(),
                 {Case{"Root/notes.txt", "Root/notes.txt", "appears twice"},
                  Case{"Root/notes.txt", "ROOT/Notes.TXT", "differ only in case"},
                  Case{"Root/a b.txt", "Root/a%20B.txt", "differ only in case"},
                  Case{"Root/\xc3\xa9t\xc3\xa9.txt", "Root/\xc3\x89T\xc3\x89.txt", "differ only in case"},
                  Case{"Root\\dir\\x", "root/DIR/X", "differ only in case and separators"},
                  Case{"Root/dir/x", "Root\\dir\\x", "differ only in separators"},
                  Case{"Root/./dir//x", "Root/dir/x", "differ only in separators"}});
    for (const auto& [first, second, refusal] : cases) {
        SCOPED_TRACE(second);
        std::string archive = packRaw(dir, {{first, "first"}, {second, "second"}});
        RecordingProgress progress;
        ZipReader reader(&progress);
        ASSERT_TRUE(reader.open(archive));
        std::vector<std::string> extracted;
        std::string dest = dir / "dest/res";
        EXPECT_FALSE(reader.extractAll(dest, extracted));
        EXPECT_TRUE(extracted.empty());
        EXPECT_TRUE(folderIsEmpty(dest));
        EXPECT_EQ(progress.errors, std::vector<uint32_t>{ExtractErrorCode});
        EXPECT_HAS(reader.failure().text(), refusal);
        for (const std::string& written : {outside, dir / "dest/evil.txt", std::string("/evil.txt")})
            EXPECT_FALSE(std::filesystem::exists(written)) << written;
    }
    // Folder entries may repeat: they name no bytes.
    std::string folders = packRaw(dir, {{"Root/", ""}, {"root/", ""}, {"Root/a.txt", "a"}}, "folders.zip");
    ZipReader reader;
    ASSERT_TRUE(reader.open(folders));
    std::vector<std::string> extracted;
    EXPECT_TRUE(reader.extractAll(dir / "dest2", extracted)) << reader.failure().text();
    EXPECT_EQ(extracted.size(), 1u);
}

TEST(HostileArchive, LinksPlantedInTheDestinationAreNeverFollowed) {
    ScratchDir dir;
    writeFile(dir / "outside/target.txt", "precious");
    std::filesystem::create_directories(dir / "dest");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "dest/link");
    std::filesystem::create_symlink(dir / "outside/target.txt", dir / "dest/file-link");

    std::vector<std::string> extracted;
    std::string throughFolder = packRaw(dir, {{"link/new.txt", "owned"}}, "folder.zip");
    EXPECT_FALSE(ZipReader::extract(throughFolder, dir / "dest", nullptr, extracted));
    EXPECT_FALSE(std::filesystem::exists(dir / "outside/new.txt"));

    std::string overFile = packRaw(dir, {{"file-link", "replaced"}}, "file.zip");
    EXPECT_TRUE(ZipReader::extract(overFile, dir / "dest", nullptr, extracted));
    EXPECT_EQ(readFile(dir / "outside/target.txt"), "precious")
        << "the link is replaced, not written through";
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "dest/file-link"));
    EXPECT_EQ(readFile(dir / "dest/file-link"), "replaced");
}

TEST(HostileArchive, TruncatedOrCorruptArchivesFailCleanly) {
    ScratchDir dir;
    std::string good = readFile(packRaw(
        dir, {{"a.txt", compressibleText(200000)}, {"b/c.bin", randomBytes(100000)}, {"d.txt", "small"}}));
    std::vector<std::pair<std::string, std::string>> damaged;
    for (size_t cut : {size_t{0}, size_t{4}, size_t{29}, size_t{1000}, good.size() / 2, good.size() - 200,
                       good.size() - 98, good.size() - 60, good.size() - 23, good.size() - 1})
        damaged.emplace_back("truncated at " + std::to_string(cut), good.substr(0, cut));
    size_t directory = le64(good, good.size() - 98 + 48);
    auto patched = [&](size_t at, const std::string& bytes) {
        std::string copy = good;
        copy.replace(at, bytes.size(), bytes);
        return copy;
    };
    damaged.emplace_back("central signature", patched(directory, "XXXX"));
    damaged.emplace_back("directory offset beyond the end",
                         patched(good.size() - 98 + 48, std::string(8, '\x7F')));
    damaged.emplace_back("entry count of a billion",
                         patched(good.size() - 98 + 24, std::string("\0\0\0\x40", 4)));
    // First entry's ZIP64 extra: local header offset and compressed size beyond the file.
    size_t extra = directory + 46 + 5;
    damaged.emplace_back("local header offset", patched(extra + 20, std::string(8, '\x0F')));
    damaged.emplace_back("payload bytes", patched(40, std::string(64, '\xA5')));
    damaged.emplace_back("stored entry with a bad CRC", patched(directory + 16, "\x01\x02\x03\x04"));

    for (const auto& [label, bytes] : damaged) {
        SCOPED_TRACE(label);
        std::string path = dir / "damaged.zip";
        writeFile(path, bytes);
        std::vector<std::string> extracted;
        std::string dest = dir / "dest";
        std::filesystem::remove_all(dest);
        RecordingProgress progress;
        EXPECT_FALSE(ZipReader::extract(path, dest, &progress, extracted));
        // Whatever was reported extracted is complete; a damaged entry leaves no file behind.
        for (const std::string& f : extracted)
            EXPECT_TRUE(std::filesystem::exists(f)) << f;
        if (!std::filesystem::exists(dest))
            continue;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
            EXPECT_TRUE(!e.is_regular_file() || std::ranges::count(extracted, e.path().string())) << e.path();
    }

    // A compressed size beyond the end of the file does not matter while the deflate stream
    // ends by itself: the data must then come out intact.
    std::string path = dir / "long.zip";
    writeFile(path, patched(extra + 12, std::string("\0\0\0\0\x01\0\0\0", 8)));
    std::vector<std::string> extracted;
    if (ZipReader::extract(path, dir / "long", nullptr, extracted)) {
        EXPECT_EQ(readFile(dir / "long/a.txt"), compressibleText(200000));
    }
}

// An empty file is the damaged archive truncated at 0 above.
TEST(HostileArchive, ArchivesWithoutEntriesOrWithoutAFileFailToExtract) {
    ScratchDir dir;
    std::vector<std::string> extracted;
    RecordingProgress progress;
    EXPECT_FALSE(ZipReader::extract(packRaw(dir, {}, "none.zip"), dir / "d1", &progress, extracted));
    EXPECT_EQ(progress.errors, std::vector<uint32_t>{ExtractErrorCode});
    EXPECT_FALSE(ZipReader::extract(dir / "missing.zip", dir / "d2", nullptr, extracted));
}

// A short entry that claims 4 GiB, and a bomb of 10 GiB of zeros as 10,240 repeats of one
// independent deflate block of 1 MiB (about 10 MiB).
TEST(HostileArchive, EntriesClaimingOrHidingGibibytesAreStoppedWithoutWritingThem) {
    const std::string text = compressibleText(5000), zeros(1 << 20, '\0');
    const std::string block = rawDeflate(zeros, 9, Z_FULL_FLUSH), shortData = rawDeflate(text, 1, Z_FINISH);
    constexpr int repeats = 10240;
    const uint32_t blockCrc = crcOf(zeros);
    std::string bomb;
    uint32_t crc = 0;
    for (int k = 0; k < repeats; ++k) {
        bomb += block;
        crc = static_cast<uint32_t>(crc32_combine(crc, blockCrc, static_cast<z_off_t>(zeros.size())));
    }
    bomb += std::string("\x03\x00", 2);
    const uint64_t inflated = uint64_t{repeats} << 20;

    ScratchDir dir;
    // label, payload, its CRC, declared size, extraction limit, the refusal
    using Case = std::tuple<const char*, const std::string&, uint32_t, uint64_t, uint64_t, const char*>;
    for (const auto& [label, payload, payloadCrc, declared, limit, expected] :
         {Case{"claims 4 GiB over the limit", shortData, crcOf(text), 4ull << 30, 64 << 20,
               "4294967296 bytes"},
          // Within the free space, the short data contradict the claim.
          Case{"claims 4 GiB and holds less", shortData, crcOf(text), 4ull << 30, 0, ""},
          Case{"lies about its size", bomb, crc, 1 << 20, 0, "more data than the 1048576 bytes"},
          Case{"declares 10 GiB over the limit", bomb, crc, inflated, 256 << 20, "10737418240 bytes"},
          Case{"declares more than the disk holds", bomb, crc, 1ull << 44, 0, "17592186044416 bytes"}}) {
        SCOPED_TRACE(label);
        writeFile(dir / "bomb.zip", craftDeflated("bomb.bin", payload, payloadCrc, declared));
        auto started = std::chrono::steady_clock::now();
        ZipReader reader;
        reader.setExtractionLimit(limit);
        ASSERT_TRUE(reader.open(dir / "bomb.zip"));
        std::vector<std::string> extracted;
        EXPECT_FALSE(reader.extractAll(dir / "dest", extracted));
        EXPECT_HAS(reader.failure().text(), expected);
        EXPECT_TRUE(folderIsEmpty(dir / "dest"));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    }
    EXPECT_LT(platform::peakKiBOfThisProcess(), 256 * 1024) << "peak RSS in KiB";
}
