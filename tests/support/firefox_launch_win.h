#pragma once

#include <windows.h>

#include <string>

// A native-messaging host started and ended the way Firefox for Windows does it (its subprocess
// module): created suspended, without a window, with inherited pipes for its three standard
// handles and its own folder as working folder; put into a job of its own whose only limit lets
// children break away; then resumed. Once the host has ended, or Firefox ends it, the job is
// terminated, which ends every process still in it.
namespace firefox {

// The only limit of the job Firefox puts a host into.
inline constexpr DWORD kHostJobLimits = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
// The exit code Firefox gives TerminateJobObject.
inline constexpr UINT kKilledExitCode = 0x7f;
// How long Firefox waits for a host to end after closing its input, before it kills it.
inline constexpr DWORD kEndWaitMs = 3000;

struct NativeHost {
    HANDLE process = nullptr;
    DWORD processId = 0;
    HANDLE job = nullptr;
    HANDLE input = nullptr;   // the writing end of the host's standard input
    HANDLE output = nullptr;  // the reading end of its standard output
    HANDLE error = nullptr;   // the reading end of its standard error
};

// What the host inherits: its three pipe ends alone, as Firefox for Windows passes them, or every
// inheritable handle of the launcher, with a second handle to the host's output among them, as an
// older browser or another launcher may pass them (Firefox for Linux keeps such a one to watch
// for the host's end).
enum class Inheritance { kPipesOnly, kEverything };

// Starts program (a full path) with the arguments in a job with jobLimits; false when it cannot
// be started, with GetLastError telling why.
bool StartNativeHost(const std::wstring& program, const std::wstring& arguments, DWORD jobLimits,
                     NativeHost& host, Inheritance inheritance = Inheritance::kPipesOnly);

// Closes the host's input, waits up to kEndWaitMs for it to end and kills it otherwise, then
// terminates its job: Firefox's side of a port that closes (an extension unloaded, the browser
// closing).
void CloseNativeHost(NativeHost& host);

// Terminates the job of a host that has ended, as Firefox does when it notices the end.
void TerminateHostJob(NativeHost& host);

// Closes every handle this side holds.
void ReleaseNativeHost(NativeHost& host);

}  // namespace firefox
