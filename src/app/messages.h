#pragma once

// The names by which the add-on (and qelmctl) finds the controller and talks to it.
inline constexpr char16_t kControllerClassName[] = u"qelm";
inline constexpr char16_t kSingleInstanceProbeName[] = u"qelm-SingleInstance-UWM_QELM01";
inline constexpr char16_t kQelmMessageName[] = u"UWM_QELM_MSG-6FDBF489-1D15-4b5f-A649-CE4A18E8DD43";
inline constexpr char16_t kQelmExitMessageName[] =
    u"UWM_QELM_EXIT-AD2CF92B-A2F6-4828-B520-8ADDBCF85C1E";
