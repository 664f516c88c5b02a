#include "hive/OfflineRegException.h"

#include "core/SystemError.h"

namespace quendle {

OfflineRegException::OfflineRegException(uint32_t win32Error, std::string detail, std::source_location where)
    : Exception(GetSystemErrorText(win32Error), where), win32Error_(win32Error), detail_(std::move(detail)) {}

std::unique_ptr<IException> OfflineRegException::Clone(bool withStackTrace) const {
    auto copy = std::make_unique<OfflineRegException>(*this);
    if (withStackTrace)
        copy->appendStackTrace();
    return copy;
}

} // namespace quendle
