#include "app/layered_dialog_win.h"

SetLayeredWindowAttributesFn g_pfnSetLayeredWindowAttributes = nullptr;

namespace {

SetLayeredWindowAttributesFn LookUpSetLayeredWindowAttributes() {
    const HMODULE user32 = GetModuleHandleW(L"USER32.DLL");
    if (user32 == nullptr) {
        return nullptr;
    }
    const FARPROC entry = GetProcAddress(user32, "SetLayeredWindowAttributes");
    // GetProcAddress hands out a generic pointer; the detour through void(*)() is the
    // sanctioned way to give it its real type.
    return reinterpret_cast<SetLayeredWindowAttributesFn>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace

CLayeredDialog::CLayeredDialog(UINT templateId, HWND parent)
    : m_templateId(templateId), m_parent(parent) {
    g_pfnSetLayeredWindowAttributes = LookUpSetLayeredWindowAttributes();
    if (g_pfnSetLayeredWindowAttributes == nullptr) {
        PostQuitMessage(0);
    }
}

CLayeredDialog::~CLayeredDialog() {
    if (IsWindow(Hwnd())) {
        DestroyWindow(Hwnd());
    }
}

INT_PTR CLayeredDialog::DoModal() {
    const bool parentWasEnabled = m_parent != nullptr && IsWindowEnabled(m_parent);
    if (parentWasEnabled) {
        EnableWindow(m_parent, FALSE);
    }
    const HWND dialog =
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                           DialogProc, reinterpret_cast<LPARAM>(this));
    const INT_PTR result = dialog != nullptr ? RunModalLoop() : -1;
    if (parentWasEnabled) {
        EnableWindow(m_parent, TRUE);
    }
    if (dialog != nullptr && IsWindow(dialog)) {
        DestroyWindow(dialog);
    }
    return result;
}

INT_PTR CLayeredDialog::RunModalLoop() {
    MSG message{};
    while (!m_bEnded) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // Leave the quit request for whoever runs the next loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            return -1;
        }
        if (got == -1) {
            return -1;
        }
        if (PreTranslateMessage(message)) {
            continue;
        }
        if (!IsDialogMessageW(Hwnd(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return m_result;
}

void CLayeredDialog::EndDialog(INT_PTR result) {
    m_result = result;
    m_bEnded = true;
    // Wakes the modal loop so that it sees the end.
    PostMessageW(Hwnd(), WM_NULL, 0, 0);
}

BOOL CLayeredDialog::OnInitDialog() {
    return TRUE;
}

bool CLayeredDialog::PreTranslateMessage(MSG&) {
    return false;
}

INT_PTR CALLBACK CLayeredDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CLayeredDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = platform::WindowHandle{reinterpret_cast<std::uintptr_t>(window)};
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CLayeredDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return dialog != nullptr ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CLayeredDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LBUTTONDOWN:
            OnLButtonDown(lParam);
            return FALSE;
        case WM_COMMAND:
            // Closing by the window system arrives as IDCANCEL (or IDOK) and ends the run.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void CLayeredDialog::OnLButtonDown(LPARAM point) {
    // Posted, not sent: the move loop starts after this handler has returned, as if the title
    // bar had been pressed. The point stays in client coordinates.
    if (m_bEasyMove) {
        PostMessageW(Hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(LOWORD(point), HIWORD(point)));
    }
}

bool CLayeredDialog::SetTransparentColor(COLORREF key, bool enable) {
    if (g_pfnSetLayeredWindowAttributes == nullptr) {
        return false;
    }
    const LONG style = GetWindowLongW(Hwnd(), GWL_EXSTYLE);
    if (enable) {
        SetWindowLongW(Hwnd(), GWL_EXSTYLE, style | WS_EX_LAYERED);
        g_pfnSetLayeredWindowAttributes(Hwnd(), key, 0, LWA_COLORKEY);
    } else {
        SetWindowLongW(Hwnd(), GWL_EXSTYLE, style & ~WS_EX_LAYERED);
        RedrawWindow(Hwnd(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    }
    return true;
}
