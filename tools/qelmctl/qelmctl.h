#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit codes of qelmctl.
enum QelmctlExit : int {
    kExitOk = 0,
    kExitFailed = 1,      // the request was carried out and did not succeed
    kExitUsage = 2,       // the command line is wrong; nothing was done
    kExitNotRunning = 3,  // there is no companion to talk to
    kExitNoAnswer = 4,    // the companion did not answer in time
};

// Runs qelmctl with its arguments (the program name left out), writing what it has to say to out
// and its complaints to err; answers the exit code.
int RunQelmctl(const std::vector<std::u16string>& arguments, std::ostream& out, std::ostream& err);
