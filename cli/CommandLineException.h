#pragma once
#include "core/Exception.h"

namespace quendle {

class ICommandContainer;

// A command-line error: presented as its message followed by the usage of the command concerned
// (or the general usage when no command is named).
class CommandLineException : public Exception {
public:
    explicit CommandLineException(const ICommandContainer* container,
                                  std::source_location where = std::source_location::current())
        : Exception(std::string(), where), container_(container) {}
    CommandLineException(const ICommandContainer* container, std::string detail, std::string message,
                         std::source_location where = std::source_location::current())
        : Exception(std::move(message), where), container_(container), detail_(std::move(detail)) {}

    [[noreturn]] void Throw() const override { throw *this; }
    std::unique_ptr<IException> Clone(bool withStackTrace) const override;
    int GetKind() const override { return ExceptionCmd; }
    const IExceptionPresenter& GetPresenter() const override;

    const ICommandContainer* container() const { return container_; }
    // Name of the command whose usage is shown; empty for the general usage.
    const std::string& detail() const { return detail_; }

private:
    const ICommandContainer* container_;
    std::string detail_;
};

} // namespace quendle
