#pragma once
#include "os/SystemError.h"
#include "os/FileHandle.h"

#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

// Receives the file errors of a writer. Kinds: 0 unsupported encoding, 1 cannot open, 2 cannot write.
class IFileErrorReporter {
  public:
    virtual ~IFileErrorReporter() = default;
    virtual void Report(std::source_location where, int kind, const std::string& path,
                        const SystemError& error) = 0;
};

// The program's reporter: every known kind becomes an Exception raised at `where`.
class ExceptionFileErrorReporter : public IFileErrorReporter {
  public:
    void Report(std::source_location where, int kind, const std::string& path,
                const SystemError& error) override;
    static ExceptionFileErrorReporter& instance();
};

// How text becomes bytes in the output file; a byte-order mark goes only into an empty file.
enum class XmlFileEncoding : int {
    Narrow = 0, // code points below 256 as one byte each, others as "?"
    Ansi = 1,   // the system code page: UTF-8 on Linux
    Utf8WithBom = 2,
    Utf8 = 3,
    Utf16LeWithBom = 4,
    Utf16Le = 5,
    Utf16BeWithBom = 6,
    Utf16Be = 7,
    Windows1252 = 8,
    Windows1252Alt = 9,
};

struct XmlOutputOptions {
    bool buffered = false; // collect everything until Flush()
    bool append = false;   // continue an existing file instead of truncating it
    XmlFileEncoding encoding = XmlFileEncoding::Utf8;
};

// Streaming XML text writer: start tags, attributes, text and end tags straight to a file,
// with indentation, escaping and matched end tags. Text is UTF-8.
class XmlOutput {
  public:
    XmlOutput(IFileErrorReporter& reporter, std::string path, XmlOutputOptions options = {});
    ~XmlOutput();
    XmlOutput(const XmlOutput&) = delete;
    XmlOutput& operator=(const XmlOutput&) = delete;

    void setStandalone(bool standalone) { standalone_ = standalone; }
    void setOmitEmptyAttributes(bool omit) { omitEmptyAttributes_ = omit; }
    void setEncodingName(std::string name) { encodingName_ = std::move(name); }

    void WriteDeclaration();
    void StartElement(std::string_view name, const std::vector<std::string>& attributeNames,
                      const std::vector<std::string>& attributeValues, bool closeNow,
                      std::string_view text = {});
    bool EndElement(std::string_view name);
    void EndAll();
    void Flush();
    // Writes what is pending and closes the file, reporting any write error; the destructor
    // closes silently.
    void Close();

    uint32_t lineCount() const { return lineCount_; }
    int depth() const { return depth_; }
    const std::string& path() const { return path_; }

    static std::string escapeAttribute(std::string_view value);
    static std::string escapeText(std::string_view text);
    // The bytes `text` becomes in `encoding`, with the byte-order mark when `withMark`.
    // Empty when the encoding is unknown.
    static std::string encode(std::string_view text, XmlFileEncoding encoding, bool withMark);

  private:
    void write(std::string_view text);
    void writeToFile(std::string_view text);
    void openFile();
    bool writePending();
    void indent();
    void fail(int kind, std::source_location where = std::source_location::current());

    IFileErrorReporter& reporter_;
    std::string path_;
    std::string buffer_;
    bool buffered_;
    bool append_;
    uint32_t lineCount_ = 0;
    FileHandle file_;
    std::string pending_; // encoded bytes not yet written: block map lines are short
    XmlFileEncoding encoding_;
    uint64_t fileBytes_ = 0; // bytes the file holds, to know whether a mark is due
    int depth_ = 0;
    bool omitEmptyAttributes_ = false;
    std::vector<std::string> openElements_;
    bool declarationWritten_ = false;
    std::string newline_ = "\n";
    std::string indentUnit_ = "  ";
    bool standalone_ = true;
    std::string version_ = "1.0";
    std::string encodingName_ = "UTF-8";
};

} // namespace quendle
