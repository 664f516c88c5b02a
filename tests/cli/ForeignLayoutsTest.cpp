// One package written again the way other writers lay out a container (foreign_layouts.py: zlib,
// zip, 7-Zip and Python's zipfile; the format's original writer among them) must be read by every
// command, and its one-edit save must pass unzip, 7-Zip and the block-map verifier, copying what
// its block map describes and compressing the rest afresh, with either inflater.
#include "HostileTestSupport.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

using namespace quendle::test;

namespace {

struct Layout {
    const char* name;
    const char* problem;    // what /Verify names first; "" when the package is sound
    int problems;           // how many problems /Verify counts (0: not checked)
    const char* copied;     // saved_layout.py: which watched entries keep their compressed bytes
    const char* first = ""; // /Verify -json: the first problem's kind, entry's file name and block
};

// Wrong names: the 14 entries of the block map, 12 of them not empty.
const Layout Layouts[] = {
    {"original", "", 0, "bce"},
    {"empty-03-00", "", 0, "bce"},
    {"empty-stored-final-block", "", 0, "bce"},
    {"empty-no-descriptor", "", 0, "bce"},
    {"stored", "", 0, "-"},
    {"stored-with-block-sizes", "is stored, but AppxBlockMap.xml gives its block 1 a compressed size", 12,
     "-", "stored-block-size Registry.dat 1"},
    {"one-stream-no-flush", "block 1 does not have the compressed size", 12, "-",
     "block-size Registry.dat 1"},
    {"sync-flush", "big.txt\": block 2 cannot be inflated on its own: it refers back", 1, "ce",
     "block-reaches-back big.txt 2"},
    {"level-0", "", 0, "bce"},
    {"level-1", "", 0, "bce"},
    {"level-2", "", 0, "bce"},
    {"level-3", "", 0, "bce"},
    {"level-4", "", 0, "bce"},
    {"level-5", "", 0, "bce"},
    {"level-6", "", 0, "bce"},
    {"level-7", "", 0, "bce"},
    {"level-8", "", 0, "bce"},
    {"level-9", "", 0, "bce"},
    {"zip64-extra-in-local-headers", "", 0, "bce"},
    {"descriptor-32-bit-signed", "", 0, "bce"},
    {"descriptor-32-bit-unsigned", "", 0, "bce"},
    {"no-descriptors", "", 0, "bce"},
    {"utf8-names-flagged", "", 0, "bce"},
    {"utf8-names-unflagged", "", 0, "bce"},
    {"ntfs-times", "", 0, "bce"},
    {"extended-times", "", 0, "bce"},
    {"unicode-path-field", "", 0, "bce"},
    {"unicode-path-field-other-name", "", 0, "bce"},
    {"comments", "", 0, "bce"},
    {"block-map-names-in-wrong-case", "the names differ in case", 14, "bce",
     "block-map-name-case Registry.dat None"},
    {"repack-zip", "does not have the compressed size", 0, "-", "block-size Registry.dat 1"},
    {"repack-python-zipfile", "does not have the compressed size", 0, "-",
     "local-header-size Registry.dat None"},
    {"repack-7z", "does not have the compressed size", 0, "-", "block-map-order AppxManifest.xml None"},
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.name;
}

std::string script(const char* name) {
    return sourceDir() + "/tests/cli/" + name;
}

// The demo package with files that make layouts differ: several blocks, exactly one block, no
// compression gain, a non-ASCII name, and two empty files (the original writer stores those
// with no payload at all).
const std::string& basePackage() {
    static ScratchDir dir;
    static std::string package = [] {
        std::string folder = dir / "extra", path = dir / "base.appv";
        fs::create_directories(folder + "/sub");
        std::string text;
        for (int i = 0; text.size() < 360000; ++i)
            text += "line " + std::to_string(i) + " of the big file\n";
        writeFile(folder + "/big.txt", text);
        writeFile(folder + "/exact.bin", text.substr(0, 65536));
        writeFile(folder + "/noise.bin", randomBytes(70000, 5));
        writeFile(folder + "/Caf\xC3\xA9.txt", text.substr(0, 1500));
        writeFile(folder + "/empty.cfg", "");
        writeFile(folder + "/sub/also-empty.log", "");
        if (!makePackage(demoDir(), path))
            return std::string();
        QuendleRun run = runQuendle(
            {"/Update", path, "Add-Folder", "Root\\VFS\\ProgramFilesX86\\Demo Notes\\extra", folder});
        return run.result.exitCode == 0 ? path : std::string();
    }();
    return package;
}

// What /Export-Registry writes for the base package, in our own layout.
const std::string& baseRegistry() {
    static ScratchDir dir;
    static std::string text = [] {
        succeeded({"/Export-Registry", basePackage(), dir / "r.reg"});
        return readFile(dir / "r.reg");
    }();
    return text;
}

// The JSON report of /Verify against its text report and the documented kinds; prints the first
// problem's kind, entry file name and block.
const char* const VerifyJsonScript = R"(
import json, sys
d = json.loads(sys.argv[1])
lines = [l for l in sys.argv[2].splitlines()[1:] if l]
assert [p["message"] for p in d["problems"]] == lines, (d["problems"], lines)
assert d["summary"]["problems"] == len(lines) == sum(d["summary"]["byKind"].values()) and not d["sound"]
assert all("`%s`" % p["kind"] in open(sys.argv[3]).read() for p in d["problems"])
p = d["problems"][0]
print(p["kind"], p["entry"] and p["entry"].split("\\")[-1], p["block"]))";

class ForeignLayout : public ::testing::TestWithParam<Layout> {};

TEST(ForeignLayouts, TheTableHasAnExpectationForEveryLayoutTheGeneratorWrites) {
    std::string listed = runProgram({"/usr/bin/python3", script("foreign_layouts.py"), "--list"}).out, ours;
    for (const Layout& layout : Layouts)
        ours += std::string(layout.name) + "\n";
    EXPECT_EQ(listed, ours);
}

TEST_P(ForeignLayout, IsVerifiedExpandedExportedAndSavedAsTheOtherCommandsReadIt) {
    const Layout& layout = GetParam();
    ASSERT_FALSE(basePackage().empty());
    ScratchDir dir;
    std::string foreign = dir / "p.appv";
    ASSERT_EQ(scriptProblems("foreign_layouts.py", {basePackage(), foreign, layout.name}), "");

    QuendleRun verify = runQuendle({"/Verify", foreign});
    std::string said = verify.result.out + verify.result.err;
    if (*layout.problem) {
        EXPECT_EQ(verify.result.exitCode, 100) << said;
        EXPECT_HAS(said, layout.problem);
        if (layout.problems) {
            EXPECT_HAS(said, "p.appv: " + std::to_string(layout.problems) + ".");
        }
        // The same problems as data, each of a documented kind.
        QuendleRun json = runQuendle({"/Verify", foreign, "-json"});
        EXPECT_EQ(json.result.exitCode, 100);
        EXPECT_EQ(pythonRun(VerifyJsonScript,
                            {json.result.out, verify.result.out, sourceDir() + "/docs/inspect.md"}),
                  std::string(layout.first) + "\n");
    } else {
        EXPECT_EQ(verify.result.exitCode, 0) << said;
    }
    succeeded({"/Info", foreign, "-json"});
    succeeded({"/Expand", foreign, dir / "out"});
    succeeded({"/Export-Registry", foreign, dir / "r.reg"});
    EXPECT_EQ(readFile(dir / "r.reg"), baseRegistry());

    // The same edit with each inflater gives the same bytes.
    std::string added = dir / "n.txt", saved[2] = {dir / "isal.appv", dir / "zlib.appv"};
    writeFile(added, "added\n");
    for (int i = 0; i < 2; ++i) {
        fs::copy_file(foreign, saved[i]);
        RunOptions options{{{"SOURCE_DATE_EPOCH", "1700000000"}, {"QUENDLE_INFLATER", i ? "zlib" : ""}}, {}};
        succeeded({"/Update", saved[i], "Add-File", "Root\\VFS\\ProgramFilesX86\\Demo Notes\\n.txt", added},
                  options);
    }
    EXPECT_TRUE(readFile(saved[0]) == readFile(saved[1])) << "the inflaters disagree";
    EXPECT_EQ(verifyPackage(saved[0]), "");
    succeeded({"/Verify", saved[0]});
    RunResult outcome =
        runProgram({"/usr/bin/python3", script("saved_layout.py"), foreign, saved[0], dir / "out"});
    EXPECT_EQ(outcome.out, "copied=" + std::string(layout.copied) + " empties=03 00 expanded=same\n")
        << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, ForeignLayout, ::testing::ValuesIn(Layouts),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace

// A file past 4 GiB needs the ZIP64 fields everywhere a size is written; the original writer's
// layout gives it no other room.
TEST(ForeignLayouts, AFileOfFourGibibytesAndOneBlockInTheOriginalWritersLayoutIsReadAndCopied) {
    ScratchDir dir;
    std::string big = dir / "big.bin", base = dir / "base.appv", foreign = dir / "p.appv";
    {
        // Mostly zeros, so that it costs little to compress; a mark in every block keeps the
        // blocks apart.
        std::ofstream out(big, std::ios::binary);
        std::string block(65536, '\0');
        for (uint64_t i = 0; i < (4ull << 30) / 65536 + 1; ++i) {
            std::memcpy(block.data(), &i, sizeof i);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    ASSERT_TRUE(makePackage(demoDir(), base));
    succeeded({"/Update", base, "Add-File", "Root\\VFS\\ProgramFilesX86\\Demo Notes\\big.bin", big});
    fs::remove(big);
    ASSERT_EQ(scriptProblems("foreign_layouts.py", {base, foreign, "original"}), "");
    fs::remove(base);
    succeeded({"/Verify", foreign});
    // Copied, not compressed afresh: the compressed bytes keep their size.
    const char* compressed = "import sys, zipfile\n"
                             "print([i.compress_size for i in zipfile.ZipFile(sys.argv[1]).infolist()\n"
                             "       if i.filename.endswith('big.bin')])";
    std::string before = pythonRun(compressed, {foreign});
    std::string added = dir / "n.txt";
    writeFile(added, "added\n");
    succeeded({"/Update", foreign, "Add-File", "Root\\VFS\\ProgramFilesX86\\Demo Notes\\n.txt", added});
    EXPECT_EQ(verifyPackage(foreign), "");
    std::string listing = runProgram({"/usr/bin/unzip", "-Zl", foreign}).out;
    EXPECT_HAS(listing, std::to_string((4ull << 30) + 65536));
    EXPECT_EQ(pythonRun(compressed, {foreign}), before);
}
