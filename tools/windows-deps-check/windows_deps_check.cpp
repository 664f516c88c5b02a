// One case per library: enough of each to show that it links and works on Windows.
#include <gtest/gtest.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kDocument = R"xml(<a><b>one</b><b>two</b></a>)xml";
const std::string kStylesheet =
    R"xml(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">)xml"
    R"xml(<xsl:template match="/"><r><xsl:value-of select="count(a/b)"/></r></xsl:template>)xml"
    R"xml(</xsl:stylesheet>)xml";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(const std::string& text) {
    return Doc(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "check.xml", nullptr, XML_PARSE_NONET));
}

// Raw deflate, as in a ZIP entry.
std::vector<unsigned char> deflateRaw(const std::string& input) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<unsigned char> out(deflateBound(&stream, input.size()));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(WindowsDeps, Libxml2ParsesAndEvaluatesXPath) {
    Doc doc = parse(kDocument);
    ASSERT_TRUE(doc);
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlDocGetRootElement(doc.get())->name), "a");
    xmlXPathContext* context = xmlXPathNewContext(doc.get());
    xmlXPathObject* result = xmlXPathEvalExpression(BAD_CAST "string(/a/b[2])", context);
    ASSERT_NE(result, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(result->stringval), "two");
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
}

TEST(WindowsDeps, LibxsltAppliesAStylesheet) {
    Doc style = parse(kStylesheet);
    ASSERT_TRUE(style);
    xsltStylesheet* sheet = xsltParseStylesheetDoc(style.release()); // now owns the document
    ASSERT_NE(sheet, nullptr);
    Doc input = parse(kDocument);
    Doc output(xsltApplyStylesheet(sheet, input.get(), nullptr));
    ASSERT_TRUE(output);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(output.get(), &text, &size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), size), "<?xml version=\"1.0\"?>\n<r>2</r>\n");
    xmlFree(text);
    xsltFreeStylesheet(sheet);
}

TEST(WindowsDeps, IsalInflatesWhatZlibDeflated) {
    std::string input;
    for (int i = 0; i < 4000; ++i)
        input += "block " + std::to_string(i % 97) + "\n";
    std::vector<unsigned char> packed = deflateRaw(input);
    ASSERT_LT(packed.size(), input.size() / 4);

    inflate_state state;
    isal_inflate_init(&state);
    std::string unpacked(input.size() + 16, '\0');
    state.next_in = packed.data();
    state.avail_in = static_cast<uint32_t>(packed.size());
    state.next_out = reinterpret_cast<uint8_t*>(unpacked.data());
    state.avail_out = static_cast<uint32_t>(unpacked.size());
    state.crc_flag = ISAL_DEFLATE;
    ASSERT_EQ(isal_inflate(&state), ISAL_DECOMP_OK);
    EXPECT_EQ(state.block_state, ISAL_BLOCK_FINISH);
    unpacked.resize(state.total_out);
    EXPECT_EQ(unpacked, input);

    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    EXPECT_EQ(crc32_gzip_refl(0, bytes, input.size()), crc32(0, bytes, static_cast<uInt>(input.size())));
}

} // namespace

TEST(WindowsDeps, LibcryptoHashesAndEncodes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    ASSERT_EQ(EVP_Digest("abc", 3, digest, &length, EVP_sha256(), nullptr), 1);
    unsigned char text[64] = {};
    EVP_EncodeBlock(text, digest, static_cast<int>(length));
    // FIPS 180-2, appendix B.1, in Base64
    EXPECT_STREQ(reinterpret_cast<char*>(text), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
}
