#include "xml/XmlOutput.h"

#include "core/Exception.h"
#include "os/FileSystem.h"
#include "os/SystemError.h"
#include "util/strings/StringSystem.h"

#include <cstring>

namespace quendle {

namespace {

constexpr int KindEncoding = 0;
constexpr int KindOpen = 1;
constexpr int KindWrite = 2;

void appendUtf16(std::string& out, char32_t cp, bool bigEndian) {
    auto unit = [&](char16_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    if (cp >= 0x10000) {
        cp -= 0x10000;
        unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
        unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        unit(static_cast<char16_t>(cp));
    }
}

void appendEscaped(std::string& out, unsigned char c) {
    out += "&#";
    out += std::to_string(c);
    out += ';';
}

} // namespace

void ExceptionFileErrorReporter::Report(std::source_location where, int kind, const std::string& path,
                                        const SystemError&) {
    uint32_t id = kind == KindEncoding ? uint32_t{Msg::UnsupportedEncoding}
                  : kind == KindOpen   ? Msg::FileOpenError
                  : kind == KindWrite  ? Msg::FileWriteError
                                       : uint32_t{0};
    if (id == 0)
        return;
    throw Exception(formatMessageId(id, {path}), GenericErrorCode, where.file_name(),
                    static_cast<int>(where.line()));
}

ExceptionFileErrorReporter& ExceptionFileErrorReporter::instance() {
    static ExceptionFileErrorReporter reporter;
    return reporter;
}

XmlOutput::XmlOutput(IFileErrorReporter& reporter, std::string path, XmlOutputOptions options)
    : reporter_(reporter), path_(std::move(path)), buffered_(options.buffered), append_(options.append),
      encoding_(options.encoding) {
    if (!buffered_)
        openFile();
}

XmlOutput::~XmlOutput() {
    // As a closed stream would: what was written reaches the file, failures go unreported.
    (void)writePending();
}

bool XmlOutput::writePending() {
    if (pending_.empty() || !file_)
        return true;
    bool ok = file_.writeAll(pending_.data(), pending_.size());
    pending_.clear();
    return ok;
}

void XmlOutput::fail(int kind, std::source_location where) {
    reporter_.Report(where, kind, path_, SystemError::last());
}

void XmlOutput::openFile() {
    file_ = append_ ? FileHandle::openForAppending(path_) : FileHandle::createOrTruncate(path_);
    if (!file_) {
        fail(KindOpen);
        return;
    }
    fileBytes_ = 0;
    pending_.clear();
    uint64_t size = 0;
    if (append_ && file_.regularFileSize(size))
        fileBytes_ = size;
}

std::string XmlOutput::encode(std::string_view text, XmlFileEncoding encoding, bool withMark) {
    std::string out;
    switch (encoding) {
    case XmlFileEncoding::Ansi:
    case XmlFileEncoding::Utf8:
        out.assign(text);
        break;
    case XmlFileEncoding::Utf8WithBom:
        if (withMark)
            out = "\xEF\xBB\xBF";
        out.append(text);
        break;
    case XmlFileEncoding::Utf16LeWithBom:
    case XmlFileEncoding::Utf16Le:
    case XmlFileEncoding::Utf16BeWithBom:
    case XmlFileEncoding::Utf16Be: {
        bool big = encoding == XmlFileEncoding::Utf16BeWithBom || encoding == XmlFileEncoding::Utf16Be;
        bool marked =
            encoding == XmlFileEncoding::Utf16LeWithBom || encoding == XmlFileEncoding::Utf16BeWithBom;
        if (withMark && marked)
            appendUtf16(out, 0xFEFF, big);
        for (size_t i = 0; i < text.size();)
            appendUtf16(out, nextCodePoint(text, i, 0xFFFD), big);
        break;
    }
    case XmlFileEncoding::Narrow:
        for (size_t i = 0; i < text.size();) {
            char32_t cp = nextCodePoint(text, i, 0xFFFD);
            out += cp < 0x100 ? static_cast<char>(cp) : '?';
        }
        break;
    case XmlFileEncoding::Windows1252:
    case XmlFileEncoding::Windows1252Alt:
        for (size_t i = 0; i < text.size();) {
            int b = windows1252Byte(nextCodePoint(text, i, 0xFFFD));
            out += b < 0 ? '?' : static_cast<char>(b);
        }
        break;
    }
    return out;
}

void XmlOutput::writeToFile(std::string_view text) {
    if (!file_) {
        fail(KindWrite);
        return;
    }
    std::string bytes = encode(text, encoding_, fileBytes_ == 0);
    if (bytes.empty()) {
        if (!text.empty())
            fail(KindWrite);
        return;
    }
    fileBytes_ += bytes.size();
    pending_ += bytes;
    // Lines are gathered so that they do not become one system call each.
    if (pending_.size() >= 64 * 1024 && !writePending())
        fail(KindWrite);
}

void XmlOutput::write(std::string_view text) {
    for (char c : text)
        if (c == '\n')
            ++lineCount_;
    if (buffered_)
        buffer_.append(text);
    else
        writeToFile(text);
}

void XmlOutput::indent() {
    std::string pad;
    for (int k = 0; k < depth_; ++k)
        pad += indentUnit_;
    if (!pad.empty())
        write(pad);
}

void XmlOutput::WriteDeclaration() {
    if (declarationWritten_)
        return;
    declarationWritten_ = true;
    write("<?xml version=\"" + version_ + "\" encoding=\"" + encodingName_ + "\" standalone=\"" +
          (standalone_ ? "yes" : "no") + "\"?>" + newline_);
}

void XmlOutput::StartElement(std::string_view name, const std::vector<std::string>& attributeNames,
                             const std::vector<std::string>& attributeValues, bool closeNow,
                             std::string_view text) {
    std::string tag;
    for (int k = 0; k < depth_; ++k)
        tag += indentUnit_;
    tag += '<';
    tag += name;
    for (size_t k = 0; k < attributeNames.size() && k < attributeValues.size(); ++k) {
        if (attributeNames[k].empty() || (attributeValues[k].empty() && omitEmptyAttributes_))
            continue;
        tag += ' ';
        tag += attributeNames[k];
        tag += "=\"";
        tag += escapeAttribute(attributeValues[k]);
        tag += '"';
    }
    if (closeNow) {
        if (text.empty()) {
            tag += "/>";
        } else {
            tag += '>';
            tag += escapeText(text);
            tag += "</";
            tag += name;
            tag += '>';
        }
        tag += newline_;
        write(tag);
        return;
    }
    tag += '>';
    tag += newline_;
    write(tag);
    openElements_.emplace_back(name);
    ++depth_;
    if (!text.empty()) {
        indent();
        write(escapeText(text) + newline_);
    }
}

bool XmlOutput::EndElement(std::string_view name) {
    if (openElements_.empty() || openElements_.back() != name)
        return false;
    --depth_;
    std::string tag;
    for (int k = 0; k < depth_; ++k)
        tag += indentUnit_;
    tag += "</";
    tag += name;
    tag += '>';
    tag += newline_;
    write(tag);
    openElements_.pop_back();
    return true;
}

void XmlOutput::EndAll() {
    while (!openElements_.empty()) {
        std::string name = openElements_.back();
        EndElement(name);
    }
    depth_ = 0;
    declarationWritten_ = false;
}

void XmlOutput::Flush() {
    if (!buffered_)
        return;
    if (!file_)
        openFile();
    std::string pending;
    pending.swap(buffer_);
    if (!pending.empty())
        writeToFile(pending);
}

void XmlOutput::Close() {
    Flush();
    if (!file_)
        return;
    bool written = writePending();
    if (!file_.close() || !written)
        fail(KindWrite);
}

std::string XmlOutput::escapeAttribute(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            if (c < 32)
                appendEscaped(out, c);
            else
                out += ch;
        }
    }
    return out;
}

std::string XmlOutput::escapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c < 32 && c != '\t' && c != '\n' && c != '\r')
            appendEscaped(out, c);
        else
            out += ch;
    }
    return out;
}

} // namespace quendle
