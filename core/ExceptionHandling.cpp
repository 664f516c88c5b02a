#include "core/ExceptionHandling.h"

namespace quendle {

std::string currentStackTrace() { return {}; }

void installFaultHandlers() {}

} // namespace quendle
