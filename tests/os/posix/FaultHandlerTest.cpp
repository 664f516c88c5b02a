#include "core/ConsoleWriter.h"
#include "os/ExceptionHandling.h"
#include "support/TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace quendle;

namespace {

struct ChildResult {
    int exitCode = -1;
    std::string output;
};

// Runs `fault` in a child process with the fault handlers and a console writer, its standard
// error (where the report belongs) on a pipe.
template <typename F> ChildResult runFaulting(F fault) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        installFaultHandlers();
        ConsoleWriter::install();
        fault();
        _exit(0);
    }
    ::close(fds[1]);
    ChildResult r;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        r.output.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return r;
}

volatile int* volatile nullPointer = nullptr;
volatile int zero = 0;
volatile int dividend = 7;
volatile int quotient = 0;
volatile int neverReached = -1;
volatile uintptr_t badAddress = 0x10;

[[gnu::noinline]] int recurse(int depth) {
    volatile char pad[4096];
    pad[0] = static_cast<char>(depth);
    if (depth == neverReached)
        return 0;
    return recurse(depth + 1) + pad[0];
}

} // namespace

[[gnu::noinline]] void throwOutOfNoexcept() {
    throw std::runtime_error("escaped");
}

TEST(FaultHandler, EachFaultIsReportedByItsKindWithExitCode100AndThenTheCleanupRuns) {
    struct Case {
        void (*fault)();
        std::string start; // what the report begins with
    };
    const Case cases[] = {
        {[] { (void)*nullPointer; }, "[SEH_AV_READ_NULLPTR] ACCESS_VIOLATION (0xc0000005) at address [0x"},
        // The cleanup runs after the report.
        {[] {
             setFaultCleanup([] { (void)!::write(STDERR_FILENO, "cleaned\n", 8); });
             *nullPointer = 1;
         },
         "[SEH_AV_WRITE_NULLPTR] ACCESS_VIOLATION (0xc0000005)"},
        {[] { (void)*reinterpret_cast<volatile int*>(badAddress); }, "[SEH_AV_READ_BADPTR] ACCESS_VIOLATION"},
        {[]() noexcept { throwOutOfNoexcept(); },
         "[EXCEPTION_UNHANDLED] escaped\n\n*** Stack Trace (x86) ***\n\n[0x"},
        {[] { quotient = dividend / zero; }, "[SEH_GENERIC] INT_DIVIDE_BY_ZERO (0xc0000094) at address [0x"},
        {[] { std::raise(SIGILL); }, "[SEH_GENERIC] ILLEGAL_INSTRUCTION (0xc000001d)"},
        {[] { recurse(0); }, "[SEH_GENERIC] STACK_OVERFLOW (0xc00000fd)"},
    };
    std::vector<std::string> outputs;
    for (const Case& c : cases) {
        ChildResult r = runFaulting(c.fault);
        EXPECT_EQ(r.exitCode, 100) << c.start;
        EXPECT_EQ(r.output.rfind(c.start, 0), 0u) << r.output.substr(0, 300);
        outputs.push_back(r.output);
    }
    EXPECT_HAS(outputs.front(), "\n*** Stack Trace (x86) ***\n\n[0x");
    EXPECT_HAS(outputs.front(), "]  MODULE_BASE_ADDRESS\n");
    EXPECT_HAS(outputs.back(), "<--------------------MORE--FRAMES-------------------->\n");
    EXPECT_TRUE(outputs[1].ends_with("cleaned\n")) << outputs[1];
}
