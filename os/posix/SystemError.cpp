#include "os/SystemError.h"

#include "core/Exception.h"
#include "core/SystemError.h"

#include <cerrno>

namespace quendle {

SystemError SystemError::last() {
    return SystemError(errno);
}

SystemError SystemError::alreadyExists() {
    return SystemError(EEXIST);
}

void SystemError::clear() {
    errno = 0;
}

SystemError::Kind SystemError::kind() const {
    switch (code_) {
    case 0:
        return Kind::None;
    case ENOENT:
        return Kind::NotFound;
    case EEXIST:
        return Kind::AlreadyExists;
    case EISDIR:
        return Kind::IsFolder;
    case ENOSPC:
    case EDQUOT:
        return Kind::NoSpace;
    default:
        return Kind::Other;
    }
}

uint32_t SystemError::win32Code() const {
    return win32ErrorFromErrno(code_);
}

std::string SystemError::text() const {
    return errnoText(code_);
}

void SystemError::raise(std::source_location where) const {
    throw WindowsException::fromErrno(code_, where);
}

} // namespace quendle
