#pragma once

#include <atomic>

#include "platform/handles.h"

// The browser's main window and its inner window as the last window search found them; none
// when not found. A handle may name a window that has since gone.
extern std::atomic<platform::WindowHandle> g_hBrowserWindow;
extern std::atomic<platform::WindowHandle> g_hBrowserChildWindow;

// Whether the window is a browser main window: of one of the two main-window classes, with one
// of the browser marks in its title.
bool IsBrowserWindow(platform::WindowHandle window);

// The first window below the desktop that is a browser main window, or none.
platform::WindowHandle FindBrowserWindow();

// Finds the browser's main and inner windows afresh, and on the way tells the Flash
// placeholders inside the browser's content windows to let go.
void FindBrowserWindows();

// Sends every Flash placeholder below the content window WM_KILLFOCUS, then WM_DESTROY.
void DismissFlashPlaceholders(platform::WindowHandle contentWindow);
