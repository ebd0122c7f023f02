#include "app/controller.h"

std::atomic<CWnd*> g_pController{nullptr};

platform::WindowHandle ControllerWindow() {
    const CWnd* controller = g_pController.load(std::memory_order_relaxed);
    return controller != nullptr ? controller->m_hWnd : platform::WindowHandle{};
}
