#include "scenario/harness_win.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <utility>

namespace scenario {

namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\Qelm";

std::wstring Quote(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// Starts a program. Wine takes the child's debug channels from the environment it inherits.
Child Launch(const std::wstring& program, const std::wstring& arguments,
             const std::wstring& wineDebug) {
    std::wstring commandLine = Quote(program);
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    SetEnvironmentVariableW(L"WINEDEBUG", wineDebug.c_str());
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableW(L"WINEDEBUG", L"-all");
    if (!started) {
        ADD_FAILURE() << "cannot start " << std::string(program.begin(), program.end())
                      << ", error " << GetLastError();
        return {};
    }
    CloseHandle(info.hThread);
    return Child(info.hProcess, info.dwProcessId);
}

// A scenario that filters for no test at all must not pass unnoticed.
class SomeTestRan : public ::testing::Environment {
    void TearDown() override {
        if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
            ADD_FAILURE() << "no scenario matched the filter";
        }
    }
};
const auto* const kSomeTestRan = ::testing::AddGlobalTestEnvironment(new SomeTestRan);

}  // namespace

Child::Child(Child&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(other.id_) {}

Child& Child::operator=(Child&& other) noexcept {
    std::swap(process_, other.process_);
    std::swap(id_, other.id_);
    return *this;
}

Child::~Child() {
    if (process_ != nullptr) {
        CloseHandle(process_);
    }
}

bool Child::WaitUntilIdle(std::chrono::milliseconds timeout) const {
    return process_ != nullptr &&
           WaitForInputIdle(process_, static_cast<DWORD>(timeout.count())) == 0;
}

bool Child::Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Child::WaitForExit(std::chrono::milliseconds timeout) const {
    if (process_ == nullptr ||
        WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Child::Kill() {
    if (process_ != nullptr) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
}

std::wstring BinaryDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory = path;
    return directory.substr(0, directory.find_last_of(L"\\/"));
}

std::wstring ScenarioDirectory() {
    static const std::wstring directory = [] {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        std::wstring path =
            std::wstring(temp) + L"qelm-scenario-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }();
    return directory;
}

Child StartBrowser(const std::wstring& exeName, const std::wstring& arguments) {
    static std::atomic<int> started{0};
    const std::wstring directory = ScenarioDirectory() + L"\\browser" + std::to_wstring(++started);
    CreateDirectoryW(directory.c_str(), nullptr);
    const std::wstring program = directory + L"\\" + exeName;
    const std::wstring ready = directory + L"\\ready";
    if (!CopyFileW((BinaryDirectory() + L"\\fixture_browser.exe").c_str(), program.c_str(),
                   FALSE)) {
        ADD_FAILURE() << "cannot copy the fixture browser, error " << GetLastError();
        return {};
    }
    Child browser = Launch(program, arguments + L" --ready " + Quote(ready), L"-all");
    EXPECT_TRUE(Eventually([&] {
        return GetFileAttributesW(ready.c_str()) != INVALID_FILE_ATTRIBUTES;
    })) << "the fixture browser did not get ready";
    return browser;
}

Child StartQelm(const Start& start) {
    return Launch(BinaryDirectory() + L"\\qelm.exe", start.arguments, start.wineDebug);
}

CtlResult Qelmctl(const std::wstring& arguments, std::chrono::milliseconds timeout) {
    return RunProgram(BinaryDirectory() + L"\\qelmctl.exe", arguments, timeout);
}

CtlResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                     std::chrono::milliseconds timeout) {
    static std::atomic<int> runs{0};
    const std::wstring base = ScenarioDirectory() + L"\\run" + std::to_wstring(++runs);
    const std::wstring outPath = base + L".out";
    const std::wstring errPath = base + L".err";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto create = [&](const std::wstring& path) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = create(outPath);
    startup.hStdError = create(errPath);
    std::wstring commandLine = Quote(program) + L" " + arguments;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &info);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    CtlResult result;
    if (!started) {
        ADD_FAILURE() << "cannot start " << std::string(program.begin(), program.end())
                      << ", error " << GetLastError();
        return result;
    }
    CloseHandle(info.hThread);
    const Child run(info.hProcess, info.dwProcessId);
    const auto code = run.WaitForExit(timeout);
    EXPECT_TRUE(code.has_value()) << "the program did not end";
    result.exitCode = code.value_or(0xFFFFFFFF);
    // The console streams end lines with CR LF; the tests compare lines.
    for (auto [path, text] : {std::pair{&outPath, &result.out}, std::pair{&errPath, &result.err}}) {
        *text = ReadFile(*path);
        std::erase(*text, '\r');
    }
    return result;
}

HWND WaitForController(const Child& qelm, std::chrono::milliseconds timeout) {
    HWND controller = nullptr;
    Eventually([&] { return (controller = FindWindowW(L"qelm", nullptr)) != nullptr; }, timeout);
    // While start-up trims and messages the browser, the window already answers messages sent
    // to it; only an idle companion has finished starting.
    if (controller == nullptr || !qelm.WaitUntilIdle(timeout)) {
        return nullptr;
    }
    return controller;
}

UINT QelmMessage() {
    return RegisterWindowMessageW(L"UWM_QELM_MSG-6FDBF489-1D15-4b5f-A649-CE4A18E8DD43");
}

UINT QelmExitMessage() {
    return RegisterWindowMessageW(L"UWM_QELM_EXIT-AD2CF92B-A2F6-4828-B520-8ADDBCF85C1E");
}

std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                            std::chrono::milliseconds timeout) {
    DWORD_PTR reply = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL,
                            static_cast<UINT>(timeout.count()), &reply) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(reply);
}

bool KeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::vector<Value> KeyValues() {
    std::vector<Value> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD nameLength = 256;
        BYTE data[4096] = {};
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        values.push_back(Value{name, type, std::vector<BYTE>(data, data + size)});
    }
    RegCloseKey(key);
    return values;
}

std::optional<DWORD> ReadDword(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY, &type, &value, &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::wstring> ReadText(const wchar_t* name) {
    wchar_t text[4096] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, text,
                     &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return std::wstring(text, size / sizeof(wchar_t)).c_str();
}

void WriteDword(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_DWORD, &value, sizeof value);
}

void WriteText(const wchar_t* name, const std::wstring& text) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void DeleteKey() {
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

void StoreSetting(const wchar_t* name, DWORD value) {
    Child first = StartQelm();
    const HWND controller = WaitForController(first);
    ASSERT_NE(controller, nullptr) << "the first run of the companion did not come up";
    Send(controller, QelmExitMessage(), 0, 0, 3s);
    ASSERT_EQ(first.WaitForExit(10s), 0u) << "the first run of the companion did not end";
    WriteDword(name, value);
}

std::string WineLog() {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QELM_WINE_LOG", path, MAX_PATH) == 0) {
        ADD_FAILURE() << "QELM_WINE_LOG is not set: scenarios run through run-scenario";
        return {};
    }
    return ReadFile(path);
}

std::vector<RelayLine> RelayLines(const std::string& log, std::size_t from) {
    std::vector<RelayLine> lines;
    std::istringstream input(log.substr(std::min(from, log.size())));
    for (std::string text; std::getline(input, text);) {
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        RelayLine line;
        line.thread = text.substr(0, colon);
        const std::string rest = text.substr(colon + 1);
        if (rest.rfind("Call ", 0) == 0) {
            const std::size_t open = rest.find('(');
            const std::size_t close = rest.find(')', open);
            if (open == std::string::npos || close == std::string::npos) {
                continue;
            }
            line.function = rest.substr(5, open - 5);
            std::istringstream arguments(rest.substr(open + 1, close - open - 1));
            for (std::string argument; std::getline(arguments, argument, ',');) {
                line.arguments.push_back(argument);
            }
        } else if (rest.rfind("Ret  ", 0) == 0) {
            line.isReturn = true;
            line.function = rest.substr(5, rest.find('(') - 5);
            const std::size_t value = rest.find("retval=");
            if (value != std::string::npos) {
                line.returnValue = rest.substr(value + 7, rest.find(' ', value) - value - 7);
            }
        } else {
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

std::string RelayHex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%08llx", static_cast<unsigned long long>(value));
    return text;
}

DWORD ProcessIdOf(const wchar_t* exeName) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, exeName) == 0) {
            found = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream input(ReadFile(path));
    for (std::string line; std::getline(input, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string ReadFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

}  // namespace scenario
