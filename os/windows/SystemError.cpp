#include "os/SystemError.h"

#include "core/Exception.h"
#include "core/SystemError.h"

#include <windows.h>

namespace quendle {
namespace {

// The system's own text, for codes the program does not word itself.
std::string formattedText(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                  nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0)
        length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return windowsErrorText(code);
    // One line, without the trailing blanks that the width mask leaves.
    while (length > 0 &&
           (buffer[length - 1] == L' ' || buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n'))
        --length;
    std::string text;
    int bytes =
        WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        text.resize(static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), bytes, nullptr,
                            nullptr);
    }
    LocalFree(buffer);
    return text.empty() ? windowsErrorText(code) : text;
}

} // namespace

SystemError SystemError::last() {
    return SystemError(static_cast<uint32_t>(GetLastError()));
}

SystemError SystemError::alreadyExists() {
    return SystemError(ERROR_ALREADY_EXISTS);
}

void SystemError::clear() {
    SetLastError(ERROR_SUCCESS);
}

SystemError::Kind SystemError::kind() const {
    switch (code_) {
    case ERROR_SUCCESS:
        return Kind::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return Kind::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return Kind::AlreadyExists;
    case ERROR_DIRECTORY:
        return Kind::IsFolder;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return Kind::NoSpace;
    default:
        return Kind::Other;
    }
}

uint32_t SystemError::win32Code() const {
    return code_;
}

// The program's own wording where it has one, so that a message reads the same on every platform.
std::string SystemError::text() const {
    if (const char* known = knownErrorText(code_))
        return known;
    return formattedText(code_);
}

void SystemError::raise(std::source_location where) const {
    throw WindowsException(code_, where);
}

} // namespace quendle
