#include "cli/CommandLineException.h"

#include "cli/ICommandContainer.h"

namespace quendle {
namespace {

class CommandLineExceptionPresenter : public IExceptionPresenter {
public:
    void Present(const IException& e) const override {
        const auto* ex = dynamic_cast<const CommandLineException*>(&e);
        if (ex && ex->container())
            ex->container()->showError(ex->detail(), ex->message());
    }
    void Present(const std::exception&) const override {}
};

} // namespace

std::unique_ptr<IException> CommandLineException::Clone(bool withStackTrace) const {
    auto copy = std::make_unique<CommandLineException>(*this);
    if (withStackTrace)
        copy->appendStackTrace();
    return copy;
}

const IExceptionPresenter& CommandLineException::GetPresenter() const {
    static const CommandLineExceptionPresenter presenter;
    return presenter;
}

} // namespace quendle
