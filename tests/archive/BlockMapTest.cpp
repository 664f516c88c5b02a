#include "ArchiveTestSupport.h"
#include "archive/BlockMapBuilder.h"

#include <gtest/gtest.h>
#include <sstream>

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

std::vector<std::string> blockLines(const std::string& xml) {
    std::vector<std::string> lines;
    std::istringstream in(xml);
    for (std::string line; std::getline(in, line);)
        if (line.find("<Block ") != std::string::npos)
            lines.push_back(line);
    return lines;
}

// `    <Block Hash="` + 43 base64 characters + `="`, then `rest`.
bool isBlockLine(const std::string& line, std::string& rest) {
    const std::string start = "    <Block Hash=\"";
    if (!line.starts_with(start) || line.size() < start.size() + 45)
        return false;
    std::string hash = line.substr(start.size(), 44);
    for (size_t k = 0; k < 43; ++k)
        if (!std::isalnum(static_cast<unsigned char>(hash[k])) && hash[k] != '+' && hash[k] != '/')
            return false;
    if (hash[43] != '=' || line[start.size() + 44] != '"')
        return false;
    rest = line.substr(start.size() + 45);
    return true;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
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
    EXPECT_EQ(count(map.xml, "<Block "), 4u);
    // Deflated blocks carry their compressed size; stored blocks never do.
    int sized = 0, unsized = 0;
    for (const std::string& line : blockLines(map.xml)) {
        std::string rest;
        ASSERT_TRUE(isBlockLine(line, rest)) << line;
        if (rest == "/>")
            ++unsized;
        else if (rest.starts_with(" Size=\"") && rest.ends_with("\"/>") && rest[7] != '0')
            ++sized;
    }
    EXPECT_EQ(sized, 2) << map.xml;
    EXPECT_EQ(unsized, 2) << map.xml;
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

TEST(BlockMap, FirstBlockHashCoversTheFirst64KiB) {
    ScratchDir dir;
    std::string data = compressibleText(100000);
    BuiltMap map = build(dir, {{"Root\\a.txt", data, ZipCompression::SuperFast}});
    writeFile(dir / "first", data.substr(0, 65536));
    RunResult digest =
        runShell("/usr/bin/python3 -c \"import base64, hashlib, sys; "
                 "print(base64.b64encode(hashlib.sha256(open(sys.argv[1], 'rb').read()).digest())"
                 ".decode())\" " +
                 shellQuote(dir / "first"));
    ASSERT_EQ(digest.exitCode, 0);
    std::string hash = digest.out.substr(0, 44);
    EXPECT_NE(map.xml.find("<Block Hash=\"" + hash + "\" Size=\""), std::string::npos) << map.xml;
}

TEST(BlockMap, VerifierRejectsAMapThatDisagreesWithTheArchive) {
    // The verifier must catch a wrong block size, so that its passes above mean something.
    ScratchDir dir;
    BuiltMap map = build(dir, {{"Root\\a.txt", compressibleText(140000), ZipCompression::SuperFast}});
    std::string tampered = map.xml;
    size_t at = tampered.find(" Size=\"", tampered.find("<Block"));
    ASSERT_NE(at, std::string::npos);
    tampered.insert(at + 7, "1");
    writeFile(dir / "t/Root/a.txt", compressibleText(140000));
    writeFile(dir / "t/AppxBlockMap.xml", tampered);
    if (!haveTool("zip"))
        GTEST_SKIP() << "zip is not installed";
    // Same data, stored the way zip stores it: the map's sizes cannot match its single stream.
    runShell("cd " + shellQuote(dir / "t") + " && zip -q -X " + shellQuote(dir / "t.zip") +
             " Root/a.txt AppxBlockMap.xml");
    RunResult verify =
        runShell("/usr/bin/python3 " + shellQuote(verifierPath()) + " " + shellQuote(dir / "t.zip"));
    EXPECT_NE(verify.exitCode, 0) << verify.out;
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
