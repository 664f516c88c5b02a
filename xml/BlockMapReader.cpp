#include "xml/BlockMapReader.h"

#include "xml/XmlLibrary.h"

#include <charconv>
#include <cstring>
#include <libxml/xmlreader.h>
#include <memory>
#include <openssl/evp.h>

namespace quendle {

namespace {

struct ReaderFree {
    void operator()(xmlTextReader* r) const { xmlFreeTextReader(r); }
};

std::string attribute(xmlTextReader* reader, const char* name) {
    std::unique_ptr<xmlChar, xmllib::XmlCharFree> value(
        xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name)));
    return value ? reinterpret_cast<const char*>(value.get()) : std::string();
}

template <typename T> bool parseNumber(const std::string& text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool decodeHash(const std::string& text, std::array<uint8_t, 32>& out) {
    if (text.size() != 44 || text[43] != '=' || text[42] == '=')
        return false;
    unsigned char decoded[33];
    if (EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(text.data()), 44) != 33)
        return false;
    std::memcpy(out.data(), decoded, 32);
    return true;
}

bool isElement(xmlTextReader* reader, const char* name) {
    return xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT &&
           std::strcmp(reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader)), name) == 0;
}

} // namespace

bool readBlockMap(const std::string& path, const std::function<void(BlockMapFile&&)>& onFile) {
    xmllib::initialize();
    std::unique_ptr<xmlTextReader, ReaderFree> reader(xmlReaderForFile(
        path.c_str(), nullptr, xmllib::ParseOptions | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!reader)
        return false;
    xmlTextReader* r = reader.get();
    BlockMapFile file;
    bool inFile = false, usable = false;
    auto flush = [&] {
        if (inFile && usable)
            onFile(std::move(file));
        file = BlockMapFile();
        inFile = false;
    };
    int rc;
    while ((rc = xmlTextReaderRead(r)) == 1) {
        int depth = xmlTextReaderDepth(r);
        if (depth == 1 && isElement(r, "File")) {
            flush();
            inFile = true;
            file.name = attribute(r, "Name");
            usable = !file.name.empty() && parseNumber(attribute(r, "Size"), file.size);
        } else if (depth == 2 && inFile && usable && isElement(r, "Block")) {
            std::array<uint8_t, 32> hash;
            if (!decodeHash(attribute(r, "Hash"), hash)) {
                usable = false;
                continue;
            }
            file.blockHashes.push_back(hash);
            uint32_t size = 0;
            std::string sizeText = attribute(r, "Size");
            if (sizeText.empty() || !parseNumber(sizeText, size))
                file.sized = false;
            file.blockSizes.push_back(size);
        }
    }
    flush();
    return rc == 0;
}

} // namespace quendle
