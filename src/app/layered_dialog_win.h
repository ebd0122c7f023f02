#pragma once

#include <windows.h>

#include "app/controller.h"

using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

// The entry point of "SetLayeredWindowAttributes" in USER32.DLL, or none on a system without
// layered windows; resolved again by every construction of a layered dialog.
extern SetLayeredWindowAttributesFn g_pfnSetLayeredWindowAttributes;

// A dialog from a template, run modally with its own message loop, whose pixels of one colour
// can be made transparent and which drags by a left-button press anywhere in it. Erasing and
// sizing get the dialog manager's default processing.
class CLayeredDialog : public CWnd {
  public:
    CLayeredDialog(UINT templateId, HWND parent);
    virtual ~CLayeredDialog();
    CLayeredDialog(const CLayeredDialog&) = delete;
    CLayeredDialog& operator=(const CLayeredDialog&) = delete;

    // Creates the dialog and runs it until it ends; -1 when it cannot be created.
    INT_PTR DoModal();

    // Switches colour-key transparency on or off; false when the platform has no layered windows.
    bool SetTransparentColor(COLORREF key, bool enable);

  protected:
    HWND Hwnd() const { return reinterpret_cast<HWND>(m_hWnd.value); }

    // WM_INITDIALOG; answers TRUE so that the dialog manager sets the default focus.
    virtual BOOL OnInitDialog();

    // Sees every message of the modal loop first; true when it has dealt with the message.
    virtual bool PreTranslateMessage(MSG& message);

    // The dialog procedure's work for one message, returning what the dialog procedure returns:
    // FALSE gives the message default processing.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Ends the modal run with the result.
    void EndDialog(INT_PTR result);

    bool m_bEasyMove = true;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR RunModalLoop();
    void OnLButtonDown(LPARAM point);

    UINT m_templateId;
    HWND m_parent;
    bool m_bEnded = false;
    INT_PTR m_result = 0;
};
