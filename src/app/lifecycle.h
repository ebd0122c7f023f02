#pragma once

#include <atomic>

// Set by StartRecovery, never cleared; gates the add-on's tab-selection command.
extern std::atomic<bool> g_bRecoveryStarted;

// Set by the first caller that goes on to end the process; any later caller only waits for the
// end, so the exit steps run once. Once it is set, the add-on's commands, the timer ticks and the
// metrics worker leave everything as the exit leaves it.
extern std::atomic<bool> g_bExitStarted;

// Begins memory recovery: workers, a first trim, the periodic timer, the metrics; runs once per
// process.
void StartRecovery();

// Disarms everything recovery set up and announces the stop; runs only on the way out.
void StopRecovery();

// Ends the process unless global mode is on, in which case nothing at all happens. Before the
// end: stop, the exit status for the add-on, the log entry and the exit tones.
void ExitProgram();

// The controller is going: ends the process as ExitProgram does, and in global mode, where
// ExitProgram keeps it running, ends it all the same without the exit steps.
[[noreturn]] void ExitWithoutController();
