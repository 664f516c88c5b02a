#pragma once
#include <string>

namespace quendle {

// "\n" and a symbolic stack trace of the calling thread, beginning with StackTraceMarker and
// ending with the module-base line; at most 200 frames.
std::string currentStackTrace();

// Turns hardware faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) into a reported error and exit code
// 100: "[CLASS] NAME (0xCODE) at address [0xPC]" with the Windows names and codes of the fault,
// followed by a stack trace, shown like any other error (bright red on the console). The report
// is written from the signal handler with async-signal-safe calls where practical; the process
// then ends at once, without unwinding. An exception that escapes everything (std::terminate) is
// reported the same way as "[EXCEPTION_UNHANDLED] message". Call once, early; later calls do
// nothing.
void installFaultHandlers();

// A function the fault handler calls after the report and before the process ends, to remove
// temporary files. It runs inside a signal handler: it must use async-signal-safe calls only.
using FaultCleanup = void (*)();
void setFaultCleanup(FaultCleanup cleanup);

} // namespace quendle
