#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// One-shot timers of the controller window. A variable holds SetTimer's result while its timer
// is armed and 0 otherwise; arming an armed timer does nothing, so a running countdown is never
// restarted.
extern std::atomic<std::uintptr_t> m_TimerID_1;
extern std::atomic<std::uintptr_t> m_TimerID_2;
extern std::atomic<std::uintptr_t> m_TimerID_3;
extern std::atomic<std::uintptr_t> m_TimerID_4;
extern std::atomic<std::uintptr_t> m_TimerID_5;
extern std::atomic<std::uintptr_t> m_TimerID_6;

// The variables of the timers 501 to 506, in that order.
inline const std::array<std::atomic<std::uintptr_t>*, 6> kTimerVariables = {
    &m_TimerID_1, &m_TimerID_2, &m_TimerID_3, &m_TimerID_4, &m_TimerID_5, &m_TimerID_6};
inline constexpr std::uintptr_t kFirstTimerId = 501;

extern std::atomic<std::int32_t> g_msPerSecond;
extern std::atomic<std::int32_t> g_msPerMinute;

inline constexpr std::uintptr_t kPeriodicTimerId = 502;
inline constexpr std::uintptr_t kTabDelayTimerId = 505;
inline constexpr std::uintptr_t kStartupDelayTimerId = 506;

// unit × argument in extended precision, truncated toward zero, as SetTimer takes it: a negative
// period is a huge unsigned one, and everything beyond 0x7FFFFFFF ms is cut to that.
std::uint32_t TimerPeriodMs(std::int64_t unitMs, float argument);

// Arms timer 502 for the periodic interval in seconds.
void ArmPeriodicTimer(float seconds);

// Arms timer 505 for the tab delay in minutes.
void ArmTabDelayTimer(float minutes);

// Arms timer 506 for the start-up delay in minutes.
void ArmStartupDelayTimer(float minutes);

// Kills every armed timer, 501 to 506 in ascending order, and marks it disarmed.
void KillArmedTimers();

// Runs the tick handler of the timer id; other ids are ignored.
void DispatchTimer(std::uintptr_t id);

// Timer 502: the periodic recovery.
void OnPeriodicTick();

// Timer 505: the delayed tab-selection recovery.
void OnTabDelayTick();

// Timer 506: the end of the start-up delay.
void OnStartupDelayTick();

// The tab-selection recovery after its timer is gone: run by timer 505 and, when there is no tab
// delay, at once by the add-on's command.
void RunTabSelectionRecovery();
