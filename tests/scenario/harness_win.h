#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a scenario needs to drive the real companion under Wine as the add-on would: start
// programs, find the controller window, send the add-on's messages, read the shared key.
namespace scenario {

using namespace std::chrono_literals;

// A program started by the scenario. The prefix's wineserver ends whatever is left running.
class Child {
  public:
    Child() = default;
    Child(HANDLE process, DWORD id) : process_(process), id_(id) {}
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    ~Child();

    DWORD Id() const { return id_; }
    bool Running() const;
    // The exit code once the process has ended within the time-out, none otherwise.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) const;
    void Kill();
    // Whether the process came to wait for input, with nothing left to do, within the time-out.
    bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

  private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Options for starting the companion.
struct Start {
    std::wstring arguments{};
    std::wstring wineDebug = L"-all";  // Wine's debug channels for the companion
};

// The directory of the scenario program, where qelm.exe and the fixture are built.
std::wstring BinaryDirectory();

// A fresh directory for this scenario's files.
std::wstring ScenarioDirectory();

// Starts the fixture browser copied under exeName with its arguments and waits until its
// windows exist.
Child StartBrowser(const std::wstring& exeName = L"firefox.exe",
                   const std::wstring& arguments = L"");

// Starts qelm.exe.
Child StartQelm(const Start& start = {});

// What a run of qelmctl.exe printed and answered.
struct CtlResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// Runs qelmctl.exe with the arguments and waits for it to end.
CtlResult Qelmctl(const std::wstring& arguments, std::chrono::milliseconds timeout = 30s);

// Runs a program (a full path) with the arguments, its output into files, and waits for its end.
CtlResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                     std::chrono::milliseconds timeout = 30s);

// The controller window of the companion once it exists and its start-up has run to the end,
// so that the companion waits for messages; none after the time-out.
HWND WaitForController(const Child& qelm, std::chrono::milliseconds timeout = 10s);

// The ids of the add-on's two registered messages in this prefix.
UINT QelmMessage();
UINT QelmExitMessage();

// Sends a message as the add-on does; the reply, or none when there was no reply in time.
std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            std::chrono::milliseconds timeout = 5s);

// The shared key as the add-on reads it.
struct Value {
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
};
bool KeyExists();
std::vector<Value> KeyValues();
std::optional<DWORD> ReadDword(const wchar_t* name);
std::optional<std::wstring> ReadText(const wchar_t* name);
void WriteDword(const wchar_t* name, DWORD value);
void WriteText(const wchar_t* name, const std::wstring& text);
void DeleteKey();

// Stores a setting as the add-on does before the companion starts: a first run of the companion
// creates the key with its defaults and is then asked to exit. Needs a running browser.
void StoreSetting(const wchar_t* name, DWORD value);

// Everything Wine has traced in this scenario so far, the traces of the companion's debug
// channels among it.
std::string WineLog();

// One call that Wine's relay channel traced: "Call DLL.Function(arguments)" and, for its return,
// "Ret  DLL.Function() retval=value".
struct RelayLine {
    std::string thread;
    bool isReturn = false;
    std::string function;                // e.g. "KERNEL32.OpenProcess"
    std::vector<std::string> arguments;  // hexadecimal, as Wine prints them
    std::string returnValue;             // hexadecimal; returns only
};

// The relay lines of the log, in order, from the given byte offset on.
std::vector<RelayLine> RelayLines(const std::string& log, std::size_t from = 0);

// A number as the relay channel prints it: lower-case hexadecimal, at least 8 digits.
std::string RelayHex(std::uint64_t value);

// The identifier of the first process with this executable name, 0 when none runs.
DWORD ProcessIdOf(const wchar_t* exeName);

// Whether part occurs in text.
inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The lines of a text file, without their line ends.
std::vector<std::string> ReadLines(const std::wstring& path);

// The whole content of a text file (UTF-8 or ASCII), empty when it does not exist.
std::string ReadFile(const std::wstring& path);

// Polls condition every 50 ms until it holds or the time-out passes; answers whether it held.
template <class Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

}  // namespace scenario
