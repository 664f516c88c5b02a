#include "ArchiveTestSupport.h"
#include "archive/BlockMapBuilder.h"

#include <gtest/gtest.h>
#include <regex>

using namespace quendle;
using namespace quendle::test;

namespace {

struct BuiltMap {
    std::string archive;
    std::string xml;
};

// Packs (name, content, compression) entries, then the map, then "[Content_Types].xml".
BuiltMap build(const ScratchDir& dir,
               const std::vector<std::tuple<std::string, std::string, ZipCompression>>& entries) {
    BuiltMap out{dir / "pkg/p.appv", {}};
    std::filesystem::create_directories(dir / "pkg");
    BlockMapBuilder builder;
    EXPECT_EQ(builder.open(out.archive), 0u);
    int n = 0;
    for (const auto& [name, content, compression] : entries) {
        std::string source = dir / ("src" + std::to_string(n++));
        writeFile(source, content);
        EXPECT_TRUE(builder.writer().addEntry(source, name, compression)) << name;
    }
    EXPECT_TRUE(builder.finish());
    // The map is complete on disk before it is packed.
    out.xml = readFile(builder.blockMapPath());
    std::string types = dir / "types";
    writeFile(types, "<Types/>");
    EXPECT_TRUE(builder.writer().addEntry(types, "[Content_Types].xml", ZipCompression::SuperFast));
    EXPECT_TRUE(builder.writer().close());
    return out;
}

} // namespace

TEST(BlockMap, DocumentLayoutNamesSizesAndBlocks) {
    ScratchDir dir;
    std::string data = randomBytes(100000, 7);
    BuiltMap map = build(dir, {{"Root\\VFS\\A%20B.txt", data, ZipCompression::SuperFast},
                               {"Root\\empty.txt", "", ZipCompression::SuperFast},
                               {"Root\\stored.bin", data, ZipCompression::Stored}});
    std::string expectedStart = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                                "<BlockMap xmlns=\"http://schemas.microsoft.com/appx/2010/blockmap\" "
                                "HashMethod=\"http://www.w3.org/2001/04/xmlenc#sha256\">\n"
                                "  <File Name=\"Root\\VFS\\A B.txt\" Size=\"100000\" LfhSize=\"48\">\n"
                                "    <Block Hash=\"";
    EXPECT_EQ(map.xml.substr(0, expectedStart.size()), expectedStart);
    // An empty file still has its File element, with an end tag and no blocks.
    EXPECT_NE(map.xml.find("  <File Name=\"Root\\empty.txt\" Size=\"0\" LfhSize=\"44\">\n  </File>\n"),
              std::string::npos)
        << map.xml;
    // Each block is a SHA-256 in base64; deflated blocks carry their compressed size, stored ones never.
    const std::regex sized(R"(\n    <Block Hash="[A-Za-z0-9+/]{43}=" Size="[1-9][0-9]*"/>)"),
        unsized(R"(\n    <Block Hash="[A-Za-z0-9+/]{43}="/>)");
    auto matches = [&](const std::regex& r) {
        return std::distance(std::sregex_iterator(map.xml.begin(), map.xml.end(), r), std::sregex_iterator());
    };
    EXPECT_EQ(occurrences(map.xml, "<Block "), 4u);
    EXPECT_EQ(matches(sized), 2) << map.xml;
    EXPECT_EQ(matches(unsized), 2) << map.xml;
    EXPECT_EQ(map.xml.substr(map.xml.size() - 12), "</BlockMap>\n");
    EXPECT_EQ(map.xml.find("AppxBlockMap.xml"), std::string::npos);
    EXPECT_EQ(map.xml.find("Content_Types"), std::string::npos);

    if (haveTool("xmllint")) {
        RunResult lint = runShell("xmllint --noout " + shellQuote(dir / "pkg/AppxBlockMap.xml"));
        EXPECT_EQ(lint.exitCode, 0) << lint.out;
    }
    RunResult verify =
        runShell("/usr/bin/python3 " + shellQuote(verifierPath()) + " " + shellQuote(map.archive));
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
}

TEST(BlockMap, FailedArchiveCreationBuildsNoMap) {
    ScratchDir dir;
    BlockMapBuilder builder;
    EXPECT_NE(builder.open(dir / "missing-folder/p.appv"), 0u);
    writeFile(dir / "a", "x");
    EXPECT_FALSE(builder.writer().addEntry(dir / "a", "Root\\a", ZipCompression::SuperFast));
    EXPECT_FALSE(builder.finish());
    EXPECT_FALSE(builder.writer().close());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing-folder/AppxBlockMap.xml"));
}
