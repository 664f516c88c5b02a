#include "xml/BlockMapReader.h"

#include "os/Sha256.h"
#include "os/SourceFile.h"
#include "xml/XmlLibrary.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <libxml/parser.h>
#include <memory>
#include <string_view>

namespace quendle {

namespace {

struct ContextFree {
    void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

template <typename T> bool parseNumber(std::string_view text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Follows the document through libxml2's SAX callbacks: a text reader allocates every attribute
// it hands out, and the map of a big package has a Block element for every 64 KiB.
struct MapParser {
    explicit MapParser(const std::function<void(BlockMapFile&&)>& handler) : onFile(handler) {}

    const std::function<void(BlockMapFile&&)>& onFile;
    int depth = 0;
    BlockMapFile file;
    bool inFile = false, usable = false;

    void flush() {
        if (inFile && usable)
            onFile(std::move(file));
        file = BlockMapFile();
        inFile = false;
    }

    // SAX2 passes each attribute as five pointers: local name, prefix, URI, value, value end.
    static std::string_view attribute(int count, const xmlChar** attributes, const char* name) {
        for (int i = 0; i < count; ++i, attributes += 5)
            if (std::strcmp(reinterpret_cast<const char*>(attributes[0]), name) == 0)
                return {reinterpret_cast<const char*>(attributes[3]),
                        static_cast<size_t>(attributes[4] - attributes[3])};
        return {};
    }

    // Without entity substitution libxml2 hands every "&" of a value over as "&#38;" (for its
    // own tree to expand later), and nothing else in that form.
    static std::string text(std::string_view value) {
        std::string out;
        out.reserve(value.size());
        for (size_t at = 0; at < value.size();) {
            if (value.compare(at, 5, "&#38;") == 0) {
                out += '&';
                at += 5;
            } else {
                out += value[at++];
            }
        }
        return out;
    }

    void start(const char* name, int count, const xmlChar** attributes) {
        const int at = depth++;
        if (at == 1 && std::strcmp(name, "File") == 0) {
            flush();
            inFile = true;
            file.name = text(attribute(count, attributes, "Name"));
            usable = !file.name.empty() && parseNumber(attribute(count, attributes, "Size"), file.size);
        } else if (at == 2 && inFile && usable && std::strcmp(name, "Block") == 0) {
            std::array<uint8_t, 32> hash;
            if (!base64Decode(attribute(count, attributes, "Hash"), hash)) {
                usable = false;
                return;
            }
            file.blockHashes.push_back(hash);
            uint32_t size = 0;
            if (!parseNumber(attribute(count, attributes, "Size"), size))
                file.sized = false;
            file.blockSizes.push_back(size);
        }
    }

    static void startElement(void* self, const xmlChar* localName, const xmlChar*, const xmlChar*, int,
                             const xmlChar**, int count, int, const xmlChar** attributes) {
        static_cast<MapParser*>(self)->start(reinterpret_cast<const char*>(localName), count, attributes);
    }
    static void endElement(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        --static_cast<MapParser*>(self)->depth;
    }
};

} // namespace

struct BlockMapStream::State {
    explicit State(std::function<void(BlockMapFile&&)> handler)
        : onFile(std::move(handler)), parser(onFile) {}
    std::function<void(BlockMapFile&&)> onFile;
    MapParser parser;
    xmlSAXHandler sax{};
    std::unique_ptr<xmlParserCtxt, ContextFree> context;
    bool ok = true;
};

BlockMapStream::BlockMapStream(std::function<void(BlockMapFile&&)> onFile)
    : state_(std::make_unique<State>(std::move(onFile))) {
    xmllib::initialize();
    state_->sax.initialized = XML_SAX2_MAGIC;
    state_->sax.startElementNs = MapParser::startElement;
    state_->sax.endElementNs = MapParser::endElement;
    state_->context.reset(
        xmlCreatePushParserCtxt(&state_->sax, &state_->parser, nullptr, 0, "AppxBlockMap.xml"));
    state_->ok = state_->context != nullptr;
    if (state_->ok)
        xmlCtxtUseOptions(state_->context.get(),
                          xmllib::ParseOptions | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

BlockMapStream::~BlockMapStream() = default;

bool BlockMapStream::feed(const char* data, size_t length) {
    constexpr size_t Chunk = 65536;
    for (size_t at = 0; state_->ok && at < length; at += Chunk) {
        size_t n = std::min(length - at, Chunk);
        state_->ok = xmlParseChunk(state_->context.get(), data + at, static_cast<int>(n), 0) == 0;
    }
    return state_->ok;
}

bool BlockMapStream::finish() {
    state_->ok =
        state_->ok && xmlParseChunk(state_->context.get(), nullptr, 0, 1) == 0 && state_->context->wellFormed;
    state_->parser.flush();
    return state_->ok;
}

bool readBlockMap(const std::string& path, const std::function<void(BlockMapFile&&)>& onFile) {
    SourceFile source;
    if (!source.open(path))
        return false;
    BlockMapStream stream(onFile);
    constexpr size_t Chunk = 65536;
    auto buffer = std::make_unique_for_overwrite<char[]>(Chunk);
    bool ok = true;
    for (uint64_t left = source.size(); ok && left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, Chunk));
        ok = source.readExact(buffer.get(), n) && stream.feed(buffer.get(), n);
        left -= n;
    }
    return stream.finish() && ok;
}

} // namespace quendle
