#include "os/ConsoleSetup.h"
#include "os/FileHandle.h"
#include "os/windows/WindowsFileSystem.h"

// windows.h first: shellapi.h builds on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace quendle {
namespace {

bool isConsole(DWORD stream) {
    HANDLE handle = GetStdHandle(stream);
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// What the console was like before this run, put back when it ends: the code page and the
// modes are the console's, shared with the shell that started the run.
UINT previousOutputCodePage = 0;
struct SavedMode {
    HANDLE handle = nullptr;
    DWORD mode = 0;
} savedModes[2];

void restoreConsole() {
    if (previousOutputCodePage != 0)
        SetConsoleOutputCP(previousOutputCodePage);
    for (const SavedMode& saved : savedModes)
        if (saved.handle)
            SetConsoleMode(saved.handle, saved.mode);
}

// Colour sequences are shown by the console itself once it interprets them; false when it
// cannot (a console before Windows 10).
bool enableColourSequences(DWORD stream, SavedMode& saved) {
    HANDLE handle = GetStdHandle(stream);
    DWORD mode = 0;
    if (!handle || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return true; // not a console: nothing to interpret, nothing to change
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        return true;
    if (!SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return false;
    saved = {handle, mode};
    return true;
}

// The arguments as UTF-8, kept for the whole run.
std::vector<std::string> argumentTexts;
std::vector<char*> argumentPointers;

void takeWideArguments(int& argc, char**& argv) {
    int count = 0;
    LPWSTR* wideArguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wideArguments)
        return; // the runtime's own (ANSI) arguments are still there
    argumentTexts.clear();
    for (int i = 0; i < count; ++i)
        argumentTexts.push_back(hostpath::narrow(wideArguments[i]));
    LocalFree(wideArguments);
    argumentPointers.clear();
    for (std::string& text : argumentTexts)
        argumentPointers.push_back(text.data());
    argumentPointers.push_back(nullptr);
    argc = count;
    argv = argumentPointers.data();
}

} // namespace

bool standardOutputIsTerminal() {
    return isConsole(STD_OUTPUT_HANDLE);
}

bool standardErrorIsTerminal() {
    return isConsole(STD_ERROR_HANDLE);
}

void prepareConsole(int& argc, char**& argv) {
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    takeWideArguments(argc, argv);
    // Text mode: every "\n" the writers put out reaches the file or the console as CR LF.
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    if (!isConsole(STD_OUTPUT_HANDLE) && !isConsole(STD_ERROR_HANDLE))
        return; // redirected: the UTF-8 bytes go into the file as they are
    UINT codePage = GetConsoleOutputCP();
    if (codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        previousOutputCodePage = codePage;
    bool colours = enableColourSequences(STD_OUTPUT_HANDLE, savedModes[0]);
    colours = enableColourSequences(STD_ERROR_HANDLE, savedModes[1]) && colours;
    if (!colours)
        _putenv("NO_COLOR=1"); // the sequences would show as text
    std::atexit(restoreConsole);
}

} // namespace quendle
