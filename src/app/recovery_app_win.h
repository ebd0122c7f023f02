#pragma once

#include <windows.h>

#include "app/messages.h"

#include <string>
#include <utility>
#include <vector>

// The application object: brings the process up and runs the controller dialog, whose modal run
// lasts for the life of the process.
class CRecoveryApp {
  public:
    // Always false: the process normally ends inside the exit procedure before this returns.
    BOOL InitInstance();

  private:
    void ParseCommandLine();
    bool RegisterDialogClass();

    // Each switch with the parameter that follows it; no switch changes anything.
    std::vector<std::pair<std::wstring, std::wstring>> m_switches;
    const char16_t* m_pszClassName = kControllerClassName;
};
