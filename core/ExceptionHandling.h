#pragma once
#include <string>

namespace quendle {

// "\n" and a symbolic stack trace of the calling thread, beginning with StackTraceMarker;
// empty when no trace can be taken.
std::string currentStackTrace();

// Turns hardware faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) into a reported error and exit.
void installFaultHandlers();

} // namespace quendle
