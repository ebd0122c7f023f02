// bench_floor.exe: the least a tab-selection recovery can cost. It answers the same message as
// the companion, from a hidden window of class "qelm-floor", by making the same Win32 calls in
// the same order (browser lookup, plug-in host walk, the "global" check, the browser's trim with
// its windows settled, the "global" check again) written straight against Win32, with no
// settings, no seam and no texts. Names are compared with the C library, as the companion
// compares them in its own code. The benchmark checks the two call sequences are the same.
#include <windows.h>

#include <psapi.h>

#include <cwchar>

#include "app/messages.h"

namespace {

constexpr DWORD kProcessFullAccess = 0x1F0FFF;
constexpr wchar_t kFloorClass[] = L"qelm-floor";
constexpr int kTextBuffer = 1024;
constexpr int kInnerClassLimit = 255;

struct Processes {
    DWORD ids[4096];
    DWORD count = 0;
};

bool ListProcesses(Processes& processes) {
    DWORD bytes = 0;
    if (!EnumProcesses(processes.ids, sizeof processes.ids, &bytes)) {
        return false;
    }
    processes.count = bytes / sizeof(DWORD);
    return true;
}

void BaseName(HANDLE process, wchar_t (&name)[MAX_PATH]) {
    HMODULE module = nullptr;
    DWORD needed = 0;
    name[0] = L'\0';
    if (EnumProcessModules(process, &module, sizeof module, &needed)) {
        // One short of the buffer: a cut name is left unterminated.
        name[GetModuleBaseNameW(process, module, name, MAX_PATH - 1)] = L'\0';
    }
}

bool IsBrowserName(const wchar_t* name) {
    return _wcsicmp(name, L"firefox.exe") == 0 || _wcsicmp(name, L"palemoon.exe") == 0;
}

// Walks every process, opening each with full access, until the visit says stop.
template <class Visit>
void Walk(Visit visit) {
    Processes processes;
    if (!ListProcesses(processes)) {
        return;
    }
    for (DWORD i = 0; i < processes.count; ++i) {
        if (processes.ids[i] == 0) {
            continue;
        }
        const HANDLE process = OpenProcess(kProcessFullAccess, FALSE, processes.ids[i]);
        if (process == nullptr) {
            continue;
        }
        wchar_t name[MAX_PATH];
        BaseName(process, name);
        const bool goOn = visit(process, name);
        CloseHandle(process);
        if (!goOn) {
            return;
        }
    }
}

bool GlobalIsOn() {
    HKEY key = nullptr;
    DWORD global = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Qelm", 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof global;
        RegQueryValueExW(key, L"global", nullptr, nullptr, reinterpret_cast<BYTE*>(&global), &size);
        RegCloseKey(key);
    }
    return global != 0;
}

BOOL CALLBACK FindMainWindow(HWND window, LPARAM found) {
    wchar_t windowClass[kTextBuffer], title[kTextBuffer];
    GetClassNameW(window, windowClass, kTextBuffer);
    GetWindowTextW(window, title, kTextBuffer);
    const bool mainClass = wcscmp(windowClass, L"MozillaUIWindowClass") == 0 ||
                           wcscmp(windowClass, L"MozillaWindowClass") == 0;
    if (mainClass && (wcsstr(title, L"Firefox") || wcsstr(title, L"Pale Moon"))) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK DismissPlaceholder(HWND window, LPARAM) {
    wchar_t windowClass[kTextBuffer], title[kTextBuffer];
    GetClassNameW(window, windowClass, kTextBuffer);
    if (wcscmp(windowClass, L"SWFlash_PlaceholderX") == 0) {
        GetWindowTextW(window, title, kTextBuffer);
        if (wcsstr(title, L"DummyWindowless")) {
            DWORD_PTR ignored;
            SendMessageTimeoutW(window, WM_KILLFOCUS, 0, 0, SMTO_NORMAL, 100, &ignored);
            SendMessageTimeoutW(window, WM_DESTROY, 0, 0, SMTO_NORMAL, 100, &ignored);
        }
    }
    return TRUE;
}

BOOL CALLBACK VisitContentWindow(HWND window, LPARAM) {
    wchar_t windowClass[kTextBuffer];
    GetClassNameW(window, windowClass, kTextBuffer);
    if (wcscmp(windowClass, L"MozillaContentWindowClass") == 0) {
        EnumChildWindows(window, DismissPlaceholder, 0);
    }
    return TRUE;
}

void SendSettlingMessages(HWND window) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_CANCELMODE, 0, 0, SMTO_NORMAL, 100, &ignored);
    SendMessageTimeoutW(window, WM_CANCELJOURNAL, 0, 0, SMTO_NORMAL, 100, &ignored);
    SendMessageTimeoutW(window, WM_ENDSESSION, 0, 0, SMTO_NORMAL, 100, &ignored);
    SendMessageTimeoutW(window, WM_ENTERIDLE, 0, 0, SMTO_NORMAL, 100, &ignored);
}

void SettleBrowserWindows() {
    HWND main = nullptr;
    EnumChildWindows(GetDesktopWindow(), FindMainWindow, reinterpret_cast<LPARAM>(&main));
    if (main == nullptr) {
        return;
    }
    const HWND inner = GetWindow(main, GW_CHILD);
    wchar_t innerClass[kInnerClassLimit];
    GetClassNameW(inner, innerClass, kInnerClassLimit);
    if (wcscmp(innerClass, L"MozillaWindowClass") == 0) {
        EnumChildWindows(inner, VisitContentWindow, 0);
        SendSettlingMessages(inner);
    }
    SendSettlingMessages(main);
}

void TrimWithSelf(HANDLE process) {
    EmptyWorkingSet(process);
    EmptyWorkingSet(GetCurrentProcess());
}

void RecoverAfterTabSelection() {
    bool browserRunning = false;
    Walk([&](HANDLE, const wchar_t* name) {
        browserRunning = IsBrowserName(name);
        return !browserRunning;
    });
    if (!browserRunning) {
        return;
    }
    Walk([](HANDLE process, const wchar_t* name) {
        if (_wcsicmp(name, L"plugin-container.exe") == 0) {
            TrimWithSelf(process);
        }
        return true;
    });
    GlobalIsOn();
    Walk([](HANDLE process, const wchar_t* name) {
        if (IsBrowserName(name)) {
            TrimWithSelf(process);
            SettleBrowserWindows();
        }
        return true;
    });
    GlobalIsOn();
}

UINT g_tabMessage;

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_tabMessage) {
        if (wParam == 3 && lParam == 3) {
            RecoverAfterTabSelection();
        }
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    g_tabMessage = RegisterWindowMessageW(reinterpret_cast<const wchar_t*>(kQelmMessageName));
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kFloorClass;
    RegisterClassW(&windowClass);
    CreateWindowExW(0, kFloorClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
