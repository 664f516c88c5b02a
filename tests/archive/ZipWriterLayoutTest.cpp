#include "ArchiveTestSupport.h"
#include "archive/ZipReader.h"
#include "archive/ZipWriter.h"

#include <gtest/gtest.h>
#include <tuple>
#include <zlib.h>

using namespace quendle;
using namespace quendle::test;

namespace {

// 2023-04-05 06:07:08 UTC
constexpr time_t FixedTime = 1680674828;

void setModified(const std::string& path, time_t when) {
    fs::last_write_time(fs::u8path(path),
                        std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(when)));
}

// Pairs of hex digits, spaces between them ignored.
std::string fromHex(std::string hex) {
    std::erase(hex, ' ');
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Records what a ZipWriter reports about each entry.
struct RecordingListener : ZipEntryListener, ZipWriterHooks {
    std::vector<size_t> chunkLengths;
    std::vector<uint64_t> chunkCompressed;
    uint64_t headerSize = 0, fileSize = 0, compressedSize = 0;
    int begun = 0, ended = 0;

    void beginFile(uint64_t lfh, uint64_t size, const std::string&) override {
        headerSize = lfh;
        fileSize = size;
        ++begun;
    }
    void endFile() override { ++ended; }
    void deflatedChunk(const uint8_t*, size_t length, uint64_t compressed) override {
        chunkLengths.push_back(length);
        chunkCompressed.push_back(compressed);
    }
    void storedChunk(const uint8_t*, size_t length) override { chunkLengths.push_back(length); }
    void entryDone(uint64_t compressed) override { compressedSize = compressed; }

    ZipEntryListener* entryListener() override { return this; }
    int flushMode() override { return Z_FULL_FLUSH; }
    size_t readChunkSize() override { return 0; }
    size_t outputBufferSize() override { return 0; }
    std::string encodeEntryName(const std::string& name) override { return name; }
};

std::string packOne(const ScratchDir& dir, const std::string& content, const std::string& name,
                    ZipCompression compression, ZipWriterHooks* hooks = nullptr) {
    std::string source = dir / "source.bin";
    writeFile(source, content);
    setModified(source, FixedTime);
    ZipWriter writer(hooks);
    std::string archive = dir / "out.zip";
    EXPECT_TRUE(writer.open(archive));
    EXPECT_TRUE(writer.addEntry(source, name, compression));
    EXPECT_TRUE(writer.close());
    return readFile(archive);
}

} // namespace

TEST(ZipWriterLayout, TinyStoredArchiveMatchesGoldenBytes) {
    ScratchDir dir;
    std::string bytes = packOne(dir, "hello", "a.txt", ZipCompression::Stored);
    std::string golden = fromHex(
        // local header: version 45, bit 3, stored, DOS 06:07:08 2023-04-05, zero CRC and sizes
        "504B0304 2D00 0800 0000 E430 8556 00000000 00000000 00000000 0500 0000 612E747874"
        // payload
        "68656C6C6F"
        // ZIP64 data descriptor: CRC-32 of "hello", 64-bit compressed and uncompressed sizes
        "504B0708 86A61036 0500000000000000 0500000000000000"
        // central header with 0xFFFFFFFF sizes and offset, 28-byte ZIP64 extra
        "504B0102 2D00 2D00 0800 0000 E430 8556 86A61036 FFFFFFFF FFFFFFFF 0500 1C00 0000 0000 0000"
        " 00000000 FFFFFFFF 612E747874"
        " 0100 1800 0500000000000000 0500000000000000 0000000000000000"
        // ZIP64 end record: 1 entry, directory of 79 bytes at offset 64
        "504B0606 2C00000000000000 2D00 2D00 00000000 00000000 0100000000000000 0100000000000000"
        " 4F00000000000000 4000000000000000"
        // locator pointing at the ZIP64 end record (offset 143), one disk
        "504B0607 00000000 8F00000000000000 01000000"
        // end record: every count, size and offset 0xFF
        "504B0506 FFFF FFFF FFFF FFFF FFFFFFFF FFFFFFFF 0000");
    EXPECT_EQ(bytes, golden);
}

TEST(ZipWriterLayout, AMissingSourceOrAFolderIsRefusedWithoutWriting) {
    ScratchDir dir;
    std::string source = dir / "s.txt";
    writeFile(source, "data");
    ZipWriter writer;
    ASSERT_TRUE(writer.open(dir / "out.zip"));
    EXPECT_FALSE(writer.addEntry(dir / "missing.txt", "m.txt", ZipCompression::SuperFast));
    EXPECT_FALSE(writer.addEntry(dir.path(), "folder", ZipCompression::SuperFast));
    EXPECT_TRUE(writer.addEntry(source, "s.txt", ZipCompression::Stored));
    EXPECT_TRUE(writer.close());
    std::string bytes = readFile(dir / "out.zip");
    // Only the one good entry: its header starts the file and the directory counts one entry.
    EXPECT_EQ(std::tuple(le32(bytes, 0), bytes.substr(30, 5), le64(bytes, bytes.size() - 98 + 32)),
              std::tuple(0x04034B50u, "s.txt", 1u));
}

// The payload and its CRC are checked by unzip, 7-Zip and zipfile in the packed-archive test.
TEST(ZipWriterLayout, CompressionSetsMethodAndFlagsChunksAre64KiBWithAShortLastOneAndAnEmptyFileHasNone) {
    ScratchDir dir;
    using ZipCompression::Stored, ZipCompression::SuperFast;
    // size, compression, general flags, method, chunks
    using Case = std::tuple<size_t, ZipCompression, uint16_t, uint16_t, std::vector<size_t>>;
    for (const auto& [size, compression, flags, method, chunks] :
         {Case{0, SuperFast, 0x000E, 8, {}}, Case{0, Stored, 0x0008, 0, {}},
          Case{65536, SuperFast, 0x000E, 8, {65536}}, Case{65537, SuperFast, 0x000E, 8, {65536, 1}},
          Case{3 * 65536 + 5, Stored, 0x0008, 0, {65536, 65536, 65536, 5}},
          Case{70000, ZipCompression::Maximum, 0x000A, 8, {65536, 4464}},
          Case{70000, ZipCompression::Normal, 0x0008, 8, {65536, 4464}}}) {
        SCOPED_TRACE(size);
        SCOPED_TRACE(static_cast<int>(compression));
        RecordingListener hooks;
        std::string bytes = packOne(dir, randomBytes(size), "e.txt", compression, &hooks);
        EXPECT_EQ(hooks.chunkLengths, chunks);
        EXPECT_EQ(std::tuple(hooks.begun, hooks.ended, hooks.fileSize, hooks.headerSize),
                  std::tuple(1, 1, uint64_t{size}, uint64_t{35}));
        const size_t central = le64(bytes, bytes.size() - 22 - 20 - 56 + 48);
        EXPECT_EQ(
            std::tuple(le16(bytes, 6), le16(bytes, 8), le16(bytes, central + 8), le16(bytes, central + 10)),
            std::tuple(flags, method, flags, method));
        // The descriptor follows the payload and repeats its compressed size.
        const size_t at = 35 + hooks.compressedSize;
        EXPECT_EQ(std::tuple(le32(bytes, at), le64(bytes, at + 8), le64(bytes, at + 16)),
                  std::tuple(0x08074B50u, hooks.compressedSize, size));
        if (compression == Stored) {
            EXPECT_EQ(hooks.compressedSize, size);
        } else if (size == 0) { // the empty deflate block and the CRC of nothing
            EXPECT_EQ(std::pair(bytes.substr(35, 2), le32(bytes, 41)),
                      std::pair(std::string("\x03\x00", 2), 0u));
        } else {
            // The closing bytes of the stream belong to no chunk.
            uint64_t sum = 0;
            for (uint64_t n : hooks.chunkCompressed)
                sum += n;
            EXPECT_LT(sum, hooks.compressedSize);
        }
    }
}

// A central directory far beyond one held piece and an entry of many compression batches, checked
// by Python's zipfile and our reader; the big entry's bytes must not depend on the number of threads.
TEST(ZipWriterLayout, ManyEntriesAndManyBatchesReadBackAlikeOnAnyThreads) {
    ScratchDir dir;
    std::string tiny = dir / "tiny.txt";
    writeFile(tiny, "tiny");
    std::string big = dir / "big.bin";
    std::string text;
    while (text.size() < (5u << 20))
        text += "line " + std::to_string(text.size()) + " of a compressible file\n";
    writeFile(big, text + randomBytes(1 << 20));
    const std::string longName(90, 'n');
    auto pack = [&](const char* threads) {
        ScopedEnv threadCount("QUENDLE_THREADS", threads);
        RecordingListener listener;
        ZipWriter writer(&listener);
        std::string archive = dir / (std::string("out") + threads + ".zip");
        EXPECT_TRUE(writer.open(archive));
        EXPECT_TRUE(writer.addEntry(big, "big.bin", ZipCompression::SuperFast));
        EXPECT_EQ(listener.chunkLengths.size(), (text.size() + (1u << 20) + 65535) / 65536);
        for (int i = 0; i < 12000; ++i)
            EXPECT_TRUE(
                writer.addEntry(tiny, "d/" + longName + std::to_string(i), ZipCompression::SuperFast));
        EXPECT_TRUE(writer.close());
        return archive;
    };
    std::string one = pack("1"), three = pack("3");
    EXPECT_EQ(readFile(one), readFile(three));
    EXPECT_EQ(pythonRun("import sys, zipfile, zlib\n"
                        "z = zipfile.ZipFile(sys.argv[1])\n"
                        "print(len(z.infolist()), z.testzip(), z.infolist()[-1].filename[-6:],\n"
                        "      zlib.crc32(z.read('big.bin')) == z.getinfo('big.bin').CRC)",
                        {one}),
              "12001 None n11999 True\n");
    // Our reader extracts them all, its progress counting every byte once.
    RecordingProgress progress;
    std::vector<std::string> extracted;
    ASSERT_TRUE(ZipReader::extract(one, dir / "many", &progress, extracted));
    const auto bytes = static_cast<int64_t>(text.size() + (1u << 20) + 12000 * 4);
    EXPECT_EQ(std::tuple(extracted.size(), progress.total, progress.stepped, progress.finished,
                         progress.errors.size()),
              std::tuple(size_t{12001}, bytes, bytes, 1, size_t{0}));
    EXPECT_EQ(readFile(dir / ("many/d/" + longName + "11999")), "tiny");
}
