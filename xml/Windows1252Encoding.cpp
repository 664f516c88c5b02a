#include "xml/Windows1252Encoding.h"

#include "util/strings/StringSystem.h"

#include <libxml/encoding.h>

#include <string>

namespace quendle::xmllib {
namespace {

// libxml2's converter contract: convert what fits, report in *inlen and *outlen how much was
// consumed and written, return the bytes written, -2 for a character the target cannot hold.
int fromWindows1252(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
    int read = 0, written = 0;
    std::string utf8;
    while (read < *inlen) {
        utf8.clear();
        appendUtf8(utf8, windows1252CodePoint(in[read]));
        if (written + static_cast<int>(utf8.size()) > *outlen)
            break;
        for (char c : utf8)
            out[written++] = static_cast<unsigned char>(c);
        ++read;
    }
    *inlen = read;
    *outlen = written;
    return written;
}

// Length of the UTF-8 sequence that starts with `lead`; libxml2 hands on only whole, valid ones,
// but a buffer may end inside one.
int sequenceLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

int toWindows1252(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
    if (in == nullptr) { // flush: nothing is held back
        *outlen = 0;
        *inlen = 0;
        return 0;
    }
    int read = 0, written = 0, result = 0;
    while (read < *inlen && written < *outlen) {
        int length = sequenceLength(in[read]);
        if (read + length > *inlen)
            break;
        std::string_view sequence(reinterpret_cast<const char*>(in) + read, static_cast<size_t>(length));
        size_t at = 0;
        int byte = windows1252Byte(nextCodePoint(sequence, at));
        if (byte < 0) {
            result = -2; // libxml2 writes a character reference and goes on
            break;
        }
        out[written++] = static_cast<unsigned char>(byte);
        read += length;
    }
    *inlen = read;
    *outlen = written;
    return result < 0 ? result : written;
}

} // namespace

void registerWindows1252Encoding() {
    // The handler registers itself and lives for the process.
    xmlNewCharEncodingHandler("windows-1252", fromWindows1252, toWindows1252);
    xmlAddEncodingAlias("windows-1252", "CP1252");
}

} // namespace quendle::xmllib
