#pragma once

#include <atomic>

// Set by StartRecovery, never cleared; gates the add-on's tab-selection command.
extern std::atomic<bool> g_bRecoveryStarted;

// Begins memory recovery; runs once per process.
void StartRecovery();

// Ends the process unless global mode is on, in which case nothing at all happens.
void ExitProgram();
