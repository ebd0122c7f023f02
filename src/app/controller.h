#pragma once

#include <atomic>

#include "platform/handles.h"

// The part of a window object that the portable procedures see: its handle.
class CWnd {
  public:
    platform::WindowHandle m_hWnd{};
};

// The one controller window, set when its dialog initialisation runs. Its window is the target
// of every timer.
extern std::atomic<CWnd*> g_pController;

// The controller's window handle; none before its initialisation.
platform::WindowHandle ControllerWindow();
