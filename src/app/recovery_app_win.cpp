#include "app/recovery_app_win.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include "app/controller_dlg_win.h"
#include "app/messages.h"
#include "app/startup.h"
#include "app/wake_events.h"
#include "platform/desktop.h"
#include "platform/shell.h"
#include "platform/wide_win.h"

namespace {

// Without its wake-up events the program cannot work at all, so it does not start.
bool CreateWakeEventsOrEnd() {
    if (!CreateWakeEvents()) {
        platform::EndProcess(0);
    }
    return true;
}

}  // namespace

// The process-wide objects, constructed in this order before anything else runs. A second copy
// ends inside the mutex's construction, before it has built anything more.
const UINT UWM_QELM01 = platform::RegisterMessageName(kSingleInstanceProbeName);
const platform::MutexHandle g_hSingleInstanceMutex = TakeSingleInstanceMutex(UWM_QELM01);
CRecoveryApp theApp;
const UINT UWM_QELM_MSG = platform::RegisterMessageName(kQelmMessageName);
const UINT UWM_QELM_EXIT = platform::RegisterMessageName(kQelmExitMessageName);
const bool g_bWakeEventsCreated = CreateWakeEventsOrEnd();

namespace {

constexpr wchar_t kHostFrameClass[] = L"qelm-host-frame";

bool IsSwitch(const wchar_t* argument) {
    return argument[0] == L'-' || argument[0] == L'/';
}

HWND CreateHostFrame() {
    WNDCLASSW frameClass{};
    frameClass.lpfnWndProc = DefWindowProcW;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.lpszClassName = kHostFrameClass;
    RegisterClassW(&frameClass);
    return CreateWindowExW(0, kHostFrameClass, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

void CRecoveryApp::ParseCommandLine() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return;
    }
    for (int i = 1; i < count; ++i) {
        if (!IsSwitch(arguments[i])) {
            continue;
        }
        const bool hasParameter = i + 1 < count && !IsSwitch(arguments[i + 1]);
        m_switches.emplace_back(arguments[i] + 1, hasParameter ? arguments[i + 1] : L"");
    }
    LocalFree(arguments);
}

// The controller's template names the class "qelm": the system dialog class under our name.
bool CRecoveryApp::RegisterDialogClass() {
    WNDCLASSW dialogClass{};
    if (!GetClassInfoW(GetModuleHandleW(nullptr), L"#32770", &dialogClass)) {
        return false;
    }
    dialogClass.lpszClassName = platform::Wide(m_pszClassName);
    return RegisterClassW(&dialogClass) != 0;
}

BOOL CRecoveryApp::InitInstance() {
    ParseCommandLine();
    // Control containment and three-dimensional controls are part of today's dialog manager;
    // only the common controls need initialising.
    InitCommonControls();
    if (FAILED(OleInitialize(nullptr))) {
        platform::ShowMessageBox({}, u"Initializing OLE Failed", platform::BoxIcon::kNone);
        return FALSE;
    }
    if (!RegisterDialogClass()) {
        return FALSE;
    }
    const HWND hostFrame = CreateHostFrame();
    auto* controller = new CControllerDlg(hostFrame);
    if (controller->DoModal() == -1) {
        platform::ShowMessageBox({}, u"QELM Dialog could not be created!",
                                 platform::BoxIcon::kNone);
    }
    DestroyWindow(hostFrame);
    delete controller;
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    theApp.InitInstance();
    return 0;
}
