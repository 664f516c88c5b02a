#include "os/ExceptionHandling.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "util/strings/StringTable.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <execinfo.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace quendle {
namespace {

constexpr int MaxFrames = 200;
constexpr size_t MaxSymbolChars = 2000;
constexpr int FaultExitCode = static_cast<int>(GenericErrorCode & 0xFF);

// Text built without allocation: the signal handler must not call malloc.
class FixedText {
  public:
    FixedText(char* buffer, size_t capacity) : buf_(buffer), cap_(capacity) {}
    void put(const char* s) { put(s, std::strlen(s)); }
    void put(const char* s, size_t n) {
        for (size_t i = 0; i < n && len_ + 1 < cap_; ++i)
            buf_[len_++] = s[i];
        buf_[len_] = '\0';
    }
    // Lower-case hexadecimal with at least minDigits digits, like "%.8x".
    void putHex(uint64_t v, int minDigits) {
        char tmp[17];
        int n = 0;
        do {
            tmp[n++] = "0123456789abcdef"[v & 0xF];
            v >>= 4;
        } while (v != 0);
        while (n < minDigits)
            tmp[n++] = '0';
        char out[17];
        for (int i = 0; i < n; ++i)
            out[i] = tmp[n - 1 - i];
        put(out, static_cast<size_t>(n));
    }
    const char* data() const { return buf_; }
    size_t size() const { return len_; }

  private:
    char* buf_;
    size_t cap_;
    size_t len_ = 0;
};

struct FaultName {
    uint32_t code;
    const char* name;
};

const FaultName faultNames[] = {
    {0x80000001, "GUARD_PAGE"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLT_DENORMAL_OPERAND"},
    {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLT_INEXACT_RESULT"},
    {0xC0000090, "FLT_INVALID_OPERATION"},
    {0xC0000091, "FLT_OVERFLOW"},
    {0xC0000092, "FLT_STACK_CHECK"},
    {0xC0000093, "FLT_UNDERFLOW"},
    {0xC0000094, "INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "INT_OVERFLOW"},
    {0xC0000096, "PRIV_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
};

const char* faultName(uint32_t code) {
    for (const auto& f : faultNames) {
        if (f.code == code)
            return f.name;
    }
    return nullptr;
}

// sehClassName() allocates; the handler needs the plain texts.
const char* const classNames[] = {"SEH_GENERIC",          "SEH_AV_READ_NULLPTR", "SEH_AV_READ_BADPTR",
                                  "SEH_AV_WRITE_NULLPTR", "SEH_AV_WRITE_BADPTR", "SEH_AV_DEP_NULLPTR",
                                  "SEH_AV_DEP_BADPTR"};

// Everything the handler needs is prepared at installation.
alignas(16) char alternateStack[256 * 1024];
char reportBuffer[512 * 1024];
char unhandledMessage[256];
char* demangleBuffer = nullptr;
size_t demangleSize = 0;

// Drops the parameter list of a demangled name: "ns::f(int)" -> "ns::f".
void stripParameters(char* name) {
    int depth = 0;
    static const char anonymous[] = "(anonymous namespace)";
    for (char* p = name; *p; ++p) {
        if (std::strncmp(p, anonymous, sizeof anonymous - 1) == 0) {
            p += sizeof anonymous - 2;
            continue;
        }
        if (*p == '<')
            ++depth;
        else if (*p == '>' && depth > 0)
            --depth;
        else if (*p == '(' && depth == 0 && p != name) {
            *p = '\0';
            return;
        }
    }
}

void putSymbol(FixedText& out, void* address, bool inSignalHandler) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_sname) {
        out.put("-----");
        return;
    }
    const char* name = info.dli_sname;
    char* demangled = nullptr;
    int status = -1;
    if (inSignalHandler) {
        if (demangleBuffer) {
            size_t size = demangleSize;
            char* result = abi::__cxa_demangle(info.dli_sname, demangleBuffer, &size, &status);
            if (result) {
                // The demangler may have grown the buffer.
                demangleBuffer = result;
                demangleSize = size > demangleSize ? size : demangleSize;
                if (status == 0)
                    demangled = result;
            }
        }
    } else {
        demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    }
    if (demangled && status == 0) {
        stripParameters(demangled);
        name = demangled;
    }
    size_t n = std::strlen(name);
    out.put(name, n < MaxSymbolChars ? n : MaxSymbolChars);
    out.put("()");
    if (!inSignalHandler)
        std::free(demangled);
}

uintptr_t moduleBase() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&installFaultHandlers), &info) != 0)
        return reinterpret_cast<uintptr_t>(info.dli_fbase);
    return 0;
}

// The trace of frames[first..count): marker, one line per frame, the module base.
void putTrace(FixedText& out, void* const* frames, int first, int count, bool inSignalHandler) {
    out.put(StackTraceMarker);
    int shown = 0;
    for (int i = first; i < count; ++i) {
        if (shown == MaxFrames) {
            out.put("<--------------------MORE--FRAMES-------------------->\n");
            break;
        }
        out.put("[0x");
        out.putHex(reinterpret_cast<uintptr_t>(frames[i]), 8);
        out.put("]  ");
        // A return address may already belong to the next function; look up the call itself.
        void* lookup = i == first ? frames[i] : static_cast<char*>(frames[i]) - 1;
        putSymbol(out, lookup, inSignalHandler);
        out.put("\n");
        ++shown;
    }
    out.put("[0x");
    out.putHex(moduleBase(), 8);
    out.put("]  MODULE_BASE_ADDRESS\n");
}

uintptr_t programCounter(const ucontext_t* uc) {
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

uintptr_t stackPointer(const ucontext_t* uc) {
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.sp);
#else
    (void)uc;
    return 0;
#endif
}

struct FaultKind {
    uint32_t code;
    int sehClass;
};

FaultKind classify(int sig, const siginfo_t* info, const ucontext_t* uc) {
    switch (sig) {
    case SIGSEGV: {
        uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
        uintptr_t sp = stackPointer(uc);
        // A fault just below the stack pointer is the stack running out.
        if (sp != 0 && addr < sp + 4096 && addr + 256 * 1024 > sp && addr > 4096)
            return {0xC00000FD, 0};
        int operation = 0; // read
#if defined(__x86_64__)
        unsigned long err = static_cast<unsigned long>(uc->uc_mcontext.gregs[REG_ERR]);
        if (err & 0x10)
            operation = 8; // instruction fetch: execution prevented
        else if (err & 0x2)
            operation = 1; // write
#endif
        int base = operation == 0 ? 1 : operation == 1 ? 3 : 5;
        return {0xC0000005, base + (addr == 0 ? 0 : 1)};
    }
    case SIGBUS:
        return {info->si_code == BUS_ADRALN ? 0x80000002u : 0xC0000006u, 0};
    case SIGILL:
        return {info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? 0xC0000096u : 0xC000001Du, 0};
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV:
            return {0xC0000094, 0};
        case FPE_INTOVF:
            return {0xC0000095, 0};
        case FPE_FLTDIV:
            return {0xC000008E, 0};
        case FPE_FLTOVF:
            return {0xC0000091, 0};
        case FPE_FLTUND:
            return {0xC0000093, 0};
        case FPE_FLTRES:
            return {0xC000008F, 0};
        case FPE_FLTINV:
            return {0xC0000090, 0};
        case FPE_FLTSUB:
            return {0xC000008C, 0};
        default:
            return {static_cast<uint32_t>(sig), 0};
        }
    default:
        return {static_cast<uint32_t>(sig), 0};
    }
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void writeAll(int fd, const char* text) {
    writeAll(fd, text, std::strlen(text));
}

volatile sig_atomic_t handlingFault = 0;
std::atomic<FaultCleanup> faultCleanup{nullptr};

void onFault(int sig, siginfo_t* info, void* context) {
    if (handlingFault)
        _exit(FaultExitCode); // a fault while reporting one: leave with the code already decided
    handlingFault = 1;
    const auto* uc = static_cast<const ucontext_t*>(context);
    FaultKind kind = classify(sig, info, uc);
    uintptr_t pc = programCounter(uc);

    FixedText out(reportBuffer, sizeof reportBuffer);
    out.put("[");
    out.put(classNames[kind.sehClass]);
    out.put("] ");
    if (const char* name = faultName(kind.code)) {
        out.put(name);
        out.put(" (0x");
    } else {
        out.put("Unknown SEH Exception (0x");
    }
    out.putHex(kind.code, 8);
    out.put(") at address [0x");
    out.putHex(pc, 8);
    out.put("]\n");

    void* frames[MaxFrames + 16];
    int count = backtrace(frames, MaxFrames + 16);
    // Begin at the faulting function, not inside this handler.
    int first = 0;
    for (int i = 0; i < count; ++i) {
        if (reinterpret_cast<uintptr_t>(frames[i]) == pc) {
            first = i;
            break;
        }
    }
    putTrace(out, frames, first, count, true);

    ConsoleWriter* writer = ConsoleWriter::errors();
    if (writer) {
        if (writer->colorsEnabled())
            writeAll(STDERR_FILENO, "\x1b[91m");
        writeAll(STDERR_FILENO, out.data(), out.size());
        writeAll(STDERR_FILENO, "\n");
        if (writer->colorsEnabled())
            writeAll(STDERR_FILENO, "\x1b[0m");
    } else {
        writeAll(STDERR_FILENO, "Error\n");
        writeAll(STDERR_FILENO, unhandledMessage);
        writeAll(STDERR_FILENO, "\n\n");
        writeAll(STDERR_FILENO, out.data(), out.size());
        writeAll(STDERR_FILENO, "\n");
    }
    if (FaultCleanup cleanup = faultCleanup.load())
        cleanup();
    _exit(FaultExitCode);
}

// An exception that nothing caught (one escaping a destructor or a noexcept function): reported
// like a fault instead of the runtime's bare "terminate called" and an abort.
[[noreturn]] void onTerminate() {
    std::string text = "[" + kindName(ExceptionUnhandled) + "] ";
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const Exception& e) {
            text += e.message();
        } catch (const std::exception& e) {
            text += e.what();
        } catch (...) {
            text += "Unknown exception";
        }
    }
    text += currentStackTrace(); // begins with the line end
    if (ConsoleWriter::errors()) {
        writeErrorLine(text);
    } else {
        std::string report = std::string("Error\n") + unhandledMessage + "\n\n" + text + "\n";
        writeAll(STDERR_FILENO, report.data(), report.size());
    }
    if (FaultCleanup cleanup = faultCleanup.load())
        cleanup();
    std::_Exit(FaultExitCode);
}

} // namespace

std::string currentStackTrace() {
    void* frames[MaxFrames + 2];
    int count = backtrace(frames, MaxFrames + 2);
    std::vector<char> buffer(512 * 1024);
    FixedText out(buffer.data(), buffer.size());
    out.put("\n");
    // Frame 0 is this function.
    putTrace(out, frames, count > 1 ? 1 : 0, count, false);
    return std::string(out.data(), out.size());
}

void setFaultCleanup(FaultCleanup cleanup) {
    faultCleanup.store(cleanup);
}

void installFaultHandlers() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    setStackTraceSource(currentStackTrace);

    // The first backtrace loads the unwinder; do it now, not inside a handler.
    void* warmUp[2];
    backtrace(warmUp, 2);
    demangleSize = 8192;
    demangleBuffer = static_cast<char*>(std::malloc(demangleSize));
    if (!demangleBuffer)
        demangleSize = 0;
    std::string text = loadString(Msg::UnhandledProblem);
    std::strncpy(unhandledMessage, text.c_str(), sizeof unhandledMessage - 1);

    // An overflowing stack leaves no room for the handler on the stack itself.
    stack_t alt{};
    alt.ss_sp = alternateStack;
    alt.ss_size = sizeof alternateStack;
    sigaltstack(&alt, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        sigaction(sig, &action, nullptr);
    std::set_terminate(onTerminate);
}

} // namespace quendle
