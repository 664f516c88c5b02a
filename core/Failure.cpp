#include "core/Failure.h"

namespace quendle {

Failure::Failure(uint32_t id, MessageArgs args, const Failure& cause)
    : id_(id), args_(std::move(args)), win32Code_(cause.win32Code()) {
    args_.emplace_back(cause.text());
}

std::string Failure::text() const {
    return failed() ? formatStringId(id_, args_) : std::string();
}

} // namespace quendle
