#pragma once
#include "util/strings/MessageFormat.h"

#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

constexpr uint32_t GenericErrorCode = 0xE0010064;
constexpr uint32_t CommandFileFormatErrorCode = 0xE001006A;

enum ExceptionKind : int {
    ExceptionStd = 0,
    ExceptionUnhandled = 1,
    ExceptionGeneric = 2,
    ExceptionWin32 = 3,
    ExceptionCmd = 4,
    ExceptionXmlParse = 5,
    ExceptionSeh = 6,
};

// Display name of a kind ("EXCEPTION_GENERIC", ...; "Exception ???" for unknown values).
std::string kindName(int kind);

// A string-table id together with the place that raised it. Converting an id at a throw site
// records that site, so `throw Exception(Msg::FileNotFound, path)` carries its own file and line.
struct MessageId {
    uint32_t id;
    std::source_location where;
    MessageId(uint32_t id, std::source_location where = std::source_location::current()) : id(id), where(where) {}
};

// A failure's exit code, distinct from a message id.
struct ErrorCode {
    uint32_t value;
};

class IException;

class IExceptionPresenter {
public:
    virtual ~IExceptionPresenter() = default;
    virtual void Present(const IException& e) const = 0;
    virtual void Present(const std::exception& e) const = 0;
};

class IException {
public:
    virtual ~IException() = default;
    [[noreturn]] virtual void Throw() const = 0;
    virtual std::unique_ptr<IException> Clone(bool withStackTrace) const = 0;
    virtual int GetKind() const = 0;
};

class Exception : public IException {
public:
    template <typename... Inserts>
    explicit Exception(MessageId id, Inserts&&... inserts)
        : Exception(ErrorCode{GenericErrorCode}, id, std::forward<Inserts>(inserts)...) {}

    template <typename... Inserts>
    Exception(ErrorCode code, MessageId id, Inserts&&... inserts)
        : message_(formatMessageId(id.id, MessageArgs{MessageArg(std::forward<Inserts>(inserts))...})),
          code_(code.value), sourceFile_(id.where.file_name()), line_(static_cast<int>(id.where.line())) {}

    // A message given as text rather than by id.
    explicit Exception(std::string message, std::source_location where = std::source_location::current())
        : message_(std::move(message)), sourceFile_(where.file_name()), line_(static_cast<int>(where.line())) {}

    Exception(std::string message, uint32_t code, std::string sourceFile, int line)
        : message_(std::move(message)), code_(code), sourceFile_(std::move(sourceFile)), line_(line) {}

    [[noreturn]] void Throw() const override { throw *this; }
    std::unique_ptr<IException> Clone(bool withStackTrace) const override;
    int GetKind() const override { return ExceptionGeneric; }
    virtual std::string GetKindName() const { return kindName(GetKind()); }
    virtual const IExceptionPresenter& GetPresenter() const;

    const std::string& message() const { return message_; }
    uint32_t code() const { return code_; }
    const std::string& sourceFile() const { return sourceFile_; }
    int line() const { return line_; }
    // "File.cpp:42": the file name without its folders, and the line.
    std::string sourceLocationText() const;

protected:
    void appendStackTrace();
    void setMessage(std::string message) { message_ = std::move(message); }
    void setCode(uint32_t code) { code_ = code; }

private:
    std::string message_;
    uint32_t code_ = GenericErrorCode;
    std::string sourceFile_;
    int line_ = 0;
};

// A Windows-style error: the code is the Win32 error number, the message quotes its text.
class WindowsException : public Exception {
public:
    explicit WindowsException(uint32_t win32Error, std::source_location where = std::source_location::current());

    [[noreturn]] void Throw() const override { throw *this; }
    std::unique_ptr<IException> Clone(bool withStackTrace) const override;
    int GetKind() const override { return ExceptionWin32; }
};

struct XmlParseErrorRecord {
    std::string reason;
    std::string sourceText;
    int line = 0; // 1-based; 0 or less when unknown
};

// Every parse or validation error of one document, presented as a validation report.
class XmlParseException : public Exception {
public:
    XmlParseException(std::string fileName, std::string content, std::vector<XmlParseErrorRecord> errors,
                      std::source_location where = std::source_location::current());

    [[noreturn]] void Throw() const override { throw *this; }
    std::unique_ptr<IException> Clone(bool withStackTrace) const override;
    int GetKind() const override { return ExceptionXmlParse; }
    const IExceptionPresenter& GetPresenter() const override;

    const std::string& fileName() const { return fileName_; }
    const std::string& content() const { return content_; }
    const std::vector<XmlParseErrorRecord>& errors() const { return errors_; }
    // The report exactly as presented, without colours.
    std::string reportText() const;

private:
    std::string fileName_;
    std::string content_;
    std::vector<XmlParseErrorRecord> errors_;
};

// A hardware fault (invalid memory access, arithmetic fault) turned into an error.
class SehException : public Exception {
public:
    SehException(std::string message, int sehClass, std::string sourceFile, int line)
        : Exception(std::move(message), GenericErrorCode, std::move(sourceFile), line), sehClass_(sehClass) {}

    [[noreturn]] void Throw() const override { throw *this; }
    std::unique_ptr<IException> Clone(bool withStackTrace) const override;
    int GetKind() const override { return ExceptionSeh; }
    std::string GetKindName() const override;
    int sehClass() const { return sehClass_; }

private:
    int sehClass_;
};

// Name of an SEH class ("SEH_AV_READ_NULLPTR", ...; "SEH_GENERIC" for others).
std::string sehClassName(int sehClass);

// A defined message followed, on its own line, by what the layer below said went wrong (a full
// disk, a refused archive entry); just the message when nothing was said.
std::string withCause(std::string message, std::string_view cause);

// The marker that begins the stack-trace section of a message.
inline constexpr const char* StackTraceMarker = "\n*** Stack Trace (x86) ***\n\n";

// Where Clone(true) gets its stack trace from. Walking the stack is the platform layer's work;
// it installs its walker together with the fault handlers. Until then no trace is appended.
using StackTraceSource = std::string (*)();
void setStackTraceSource(StackTraceSource source);

} // namespace quendle
