#include "os/AtomicFileReplacement.h"

#include "core/Exception.h"
#include "core/SystemError.h"
#include "os/StaleLeftovers.h"
#include "util/strings/MessageFormat.h"

// The steps every platform shares; the moves, flushes and checks themselves are in the bodies.
namespace quendle {

void AtomicFileReplacement::fail() {
    fail(SystemError::last());
}

void AtomicFileReplacement::fail(const SystemError& why) {
    std::string text = formatString("%s %s", {failureText_, GetSystemErrorText(why.win32Code())});
    throw Exception(std::move(text));
}

void AtomicFileReplacement::install(const std::string& sourcePath) {
    prepare();
    fillFrom(sourcePath);
    commit();
}

std::string AtomicFileReplacement::prepare() {
    checkWritable();
    (void)StaleLeftovers::removeAbandonedTemporaries(target_);
    createTemporary();
    return temporary_;
}

} // namespace quendle
