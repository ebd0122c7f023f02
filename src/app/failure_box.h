#pragma once

#include <atomic>
#include <string_view>

#include "platform/shell.h"

// A message box that tells of a failure, owned by the controller. Its modal loop goes on
// dispatching the thread's messages, and the tick or command it dispatches may fail the same way
// again: so a box of its kind is shown only while none is open, and a failure meanwhile is not
// shown again.
class FailureBox {
  public:
    void Show(std::u16string_view text, platform::BoxIcon icon);

  private:
    std::atomic<bool> m_bOpen{false};
};

// Dismissing a box activates its owner, the hidden controller, even from another thread and
// after the box has returned: run when the controller has been activated, this gives the
// foreground back to the window the user was in when the box came up.
void HandBackForeground();
