#include "core/Exception.h"

#include "core/SystemError.h"

namespace quendle {

std::string kindName(int kind) {
    switch (kind) {
    case ExceptionStd: return "EXCEPTION_STD";
    case ExceptionUnhandled: return "EXCEPTION_UNHANDLED";
    case ExceptionGeneric: return "EXCEPTION_GENERIC";
    case ExceptionWin32: return "EXCEPTION_WIN32";
    case ExceptionCmd: return "EXCEPTION_CMD";
    case ExceptionXmlParse: return "EXCEPTION_XML_PARSE";
    case ExceptionSeh: return "EXCEPTION_SEH";
    default: return "Exception ???";
    }
}

std::string sehClassName(int sehClass) {
    switch (sehClass) {
    case 1: return "SEH_AV_READ_NULLPTR";
    case 2: return "SEH_AV_READ_BADPTR";
    case 3: return "SEH_AV_WRITE_NULLPTR";
    case 4: return "SEH_AV_WRITE_BADPTR";
    case 5: return "SEH_AV_DEP_NULLPTR";
    case 6: return "SEH_AV_DEP_BADPTR";
    default: return "SEH_GENERIC";
    }
}

std::string Exception::sourceLocationText() const {
    auto slash = sourceFile_.find_last_of("/\\");
    std::string name = slash == std::string::npos ? sourceFile_ : sourceFile_.substr(slash + 1);
    return name + ":" + std::to_string(line_);
}

namespace {
StackTraceSource stackTraceSource = nullptr;
} // namespace

void setStackTraceSource(StackTraceSource source) {
    stackTraceSource = source;
}

void Exception::appendStackTrace() {
    if (stackTraceSource && message_.find(StackTraceMarker) == std::string::npos)
        message_ += stackTraceSource();
}

std::unique_ptr<IException> Exception::Clone(bool withStackTrace) const {
    auto copy = std::make_unique<Exception>(*this);
    if (withStackTrace)
        copy->appendStackTrace();
    return copy;
}

WindowsException::WindowsException(uint32_t win32Error, std::source_location where)
    : Exception(std::string(), where) {
    setCode(win32Error);
    try {
        setMessage("Win32 Error [" + std::to_string(win32Error) + "]: \"" + windowsErrorText(win32Error) + "\"");
    } catch (...) {
        setMessage("An exception was thrown while composing the exception message.");
    }
}

std::unique_ptr<IException> WindowsException::Clone(bool withStackTrace) const {
    auto copy = std::make_unique<WindowsException>(*this);
    if (withStackTrace)
        copy->appendStackTrace();
    return copy;
}

XmlParseException::XmlParseException(std::string fileName, std::string content,
                                     std::vector<XmlParseErrorRecord> errors, std::source_location where)
    : Exception(std::string(), where), fileName_(std::move(fileName)), content_(std::move(content)),
      errors_(std::move(errors)) {}

std::unique_ptr<IException> XmlParseException::Clone(bool withStackTrace) const {
    auto copy = std::make_unique<XmlParseException>(*this);
    if (withStackTrace)
        copy->appendStackTrace();
    return copy;
}

std::unique_ptr<IException> SehException::Clone(bool withStackTrace) const {
    auto copy = std::make_unique<SehException>(*this);
    if (withStackTrace)
        copy->appendStackTrace();
    return copy;
}

std::string SehException::GetKindName() const { return sehClassName(sehClass_); }

std::string withCause(std::string message, std::string_view cause) {
    // A cause that names nothing, or reports success, would only contradict the message.
    bool real = !cause.empty() && !cause.ends_with(": ") && !cause.ends_with("completed successfully.");
    if (real) {
        message += "\nCause: ";
        message += cause;
        if (message.back() != '.')
            message += '.';
    }
    return message;
}

} // namespace quendle
