#include "os/ExceptionHandling.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "util/strings/StringTable.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>
#include <windows.h>

namespace quendle {
namespace {

constexpr int MaxFrames = 200;

// Text built without allocation: the fault handler must not call malloc.
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
char reportBuffer[512 * 1024];
char unhandledMessage[256];
uintptr_t imageStart = 0;
uintptr_t imageEnd = 0;

uintptr_t moduleBase() {
    return reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
}

// The trace of frames[first..count): marker, one line per frame, the module base. The program
// carries no symbols Windows can read, so a frame is its address; subtracting the module base
// gives the offset a map file or addr2line turns into a name.
void putTrace(FixedText& out, void* const* frames, int first, int count) {
    out.put(StackTraceMarker);
    int shown = 0;
    for (int i = first; i < count; ++i) {
        if (shown == MaxFrames) {
            out.put("<--------------------MORE--FRAMES-------------------->\n");
            break;
        }
        out.put("[0x");
        out.putHex(reinterpret_cast<uintptr_t>(frames[i]), 8);
        out.put("]  -----\n");
        ++shown;
    }
    out.put("[0x");
    out.putHex(moduleBase(), 8);
    out.put("]  MODULE_BASE_ADDRESS\n");
}

// The frames of the faulting thread, from the fault's own context: the first is the faulting
// instruction.
int faultFrames(const CONTEXT& faultContext, void** frames, int capacity) {
    int count = 0;
#if defined(__x86_64__) || defined(_M_X64)
    CONTEXT context = faultContext;
    while (count < capacity) {
        const DWORD64 pc = context.Rip;
        frames[count++] = reinterpret_cast<void*>(pc);
        DWORD64 base = 0;
        if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &base, nullptr)) {
            PVOID handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, pc, function, &context, &handlerData, &establisher, nullptr);
        } else {
            // A leaf function, or a jump to a bad address: the return address is on top.
            if (context.Rsp == 0)
                break;
            context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
            context.Rsp += 8;
        }
        if (context.Rip == 0)
            break;
    }
#else
    (void)faultContext;
    count = RtlCaptureStackBackTrace(0, static_cast<DWORD>(capacity), frames, nullptr);
#endif
    return count;
}

struct FaultKind {
    uint32_t code;
    int sehClass;
};

FaultKind classify(const EXCEPTION_RECORD& record) {
    const uint32_t code = record.ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2)
        return {code, 0};
    const ULONG_PTR operation = record.ExceptionInformation[0]; // 0 read, 1 write, 8 execute
    const ULONG_PTR address = record.ExceptionInformation[1];
    int base = operation == 0 ? 1 : operation == 1 ? 3 : 5;
    return {code, base + (address == 0 ? 0 : 1)};
}

// Standard error with CR LF line ends, written directly: no runtime buffer is trusted here.
void writeError(const char* data, size_t size) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE)
        return;
    auto put = [error](const char* bytes, size_t length) {
        while (length > 0) {
            DWORD written = 0;
            if (!WriteFile(error, bytes, static_cast<DWORD>(length), &written, nullptr) || written == 0)
                return;
            bytes += written;
            length -= written;
        }
    };
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n' || (i > 0 && data[i - 1] == '\r'))
            continue;
        put(data + start, i - start);
        put("\r\n", 2);
        start = i + 1;
    }
    put(data + start, size - start);
}

void writeError(const char* text) {
    writeError(text, std::strlen(text));
}

volatile LONG handlingFault = 0;
std::atomic<FaultCleanup> faultCleanup{nullptr};

// The fault codes the handler reports: those of the table that are errors, not the debugger's
// breakpoints and single steps.
bool isFault(uint32_t code) {
    return (code & 0xC0000000u) == 0xC0000000u ? faultName(code) != nullptr : code == 0x80000002u;
}

LONG report(EXCEPTION_POINTERS* pointers) {
    if (InterlockedExchange(&handlingFault, 1) != 0)
        TerminateProcess(GetCurrentProcess(), GenericErrorCode); // a fault while reporting one
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    FaultKind kind = classify(record);
    uintptr_t pc = reinterpret_cast<uintptr_t>(record.ExceptionAddress);

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
    void* frames[MaxFrames + 1];
    int count = faultFrames(*pointers->ContextRecord, frames, MaxFrames + 1);
    putTrace(out, frames, 0, count);

    ConsoleWriter* writer = ConsoleWriter::errors();
    if (writer) {
        if (writer->colorsEnabled())
            writeError("\x1b[91m");
        writeError(out.data(), out.size());
        writeError("\n");
        if (writer->colorsEnabled())
            writeError("\x1b[0m");
    } else {
        writeError("Error\n");
        writeError(unhandledMessage);
        writeError("\n\n");
        writeError(out.data(), out.size());
        writeError("\n");
    }
    if (FaultCleanup cleanup = faultCleanup.load())
        cleanup();
    // The full code, as a Windows shell sees it.
    TerminateProcess(GetCurrentProcess(), GenericErrorCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

// First in line for a fault in the program's own code (before any frame could swallow it) and
// for a stack overflow, which leaves too little stack to get further.
LONG CALLBACK onFirstChance(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const uintptr_t at = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
    const bool ours = at >= imageStart && at < imageEnd;
    if (isFault(record.ExceptionCode) && (ours || record.ExceptionCode == EXCEPTION_STACK_OVERFLOW))
        return report(pointers);
    return EXCEPTION_CONTINUE_SEARCH;
}

// A fault inside a system library that nothing handled (a bad pointer handed to it).
LONG WINAPI onUnhandled(EXCEPTION_POINTERS* pointers) {
    if (isFault(pointers->ExceptionRecord->ExceptionCode))
        return report(pointers);
    return EXCEPTION_CONTINUE_SEARCH;
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
        writeError(report.data(), report.size());
    }
    if (FaultCleanup cleanup = faultCleanup.load())
        cleanup();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), GenericErrorCode);
    std::_Exit(static_cast<int>(GenericErrorCode));
}

} // namespace

std::string currentStackTrace() {
    void* frames[MaxFrames + 1];
    // Frame 0 is this function.
    int count = RtlCaptureStackBackTrace(1, MaxFrames + 1, frames, nullptr);
    std::vector<char> buffer(64 * 1024);
    FixedText out(buffer.data(), buffer.size());
    out.put("\n");
    putTrace(out, frames, 0, count);
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
    std::string text = loadString(Msg::UnhandledProblem);
    std::strncpy(unhandledMessage, text.c_str(), sizeof unhandledMessage - 1);

    imageStart = moduleBase();
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(imageStart);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(imageStart + static_cast<uintptr_t>(dos->e_lfanew));
    imageEnd = imageStart + nt->OptionalHeader.SizeOfImage;

    // An overflowing stack keeps this much for the handler.
    ULONG guarantee = 64 * 1024;
    SetThreadStackGuarantee(&guarantee);
    // No dialog box and no error reporting: the run reports its fault itself.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    AddVectoredExceptionHandler(1, onFirstChance);
    SetUnhandledExceptionFilter(onUnhandled);
    std::set_terminate(onTerminate);
}

} // namespace quendle
