#pragma once
#include "core/Exception.h"

#include <cstdint>

namespace quendle {

// Shows an error in bright red on the console (or, without a console writer, on standard error).
class ExceptionPresenter : public IExceptionPresenter {
public:
    static const ExceptionPresenter& instance();
    void Present(const IException& e) const override;
    void Present(const std::exception& e) const override;
};

// Shows the validation report: header, reasons, and numbered context lines of the document.
class XmlParseExceptionPresenter : public IExceptionPresenter {
public:
    static const XmlParseExceptionPresenter& instance();
    void Present(const IException& e) const override;
    void Present(const std::exception&) const override {}
};

// The fixed handler sequence: presents the exception being handled exactly once and returns
// the exit code it stands for. Call only from inside a catch block.
uint32_t handleCurrentException();

// Without a console writer, errors go to standard error: title, message and details.
void showErrorReport(const std::string& title, const std::string& message, const std::string& details);

} // namespace quendle
