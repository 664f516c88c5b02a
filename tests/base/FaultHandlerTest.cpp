#include "core/ConsoleWriter.h"
#include "os/ExceptionHandling.h"

#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace quendle;

namespace {

struct ChildResult {
    int exitCode = -1;
    std::string output;
};

// Runs `fault` in a child process with the fault handlers and a console writer on a pipe.
template <typename F> ChildResult runFaulting(F fault) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
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

TEST(FaultHandler, NullPointerReadIsReportedAsAnAccessViolation) {
    ChildResult r = runFaulting([] { (void)*nullPointer; });
    EXPECT_EQ(r.exitCode, 100);
    EXPECT_EQ(r.output.rfind("[SEH_AV_READ_NULLPTR] ACCESS_VIOLATION (0xc0000005) at address [0x", 0), 0u)
        << r.output;
    EXPECT_NE(r.output.find("\n*** Stack Trace (x86) ***\n\n[0x"), std::string::npos);
    EXPECT_NE(r.output.find("]  MODULE_BASE_ADDRESS\n"), std::string::npos);
}

TEST(FaultHandler, NullPointerWriteAndBadPointerRead) {
    ChildResult w = runFaulting([] { *nullPointer = 1; });
    EXPECT_EQ(w.exitCode, 100);
    EXPECT_EQ(w.output.rfind("[SEH_AV_WRITE_NULLPTR] ACCESS_VIOLATION (0xc0000005)", 0), 0u) << w.output;
    ChildResult b = runFaulting([] { (void)*reinterpret_cast<volatile int*>(badAddress); });
    EXPECT_EQ(b.output.rfind("[SEH_AV_READ_BADPTR] ACCESS_VIOLATION", 0), 0u) << b.output;
}

TEST(FaultHandler, CleanupRunsAfterTheReport) {
    ChildResult r = runFaulting([] {
        setFaultCleanup([] { (void)!::write(STDOUT_FILENO, "cleaned\n", 8); });
        *nullPointer = 2;
    });
    EXPECT_EQ(r.exitCode, 100);
    ASSERT_GE(r.output.size(), 8u);
    EXPECT_EQ(r.output.substr(r.output.size() - 8), "cleaned\n");
}

[[gnu::noinline]] void throwOutOfNoexcept() {
    throw std::runtime_error("escaped");
}

TEST(FaultHandler, UncaughtExceptionIsReportedInsteadOfAborting) {
    ChildResult r = runFaulting([]() noexcept { throwOutOfNoexcept(); });
    EXPECT_EQ(r.exitCode, 100);
    EXPECT_EQ(r.output.rfind("[EXCEPTION_UNHANDLED] escaped\n\n*** Stack Trace (x86) ***\n\n[0x", 0), 0u)
        << r.output;
}

TEST(FaultHandler, IntegerDivisionByZero) {
    ChildResult r = runFaulting([] {
        volatile int x = dividend / zero;
        (void)x;
    });
    EXPECT_EQ(r.exitCode, 100);
    EXPECT_EQ(r.output.rfind("[SEH_GENERIC] INT_DIVIDE_BY_ZERO (0xc0000094) at address [0x", 0), 0u)
        << r.output;
}

TEST(FaultHandler, StackOverflowAndRaisedSignals) {
    ChildResult s = runFaulting([] { recurse(0); });
    EXPECT_EQ(s.exitCode, 100);
    EXPECT_EQ(s.output.rfind("[SEH_GENERIC] STACK_OVERFLOW (0xc00000fd)", 0), 0u) << s.output.substr(0, 200);
    EXPECT_NE(s.output.find("<--------------------MORE--FRAMES-------------------->\n"), std::string::npos);
    ChildResult ill = runFaulting([] { std::raise(SIGILL); });
    EXPECT_EQ(ill.exitCode, 100);
    EXPECT_EQ(ill.output.rfind("[SEH_GENERIC] ILLEGAL_INSTRUCTION (0xc000001d)", 0), 0u) << ill.output;
}
