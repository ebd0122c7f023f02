#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "qelmctl.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

int wmain(int argc, wchar_t** argv) {
    // Everything qelmctl prints is UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    return RunQelmctl(arguments, std::cout, std::cerr);
}
