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
    // /Verify -json: the number of problems, the first one's kind, entry file name and block; ""
    // when the package is sound. The block map of these packages lists 14 entries, 12 not empty.
    const char* verify;
    const char* copied; // saved_layout.py: which watched entries keep their compressed bytes
};

const Layout Layouts[] = {
    {"original", "", "bce"},
    {"empty-03-00", "", "bce"},
    {"empty-stored-final-block", "", "bce"},
    {"empty-no-descriptor", "", "bce"},
    {"stored", "", "-"},
    {"stored-with-block-sizes", "12 stored-block-size Registry.dat 1", "-"},
    {"one-stream-no-flush", "12 block-size Registry.dat 1", "-"},
    {"sync-flush", "1 block-reaches-back big.txt 2", "ce"},
    {"level-0", "", "bce"},
    {"level-1", "", "bce"},
    {"level-2", "", "bce"},
    {"level-3", "", "bce"},
    {"level-4", "", "bce"},
    {"level-5", "", "bce"},
    {"level-6", "", "bce"},
    {"level-7", "", "bce"},
    {"level-8", "", "bce"},
    {"level-9", "", "bce"},
    {"zip64-extra-in-local-headers", "", "bce"},
    {"descriptor-32-bit-signed", "", "bce"},
    {"descriptor-32-bit-unsigned", "", "bce"},
    {"no-descriptors", "", "bce"},
    {"utf8-names-flagged", "", "bce"},
    {"utf8-names-unflagged", "", "bce"},
    {"ntfs-times", "", "bce"},
    {"extended-times", "", "bce"},
    {"unicode-path-field", "", "bce"},
    {"unicode-path-field-other-name", "", "bce"},
    {"comments", "", "bce"},
    {"block-map-names-in-wrong-case", "14 block-map-name-case Registry.dat None", "bce"},
    {"repack-zip", "12 block-size Registry.dat 1", "-"},
    {"repack-python-zipfile", "26 local-header-size Registry.dat None", "-"},
    {"repack-7z", "13 block-map-order AppxManifest.xml None", "-"},
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

// The JSON report of /Verify against its text report and the documented kinds; prints the number
// of problems and the first one's kind, entry file name and block.
const char* const VerifyJsonScript = R"(
import json, sys
d = json.loads(sys.argv[1])
lines = [l for l in sys.argv[2].splitlines()[1:] if l and not l.startswith("Package verified")]
assert [p["message"] for p in d["problems"]] == lines, (d["problems"], lines)
assert d["summary"]["problems"] == len(lines) == sum(d["summary"]["byKind"].values()) != d["sound"]
assert all("`%s`" % p["kind"] in open(sys.argv[3]).read() for p in d["problems"])
p = d["problems"][0] if lines else None
print(p and "%d %s %s %s" % (len(lines), p["kind"], p["entry"] and p["entry"].split("\\")[-1], p["block"]) or ""))";

class ForeignLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(ForeignLayout, IsVerifiedExpandedExportedDiffedAndSavedAsTheOtherCommandsReadIt) {
    const Layout& layout = GetParam();
    ASSERT_FALSE(basePackage().empty());
    ScratchDir dir;
    std::string foreign = dir / "p.appv";
    ASSERT_EQ(scriptProblems("foreign_layouts.py", {basePackage(), foreign, layout.name}), "");

    // The report as data (checked against the text report and the documented kinds), and the
    // exit status that tells a sound package.
    QuendleRun verify = runQuendle({"/Verify", foreign}), json = runQuendle({"/Verify", foreign, "-json"});
    EXPECT_EQ(verify.result.exitCode, *layout.verify ? 100 : 0) << verify.result.out;
    EXPECT_EQ(json.result.exitCode, verify.result.exitCode);
    EXPECT_EQ(
        pythonRun(VerifyJsonScript, {json.result.out, verify.result.out, sourceDir() + "/docs/inspect.md"}),
        std::string(layout.verify) + "\n");
    // Read the same as the package in our own layout.
    EXPECT_EQ(runQuendle({"/Diff", basePackage(), foreign}).result.exitCode, 0);
    succeeded({"/Info", foreign, "-json"});
    succeeded({"/Expand", foreign, dir / "out"});
    succeeded({"/Export-Registry", foreign, dir / "r.reg"});
    succeeded({"/Export-Config", foreign, dir / "config"});
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
