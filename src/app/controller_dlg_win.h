#pragma once

#include <windows.h>

#include "app/layered_dialog_win.h"

// The registered messages of the add-on, registered while the process starts.
extern const UINT UWM_QELM_MSG;
extern const UINT UWM_QELM_EXIT;

inline constexpr UINT kControllerDialogTemplate = 102;
inline constexpr UINT kControllerIcon = 128;

// The system's only window: a modal dialog that is never visible, has no taskbar button and
// cannot be closed from the keyboard. It owns the thread's message queue, so it receives the
// add-on's messages and the timers, and it carries out start-up once its window exists.
class CControllerDlg : public CLayeredDialog {
  public:
    explicit CControllerDlg(HWND parent);
    ~CControllerDlg() override;

  protected:
    BOOL OnInitDialog() override;
    bool PreTranslateMessage(MSG& message) override;
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    bool OnPaint();
    INT_PTR OnCtlColor(HDC context, UINT message);
    INT_PTR Reply(LRESULT result);

    HICON m_hIcon;
    bool m_bAllowShow;
    HBRUSH m_brBackground;
};
