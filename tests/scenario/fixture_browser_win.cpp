// Stand-in for a browser process in scenario tests. It is copied and started as firefox.exe,
// palemoon.exe or plugin-container.exe, shows the window tree a browser shows, keeps some memory
// resident, and appends the messages its windows receive to a log that the tests read. With
// --grow its working set moves as a browser's does: it grows every second and falls when a
// recovery's messages arrive (Wine's trim changes nothing, so a trimmed browser is imitated).

#include <windows.h>

#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Options {
    std::wstring main_class = L"MozillaWindowClass";
    std::wstring title = L"Mozilla Firefox";
    bool no_window = false;
    bool inner = false;
    std::wstring first_child_class;
    int content = 0;
    std::vector<std::wstring> placeholders;
    DWORD slow_placeholder_ms = 0;
    std::wstring log_path;
    SIZE_T memory_mb = 16;
    SIZE_T grow_mb = 0;
    double exit_after_s = 0;
    std::wstring ready_path;
    std::wstring base_name;
    std::vector<std::wstring> children;  // their command lines
};

struct Node {
    std::wstring window_class;
    std::wstring title;
    std::string role;
    int parent;  // index into the node list, -1 for the top-level window
    bool placeholder;
    HWND hwnd = nullptr;
};

// Posted to the main thread once the placeholder thread has built its windows.
constexpr UINT kPlaceholdersBuilt = WM_APP + 1;

// The memory that --grow adds, reserved whole at start and committed a step at a time.
constexpr SIZE_T kMostGrowthMb = 512;
constexpr UINT kGrowthPeriodMs = 1000;
// A recovery's settling messages to the main window end with this one.
constexpr UINT kRecoveryDone = WM_ENTERIDLE;

Options g_options;
std::vector<Node> g_nodes;
char* g_growth = nullptr;
SIZE_T g_grown_mb = 0;
std::mutex g_log_mutex;
// Once the process is on its way out, what its windows receive (notably WM_DESTROY from the
// teardown) says nothing about what a sender did to it.
std::atomic<bool> g_ending{false};

Options ParseOptions() {
    Options o;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == L"--no-window") {
            o.no_window = true;
        } else if (arg == L"--inner") {
            o.inner = true;
        } else if (!has_value) {
            continue;
        } else if (arg == L"--class") {
            o.main_class = argv[++i];
        } else if (arg == L"--title") {
            o.title = argv[++i];
        } else if (arg == L"--first-child-class") {
            o.first_child_class = argv[++i];
        } else if (arg == L"--content") {
            o.content = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
        } else if (arg == L"--placeholder") {
            o.placeholders.emplace_back(argv[++i]);
        } else if (arg == L"--slow-placeholder") {
            o.slow_placeholder_ms = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--log") {
            o.log_path = argv[++i];
        } else if (arg == L"--memory") {
            o.memory_mb = static_cast<SIZE_T>(std::wcstoull(argv[++i], nullptr, 10));
        } else if (arg == L"--grow") {
            o.grow_mb = static_cast<SIZE_T>(std::wcstoull(argv[++i], nullptr, 10));
        } else if (arg == L"--exit-after") {
            o.exit_after_s = std::wcstod(argv[++i], nullptr);
        } else if (arg == L"--ready") {
            o.ready_path = argv[++i];
        } else if (arg == L"--base-name") {
            o.base_name = argv[++i];
        } else if (arg == L"--start") {
            o.children.emplace_back(argv[++i]);
        }
    }
    LocalFree(argv);
    return o;
}

// Writes to every page, so that all of them are in the working set.
void TouchPages(volatile char* block, SIZE_T size) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    for (SIZE_T offset = 0; offset < size; offset += info.dwPageSize) {
        block[offset] = 1;
    }
}

void HoldMemory(SIZE_T megabytes) {
    if (megabytes == 0) {
        return;
    }
    const SIZE_T size = megabytes << 20;
    auto* block = static_cast<volatile char*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (block != nullptr) {
        TouchPages(block, size);
    }
}

void ReserveGrowth() {
    g_growth =
        static_cast<char*>(VirtualAlloc(nullptr, kMostGrowthMb << 20, MEM_RESERVE, PAGE_NOACCESS));
}

void Grow() {
    const SIZE_T step = std::min(g_options.grow_mb, kMostGrowthMb - g_grown_mb);
    if (g_growth == nullptr || step == 0) {
        return;
    }
    char* next = g_growth + (g_grown_mb << 20);
    if (VirtualAlloc(next, step << 20, MEM_COMMIT, PAGE_READWRITE) != nullptr) {
        TouchPages(next, step << 20);
        g_grown_mb += step;
    }
}

// Gives back three quarters of what has grown, as a trimmed browser soon touches some of its pages
// again; so the figure after a recovery differs from the one after the last. Decommitted pages
// leave the working set at once, under Wine too.
void GiveBackGrowth() {
    const SIZE_T kept_mb = g_grown_mb / 4;
    if (g_grown_mb > kept_mb) {
        VirtualFree(g_growth + (kept_mb << 20), (g_grown_mb - kept_mb) << 20, MEM_DECOMMIT);
        g_grown_mb = kept_mb;
    }
}

// Only these say something about what was done to the browser's windows from outside.
const char* MessageName(UINT msg) {
    switch (msg) {
        case WM_CANCELMODE:
            return "WM_CANCELMODE";
        case WM_CANCELJOURNAL:
            return "WM_CANCELJOURNAL";
        case WM_ENDSESSION:
            return "WM_ENDSESSION";
        case WM_ENTERIDLE:
            return "WM_ENTERIDLE";
        case WM_KILLFOCUS:
            return "WM_KILLFOCUS";
        case WM_DESTROY:
            return "WM_DESTROY";
        case WM_KEYDOWN:
            return "WM_KEYDOWN";
        case WM_KEYUP:
            return "WM_KEYUP";
        case WM_SYSKEYDOWN:
            return "WM_SYSKEYDOWN";
        case WM_SYSKEYUP:
            return "WM_SYSKEYUP";
        default:
            return nullptr;
    }
}

// The file is opened and closed for every line so that a test polling it sees each line as soon
// as the message has arrived, and so that several fixture processes can share one log.
void AppendLogLine(const std::string& line) {
    if (g_options.log_path.empty()) {
        return;
    }
    std::lock_guard lock(g_log_mutex);
    // A reader on the Windows side may briefly hold the file without sharing writes.
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE file = CreateFileW(g_options.log_path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    const auto* node = reinterpret_cast<const Node*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const char* name = MessageName(msg);
    if (node != nullptr && name != nullptr && !g_ending) {
        char line[160];
        std::snprintf(line, sizeof line, "%s %s 0x%llx 0x%llx\n", node->role.c_str(), name,
                      static_cast<unsigned long long>(wparam),
                      static_cast<unsigned long long>(lparam));
        AppendLogLine(line);
        if (node->placeholder && g_options.slow_placeholder_ms > 0) {
            Sleep(g_options.slow_placeholder_ms);
        }
        if (node->parent < 0 && msg == kRecoveryDone) {
            GiveBackGrowth();
        }
    }
    if (msg == WM_DESTROY) {
        // A browser's window survives a WM_DESTROY that is merely sent to it.
        return 0;
    }
    if (msg == WM_CLOSE && node != nullptr && node->parent < 0) {
        g_ending = true;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void RegisterWindowClass(const std::wstring& name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = name.c_str();
    // The same class serves several roles; registering it twice fails harmlessly.
    RegisterClassExW(&wc);
}

void BuildTree() {
    g_nodes.push_back({g_options.main_class, g_options.title, "main", -1, false});
    if (!g_options.first_child_class.empty()) {
        g_nodes.push_back({g_options.first_child_class, L"", "firstchild", 0, false});
    } else if (g_options.inner) {
        g_nodes.push_back({L"MozillaWindowClass", L"", "inner", 0, false});
        for (int i = 1; i <= g_options.content; ++i) {
            g_nodes.push_back({L"MozillaContentWindowClass", L"", "content" + std::to_string(i),
                               static_cast<int>(g_nodes.size()) - 1, false});
        }
    }
    const int deepest = static_cast<int>(g_nodes.size()) - 1;
    for (size_t i = 0; i < g_options.placeholders.size(); ++i) {
        g_nodes.push_back({L"SWFlash_PlaceholderX", g_options.placeholders[i],
                           "placeholder" + std::to_string(i + 1), deepest, true});
    }
    for (const Node& node : g_nodes) {
        RegisterWindowClass(node.window_class);
    }
}

void CreateNodeWindow(Node& node) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (node.parent < 0) {
        node.hwnd =
            CreateWindowExW(0, node.window_class.c_str(), node.title.c_str(), WS_OVERLAPPEDWINDOW,
                            100, 100, 400, 300, nullptr, nullptr, instance, &node);
        return;
    }
    // Children cover their parent so that the window under any point of the main window is the
    // deepest one, as in a browser.
    HWND parent = g_nodes[node.parent].hwnd;
    RECT client{};
    GetClientRect(parent, &client);
    node.hwnd =
        CreateWindowExW(0, node.window_class.c_str(), node.title.c_str(), WS_CHILD | WS_VISIBLE, 0,
                        0, client.right, client.bottom, parent, nullptr, instance, &node);
}

// Placeholders live on a thread of their own so that a slow placeholder holds up only itself and
// the main window keeps answering, as a plugin's window does in a browser.
DWORD WINAPI PlaceholderThread(LPVOID main_thread_id) {
    for (Node& node : g_nodes) {
        if (node.placeholder) {
            CreateNodeWindow(node);
        }
    }
    PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(main_thread_id)),
                       kPlaceholdersBuilt, 0, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}

// The loader's record of a module as it is laid out on x86-64; winternl.h hides the base name.
struct LoaderEntry {
    LIST_ENTRY in_load_order;
    LIST_ENTRY in_memory_order;
    LIST_ENTRY in_initialization_order;
    void* dll_base;
    void* entry_point;
    ULONG size_of_image;
    UNICODE_STRING full_dll_name;
    UNICODE_STRING base_dll_name;
};

// Gives the executable another base name where other processes read it: the loader's record in
// this process's memory. The name may be longer than any file name could be.
void RenameMainModule(std::wstring& name) {
// GCC takes the segment read inside NtCurrentTeb for an access to an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
#pragma GCC diagnostic pop
    LIST_ENTRY* first = peb->Ldr->InMemoryOrderModuleList.Flink;
    auto* entry = CONTAINING_RECORD(first, LoaderEntry, in_memory_order);
    entry->base_dll_name.Buffer = name.data();
    entry->base_dll_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    entry->base_dll_name.MaximumLength = static_cast<USHORT>((name.size() + 1) * sizeof(wchar_t));
}

// Starts a child that shares this process's standard handles, as a browser passes its pipes to a
// native-messaging host.
void StartChild(std::wstring command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
}

void SignalReady() {
    if (g_options.ready_path.empty()) {
        return;
    }
    HANDLE file = CreateFileW(g_options.ready_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    g_options = ParseOptions();
    if (!g_options.base_name.empty()) {
        RenameMainModule(g_options.base_name);
    }
    HoldMemory(g_options.memory_mb);
    for (const std::wstring& child : g_options.children) {
        StartChild(child);
    }

    MSG msg;
    // Makes sure this thread has a queue before anything is posted to it.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    UINT_PTR exit_timer = 0;
    if (g_options.exit_after_s > 0) {
        exit_timer =
            SetTimer(nullptr, 0, static_cast<UINT>(g_options.exit_after_s * 1000), nullptr);
    }
    UINT_PTR growth_timer = 0;
    if (g_options.grow_mb > 0) {
        ReserveGrowth();
        growth_timer = SetTimer(nullptr, 0, kGrowthPeriodMs, nullptr);
    }

    bool waiting_for_placeholders = false;
    if (!g_options.no_window) {
        BuildTree();
        for (Node& node : g_nodes) {
            if (!node.placeholder) {
                CreateNodeWindow(node);
            }
        }
        HWND main_window = g_nodes.front().hwnd;
        ShowWindow(main_window, SW_SHOWNORMAL);
        UpdateWindow(main_window);
        SetForegroundWindow(main_window);
        SetFocus(main_window);
        if (!g_options.placeholders.empty()) {
            waiting_for_placeholders = true;
            const UINT_PTR main_thread_id = GetCurrentThreadId();
            CloseHandle(CreateThread(nullptr, 0, PlaceholderThread,
                                     reinterpret_cast<LPVOID>(main_thread_id), 0, nullptr));
        }
    }
    if (!waiting_for_placeholders) {
        SignalReady();
    }

    // Placeholders are children of windows on this thread, so creating them sends messages here:
    // the readiness wait has to go through this loop rather than block.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kPlaceholdersBuilt) {
            SignalReady();
        } else if (msg.hwnd == nullptr && msg.message == WM_TIMER && msg.wParam == growth_timer) {
            Grow();
        } else if (msg.hwnd == nullptr && msg.message == WM_TIMER && msg.wParam == exit_timer) {
            break;
        } else {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    g_ending = true;
    ExitProcess(0);
}
