// qelm-host.exe: the native-messaging host that Firefox starts for the QELM extension. It reads
// framed requests from its standard input and writes one framed reply to each on its standard
// output, with a status event whenever the shared key changes or the companion ends, and it
// ends when the input ends or the installer is about to remove or replace its file. It never ends
// the companion, which follows the browser by its own watchdog.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "companion.h"
#include "framing.h"
#include "requests.h"
#include "status_events.h"

namespace {

// The replies and the events share the one standard output.
SRWLOCK g_outputLock = SRWLOCK_INIT;

// The companion writes several values at a time; one event tells the state after them all.
constexpr DWORD kBurstMs = 50;

// The companion whose end the status watcher waits for (0: none), and the signal that makes it
// look again: a companion started with a start-up delay writes nothing to the key, so nothing
// else wakes the watcher to wait for its end.
std::atomic<std::uint32_t> g_watchedProcess{0};
HANDLE g_lookAgain = nullptr;

// Writes the whole message; false when the browser has gone.
bool Send(HANDLE output, const nlohmann::json& message) {
    const std::string framed = Framed(ReplyText(message));
    AcquireSRWLockExclusive(&g_outputLock);
    std::size_t sent = 0;
    bool written = true;
    while (written && sent < framed.size()) {
        DWORD count = 0;
        written = WriteFile(output, framed.data() + sent, static_cast<DWORD>(framed.size() - sent),
                            &count, nullptr) &&
                  count > 0;
        sent += count;
    }
    ReleaseSRWLockExclusive(&g_outputLock);
    return written;
}

nlohmann::json Answer(const Incoming& incoming) {
    return incoming.error ? Refusal(*incoming.error) : HandleRequest(incoming.json);
}

// The shared key opened for change notifications; while it is missing, the key it would appear
// in.
HKEY OpenWatchedKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Qelm", 0, KEY_NOTIFY, &key) != ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE", 0, KEY_NOTIFY, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

// Sends a status event after every change of the key and at the companion's end. It waits for
// those alone, so with nothing changing it costs nothing.
DWORD WINAPI WatchStatus(LPVOID output) {
    StatusEvents events;
    const HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (;;) {
        const HKEY key = OpenWatchedKey();
        if (key != nullptr) {
            RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                    changed, TRUE);
        }
        const auto companion = FindCompanion();
        const HANDLE running =
            companion ? OpenProcess(SYNCHRONIZE, FALSE, companion->processId) : nullptr;
        g_watchedProcess.store(running != nullptr ? companion->processId : 0,
                               std::memory_order_relaxed);
        // Checked after the watch is set, so that no change falls between the two.
        if (const auto event = events.Next(); event && !Send(output, *event)) {
            return 0;
        }
        const HANDLE waits[] = {changed, g_lookAgain, running};
        WaitForMultipleObjects(running != nullptr ? 3 : 2, waits, FALSE, INFINITE);
        if (running != nullptr) {
            CloseHandle(running);
        }
        if (key != nullptr) {
            RegCloseKey(key);
        }
        Sleep(kBurstMs);
    }
}

// A reply that names a companion the watcher does not wait for (one just started, here or by
// another program) has it look again, so that the companion's end reaches the browser.
void LookAgainIfUnwatched(const nlohmann::json& reply) {
    const auto pid = reply.find("pid");
    if (pid != reply.end() && pid->is_number_unsigned() &&
        pid->get<std::uint32_t>() != g_watchedProcess.load(std::memory_order_relaxed)) {
        SetEvent(g_lookAgain);
    }
}

// Waits for the installer's word that QELM's files are about to be removed or replaced, then
// tells the browser why the port closes and ends, so that this program's file is free and the
// browser starts no companion from it meanwhile. A host started while the word stands ends at
// once. The word is only waited for, so only that is asked of it: a qelmctl run elevated makes
// it with a security that may grant this user no more than a wait, or nothing; a word that
// refuses even a wait can only come from an installer closing the hosts now.
DWORD WINAPI WatchForInstaller(LPVOID output) {
    const HANDLE closing =
        CreateEventExW(nullptr, reinterpret_cast<const wchar_t*>(kCloseHostsEventName),
                       CREATE_EVENT_MANUAL_RESET, SYNCHRONIZE);
    const bool refused = closing == nullptr && GetLastError() == ERROR_ACCESS_DENIED;
    if (!refused &&
        (closing == nullptr || WaitForSingleObject(closing, INFINITE) != WAIT_OBJECT_0)) {
        return 0;
    }
    Send(output, {{"event", "closing"}, {"reason", "installer"}});
    ExitProcess(0);
}

}  // namespace

// Firefox passes the manifest's path and the extension's id; neither changes anything.
int wmain(int, wchar_t**) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    g_lookAgain = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, WatchForInstaller, output, 0, nullptr));
    CloseHandle(CreateThread(nullptr, 0, WatchStatus, output, 0, nullptr));
    FrameReader reader;
    static char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            break;
        }
        reader.Append(std::string_view(buffer, got));
        while (const auto incoming = reader.Next()) {
            const nlohmann::json reply = Answer(*incoming);
            if (!Send(output, reply)) {
                ExitProcess(0);
            }
            LookAgainIfUnwatched(reply);
        }
    }
    if (const auto cut = reader.AtEnd()) {
        Send(output, Answer(*cut));
    }
    // The watcher is still waiting; ending the process ends it.
    ExitProcess(0);
}
