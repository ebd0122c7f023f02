#include "app/controller_dlg_win.h"

#include "app/commands.h"
#include "app/failure_box.h"
#include "app/lifecycle.h"
#include "app/startup.h"
#include "app/timers.h"
#include "settings/diagnostics.h"
#include "settings/settings.h"

namespace {

// The background colour, which is also the transparency key: the window shows nothing.
constexpr COLORREF kKeyColour = RGB(1, 1, 1);

// Posted to itself when the window has been activated.
constexpr UINT kHandBackForeground = WM_APP + 1;

}  // namespace

CControllerDlg::CControllerDlg(HWND parent)
    : CLayeredDialog(kControllerDialogTemplate, parent),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kControllerIcon))),
      m_bAllowShow(false),
      m_brBackground(CreateSolidBrush(kKeyColour)) {
    if (g_settings.GetEventLogging()) {
        LogRequirement(u"Requirement: [ QELM Ctor ]");
    }
    g_msPerSecond.store(1000, std::memory_order_relaxed);
}

// The process ends here, before the object is gone, so nothing can reach a controller that no
// longer exists; the brush and the rest go with the process.
CControllerDlg::~CControllerDlg() {
    ExitWithoutController();
}

BOOL CControllerDlg::OnInitDialog() {
    CLayeredDialog::OnInitDialog();
    g_pController.store(this, std::memory_order_relaxed);
    CheckBrowserAtStartup();
    // Never activated: the browser keeps the foreground and the keyboard focus.
    SetWindowPos(Hwnd(), nullptr, -100, -100, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowLongW(Hwnd(), GWL_EXSTYLE, GetWindowLongW(Hwnd(), GWL_EXSTYLE) & ~WS_EX_APPWINDOW);
    SetTransparentColor(kKeyColour, true);
    SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowTextW(Hwnd(), L"Lumbrel");
    PrepareSettingsAndStart();
    // The dialog has no control, so a default focus would land on the dialog itself and take the
    // keyboard from the browser.
    return FALSE;
}

bool CControllerDlg::PreTranslateMessage(MSG& message) {
    // Neither Enter nor Escape may end the dialog.
    if (message.message == WM_KEYDOWN &&
        (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
        message.wParam = 0;
    }
    return CLayeredDialog::PreTranslateMessage(message);
}

INT_PTR CControllerDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == UWM_QELM_MSG) {
        return Reply(OnQelmMessage(wParam, lParam));
    }
    if (message == UWM_QELM_EXIT) {
        return Reply(OnQelmExit());
    }
    switch (message) {
        case WM_PAINT:
            return OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return OnCtlColor(reinterpret_cast<HDC>(wParam), message);
        case WM_TIMER:
            DispatchTimer(wParam);
            return TRUE;
        case WM_ACTIVATE:
            // Handed on once the activation is complete.
            if (LOWORD(wParam) != WA_INACTIVE) {
                PostMessageW(Hwnd(), kHandBackForeground, 0, 0);
            }
            return FALSE;
        case kHandBackForeground:
            HandBackForeground();
            return TRUE;
        case WM_WINDOWPOSCHANGING:
            if (!m_bAllowShow) {
                reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
            }
            return FALSE;
        default:
            return CLayeredDialog::HandleMessage(message, wParam, lParam);
    }
}

// Only a minimised window draws anything itself: its icon, centred.
bool CControllerDlg::OnPaint() {
    if (!IsIconic(Hwnd())) {
        return false;
    }
    PAINTSTRUCT paint{};
    const HDC context = BeginPaint(Hwnd(), &paint);
    SendMessageW(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(context, x, y, m_hIcon);
    EndPaint(Hwnd(), &paint);
    return true;
}

INT_PTR CControllerDlg::OnCtlColor(HDC context, UINT message) {
    switch (message) {
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            return FALSE;
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(m_brBackground);
        default:
            SetBkColor(context, kKeyColour);
            return FALSE;
    }
}

INT_PTR CControllerDlg::Reply(LRESULT result) {
    SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, result);
    return TRUE;
}
