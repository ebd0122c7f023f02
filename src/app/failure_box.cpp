#include "app/failure_box.h"

#include "app/controller.h"
#include "platform/desktop.h"

namespace {

// The window the user was in when the latest box came up.
std::atomic<platform::WindowHandle> g_hUserWindow{};

// Closes the box's turn however the box ends, so that the next failure is shown again.
class OpenBox {
  public:
    explicit OpenBox(std::atomic<bool>& open) : m_open(open) {}
    ~OpenBox() { m_open.store(false); }
    OpenBox(const OpenBox&) = delete;
    OpenBox& operator=(const OpenBox&) = delete;

  private:
    std::atomic<bool>& m_open;
};

}  // namespace

void FailureBox::Show(std::u16string_view text, platform::BoxIcon icon) {
    if (m_bOpen.exchange(true)) {
        return;
    }
    const OpenBox open(m_bOpen);
    if (const auto foreground = platform::ForegroundWindow();
        foreground && foreground != ControllerWindow()) {
        g_hUserWindow.store(foreground);
    }
    platform::ShowMessageBox(ControllerWindow(), text, icon);
}

void HandBackForeground() {
    const auto userWindow = g_hUserWindow.load();
    if (userWindow && platform::ForegroundWindow() == ControllerWindow()) {
        platform::BringToForeground(userWindow);
    }
}
