#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"
#include "platform/input.h"
#include "platform/processes.h"
#include "platform/threads.h"

// The in-memory world behind the fake platform: tests arrange it, call the system's own
// procedures, then inspect it and the journal of every platform call in order.
namespace fake {

struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

struct Process {
    std::uint32_t id = 0;
    std::u16string name;
    bool openable = true;       // OpenProcess with full access succeeds
    bool queryOpenable = true;  // OpenProcess with query and read access succeeds
    bool modulesReadable = true;
    bool trimRefused = false;
    std::uint64_t workingSetBytes = 0;
    bool countersReadable = true;
    std::uint32_t parentId = 0;
    std::uint64_t createdAt = 0;
    std::uint32_t sessionId = 1;
    std::uint64_t privateBytes = 0;
    std::optional<std::uint64_t> privateWorkingSetBytes = std::nullopt;
    std::uint32_t threadCount = 1;
    bool ended = false;  // has ended, and is still held open
};

// A window of the desktop. The windows of the world are kept in Z order: a window's children
// are the windows naming it as parent, in the order they appear.
struct Window {
    platform::WindowHandle handle;
    std::optional<std::uintptr_t> reply;  // the answer to every message; none: sends time out
    bool maximized = false;
    platform::WindowHandle parent;  // none: a top-level window
    std::u16string className;
    std::u16string title;
    bool gone = false;            // destroyed meanwhile: reads as empty class and title
    std::uint32_t processId = 0;  // the process that owns the window
    platform::Rect client;
};

struct SentMessage {
    platform::WindowHandle window;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::uint32_t flags = 0;
    std::uint32_t timeoutMs = 0;

    friend bool operator==(const SentMessage&, const SentMessage&) = default;
};

struct StartedThread {
    platform::ThreadProcedure procedure = nullptr;
    void* parameter = nullptr;
};

struct World {
    // The key SOFTWARE\Qelm of the current user, its values in the order they were created.
    bool keyExists = false;
    std::vector<std::pair<std::u16string, RegistryValue>> values;
    std::int32_t openError = 0;                        // non-zero: every open fails with it
    std::int32_t createError = 0;                      // non-zero: creating the key fails with it
    std::map<std::u16string, std::int32_t> setErrors;  // value name -> error of its write
    std::set<std::uintptr_t> openKeys;
    // The current user's keys besides SOFTWARE\Qelm, by path, with their values by name ("" is
    // the default value), and the open handles of those keys.
    std::map<std::u16string, std::map<std::u16string, RegistryValue>> otherKeys;
    std::map<std::uintptr_t, std::u16string> otherKeyHandles;

    // Files by their full path.
    std::map<std::u16string, std::string> files;

    std::vector<Process> processes;
    bool processListFails = false;
    std::function<void()> onProcessesListed;                // runs as the listing is handed over
    std::map<std::uintptr_t, std::uint32_t> openProcesses;  // handle -> process id
    // Runs after each trim with the trimmed process's identifier (the own one for itself), so
    // that a test can change the world in the middle of a walk.
    std::function<void(std::uint32_t)> onTrim;
    std::uint32_t ownProcessId = 4242;
    std::u16string ownDirectory = u"C:\\QELM";
    // Programs started: the hook runs with its path and answers the process it added, if any;
    // otherwise the program gets the next identifier, of a process that has ended at once.
    bool programsFail = false;
    std::uint32_t nextProgramId = 7000;
    std::function<std::uint32_t(const std::u16string&)> onProgramStarted;
    bool debugPrivilegeEnabled = false;

    std::vector<Window> windows;
    std::vector<SentMessage> sent;
    platform::Point cursor;
    platform::WindowHandle windowUnderCursor;
    platform::WindowHandle foreground;
    bool cursorUnreadable = false;

    // Some: the largest block the process heap still provides.
    std::optional<std::size_t> heapLimitBytes;

    platform::MemoryStatus memoryStatus;
    bool memoryStatusFails = false;
    // Runs as the memory status is read, in the middle of a metrics pass.
    std::function<void()> onMemoryStatus;

    std::uint32_t mutexLastError = 0;
    bool eventsFail = false;
    // Some: how many events are created before every further creation fails.
    std::optional<std::size_t> eventsCreatableBeforeFailure;
    std::size_t eventsCreated = 0;

    std::map<std::uintptr_t, bool> eventSignalled;  // event handle -> signalled
    bool waitsFail = false;
    // Runs as a thread begins a wait, before its outcome is decided, so that a test can act while
    // a worker waits.
    std::function<void()> onWait;
    std::vector<StartedThread> threads;
    // When set, started threads really run, waits really block until their event is signalled
    // (or the threads are stopped), and every pause lasts a real millisecond.
    bool realThreads = false;
    std::optional<std::size_t> threadsCreatableBeforeFailure;
    std::uint64_t virtualTimeMs = 0;
    // Runs after each pause of a thread, so that a test can change the world while a loop runs.
    std::function<void()> onPause;

    std::map<std::u16string, std::uint32_t> registeredMessages;

    std::map<std::uintptr_t, std::uint32_t> timers;  // armed timer id -> period in ms
    bool timersFail = false;
    // Runs with the id once a timer is armed, before SetTimer returns: the timer may fire and its
    // tick run right then.
    std::function<void(std::uintptr_t)> onTimerArmed;

    std::vector<std::u16string> messageBoxes;
    // Runs while a box is open, as its modal loop dispatches the thread's queued messages.
    std::function<void()> onMessageBoxOpen;
    std::vector<std::u16string> debugOutput;
    bool eventSourceAvailable = true;
    std::vector<std::u16string> eventLog;
    std::u16string standardOutput;
    std::optional<std::uint32_t> exitCode;

    // Every platform call in order, one line each.
    std::vector<std::string> journal;

    std::uintptr_t nextHandle = 0x100;
};

World& TheWorld();

// A fresh, empty world; the system's own process-wide state is not touched.
void ResetWorld();

// Thrown by the fake ExitProcess and runtime exit, so that the test regains control.
struct ProcessEnded {
    std::uint32_t exitCode;
    bool throughRuntime;
};

// Thrown by the fake wait when the event is not signalled: the thread would block for good.
struct ThreadBlocked {};

// Thrown by the fake wait for the process's end, which another caller is bringing about.
struct AwaitingEnd {};

// Ends every thread started while World::realThreads was set: their waits give up, and the
// threads are joined. Safe to call when none runs.
void StopThreads();

// Every fake platform call holds this lock, so that threads of a test may share the world.
std::unique_lock<std::recursive_mutex> Lock();

// Adds a line to the journal.
void Record(std::string line);

// Narrows UTF-16 text made of ASCII characters, for journal lines and test messages.
std::string Narrow(std::u16string_view text);

// "0x" and the value in lower-case hexadecimal, as journal lines show numbers.
std::string Hex(std::uint64_t value);

// The journal lines that begin with prefix.
std::vector<std::string> JournalLines(const std::string& prefix);

// Helpers to arrange and inspect the registry.
void PutDword(std::u16string_view name, std::int32_t value);
void PutText(std::u16string_view name, std::u16string_view text, bool terminated = false);
// A REG_SZ value holding the text, as a key other than the shared one keeps it.
RegistryValue TextValue(std::u16string_view text, bool terminated = false);
void PutRaw(std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
void RemoveValue(std::u16string_view name);
const RegistryValue* FindValue(std::u16string_view name);

// Helpers to arrange the desktop: a window with class and title below parent (none: top-level).
platform::WindowHandle AddWindow(std::u16string className, std::u16string title,
                                 platform::WindowHandle parent = {});
Window* FindWindow(platform::WindowHandle handle);

// Adds a process with a name and returns its identifier.
std::uint32_t AddProcess(std::u16string name, std::uint64_t workingSetBytes = 0);

std::uintptr_t NewHandle();

}  // namespace fake
