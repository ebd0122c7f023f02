#pragma once

#include <cstdint>

// The add-on's command message: wParam is the command, lParam its argument. The reply is
// always 1.
std::intptr_t OnQelmMessage(std::uintptr_t wParam, std::intptr_t lParam);

// The add-on's exit message; replies 1 only when the program goes on running (global mode).
std::intptr_t OnQelmExit();
