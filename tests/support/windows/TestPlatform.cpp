#include "support/TestPlatform.h"

#include <windows.h>

#include <psapi.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

// Under Wine a Windows program can start a Linux one (Wine execs it), but gets no handle to wait
// on or to read its exit status from. A Linux program therefore runs inside /bin/sh, which writes
// its status to a file when it ends, and its arguments see the host's paths instead of Z:'s.
namespace quendle::test::platform {
namespace {

namespace fs = std::filesystem;

std::wstring wide(const std::string& s) {
    return fs::u8path(s).wstring();
}

std::string narrow(const std::wstring& s) {
    std::u8string text = fs::path(s).u8string();
    return std::string(text.begin(), text.end());
}

// One argument as the C runtime's parser reads it back.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

// "Z:/tmp/x\\y" becomes "/tmp/x/y", wherever such a path stands in the text.
std::string hostPaths(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        bool drive = (text[i] == 'Z' || text[i] == 'z') && i + 2 < text.size() && text[i + 1] == ':' &&
                     (text[i + 2] == '/' || text[i + 2] == '\\') &&
                     (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])));
        if (!drive) {
            out += text[i];
            continue;
        }
        for (i += 2; i < text.size() && std::string_view(" '\"\n;|&<>").find(text[i]) == std::string_view::npos; ++i)
            out += text[i] == '\\' ? '/' : text[i];
        --i;
    }
    return out;
}

HANDLE inheritable(const std::wstring& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct Handle {
    HANDLE h;
    ~Handle() { h && h != INVALID_HANDLE_VALUE && CloseHandle(h); }
};

bool isWindowsProgram(const std::string& path) {
    return fs::path(wide(path)).extension() == L".exe" || fs::exists(wide(path + ".exe"));
}

Finished start(const std::wstring& application, std::wstring commandLine,
               const std::map<std::string, std::string>& env, const std::string& workingDir,
               const std::string& outPath, const std::string& errPath, bool waitable) {
    Finished result;
    Handle in{inheritable(L"NUL", false)}, out{inheritable(wide(outPath), true)}, err{inheritable(wide(errPath), true)};
    STARTUPINFOW si{};
    si.cb = sizeof si, si.dwFlags = STARTF_USESTDHANDLES, si.hStdInput = in.h, si.hStdOutput = out.h, si.hStdError = err.h;
    std::wstring block;
    for (const auto& [k, v] : env)
        block += wide(k + "=" + v) + L'\0';
    block += L'\0';
    std::wstring dir = wide(workingDir);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr,
                        nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
        return result;
    Handle process{pi.hProcess}, thread{pi.hThread};
    if (!waitable || !process.h) {
        result.exitCode = 0;
        return result;
    }
    WaitForSingleObject(process.h, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.h, &code);
    result.exitCode = static_cast<int>(code); // peakKiB: only the POSIX end-to-end tests ask
    return result;
}

} // namespace

std::string makeScratchFolder(const std::string& parent) {
    // Under Wine the host's /tmp, so that the Linux verifiers see the same files.
    std::string base = parent;
    if (base.empty())
        base = fs::is_directory(L"Z:/tmp") ? "Z:/tmp" : narrow(fs::temp_directory_path().wstring());
    for (char& c : base)
        c = c == '\\' ? '/' : c;
    while (base.size() > 3 && base.back() == '/')
        base.pop_back();
    std::random_device seed;
    std::mt19937 gen(seed() ^ GetCurrentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = base + "/quendle-test-" + std::to_string(gen() % 100000000u);
        if (CreateDirectoryW(wide(path).c_str(), nullptr))
            return path;
    }
    return {};
}

void setEnvironment(const char* name, const char* value) {
    _putenv_s(name, value ? value : "");
}

std::map<std::string, std::string> environment() {
    std::map<std::string, std::string> env;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* e = block; e && *e; e += wcslen(e) + 1) {
        std::string entry = narrow(e);
        auto eq = entry.find('=', 1); // "=C:=C:\..." entries start with '='
        if (eq != std::string::npos && entry[0] != '=')
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
    return env;
}

long peakKiBOfThisProcess() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

Finished run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& workingDir, const std::string& outPath, const std::string& errPath) {
    if (argv.empty())
        return {};
    if (isWindowsProgram(argv[0])) {
        std::wstring line;
        for (const auto& arg : argv) {
            if (!line.empty())
                line += L' ';
            appendQuoted(line, wide(arg));
        }
        return start({}, line, env, workingDir, outPath, errPath, true);
    }
    std::string status = outPath + ".status";
    std::string script = "cd " + shellQuote(hostPaths(workingDir.empty() ? "." : workingDir)) +
                         " && \"$0\" \"$@\" </dev/null >" + shellQuote(hostPaths(outPath)) + " 2>" +
                         shellQuote(hostPaths(errPath)) + "; echo $? >" + shellQuote(hostPaths(status)) +
                         ".tmp && mv " + shellQuote(hostPaths(status)) + ".tmp " +
                         shellQuote(hostPaths(status));
    std::wstring line = L"/bin/sh -c ";
    appendQuoted(line, wide(script));
    for (const auto& arg : argv) {
        line += L' ';
        appendQuoted(line, wide(hostPaths(arg)));
    }
    if (start(L"Z:\\bin\\sh", line, env, workingDir, outPath + ".sh", errPath + ".sh", false).exitCode != 0)
        return {};
    while (!fs::exists(wide(status)))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Finished result;
    std::ifstream(fs::path(wide(status))) >> result.exitCode;
    return result;
}

} // namespace quendle::test::platform
