#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "qelmctl.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

// The console belongs to the user and the programs that run in it after qelmctl: its output code
// page is changed only while qelmctl runs. 0: there is no console.
UINT g_usersCodePage = 0;

void RestoreUsersCodePage() {
    if (g_usersCodePage != 0) {
        SetConsoleOutputCP(g_usersCodePage);
    }
}

// Ctrl+C, Ctrl+Break or a closing console end qelmctl (an endless watch ends no other way)
// returning from wmain.
BOOL WINAPI RestoreBeforeTheDefaultHandler(DWORD) {
    RestoreUsersCodePage();
    return FALSE;
}

// Everything qelmctl prints is UTF-8, for as long as an object of this class lives.
class Utf8ConsoleOutput {
  public:
    Utf8ConsoleOutput() {
        g_usersCodePage = GetConsoleOutputCP();
        SetConsoleCtrlHandler(RestoreBeforeTheDefaultHandler, TRUE);
        SetConsoleOutputCP(CP_UTF8);
    }
    // What was printed reaches the console before its code page goes back.
    ~Utf8ConsoleOutput() {
        std::cout.flush();
        RestoreUsersCodePage();
    }
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    const Utf8ConsoleOutput utf8;
    return RunQelmctl(arguments, std::cout, std::cerr);
}
