#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scenario/harness_win.h"
#include "support/firefox_launch_win.h"

using namespace scenario;

namespace {

// The real qelm-host.exe, started and ended as Firefox for Windows does it.
class HostProcess {
  public:
    explicit HostProcess(DWORD jobLimits = firefox::kHostJobLimits) {
        const std::wstring program = BinaryDirectory() + L"\\qelm-host.exe";
        EXPECT_TRUE(firefox::StartNativeHost(program, L"C:\\qelm.json qelm@extensions.example",
                                             jobLimits, host_))
            << "error " << GetLastError();
        HANDLE process = nullptr;
        DuplicateHandle(GetCurrentProcess(), host_.process, GetCurrentProcess(), &process, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        process_ = Child(process, host_.processId);
    }

    ~HostProcess() {
        firefox::CloseNativeHost(host_);
        firefox::ReleaseNativeHost(host_);
    }

    static std::string Framed(const std::string& json) {
        const auto count = static_cast<std::uint32_t>(json.size());
        std::string framed;
        for (int i = 0; i < 4; ++i) {
            framed.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
        }
        return framed + json;
    }

    // In pieces: one large write into a pipe can fail under Wine when the machine is busy.
    void Write(const std::string& bytes) {
        constexpr std::size_t kPiece = 16 * 1024;
        for (std::size_t sent = 0; sent < bytes.size();) {
            DWORD written = 0;
            const auto piece = static_cast<DWORD>(std::min(kPiece, bytes.size() - sent));
            if (!WriteFile(host_.input, bytes.data() + sent, piece, &written, nullptr)) {
                return;
            }
            sent += written;
        }
    }

    // The next reply; the status events that come before it are kept aside.
    std::string Read() {
        for (;;) {
            std::string message = ReadMessage();
            if (Contains(message, R"("ok":)")) {
                return message;
            }
            events_.push_back(std::move(message));
        }
    }

    std::string Ask(const std::string& json) {
        Write(Framed(json));
        return Read();
    }

    // The next status event, waiting for it when none has come yet.
    std::string NextEvent() {
        if (events_.empty()) {
            return ReadMessage();
        }
        std::string event = std::move(events_.front());
        events_.erase(events_.begin());
        return event;
    }

    // Firefox's end of the port: the host's input closed, then its job terminated.
    void Close() { firefox::CloseNativeHost(host_); }

    // The host killed (by the user, say); Firefox then notices its end and terminates its job.
    void Kill() {
        TerminateProcess(host_.process, 1);
        WaitForSingleObject(host_.process, INFINITE);
        firefox::TerminateHostJob(host_);
    }

    // Whether every writer of the host's standard output has gone, so that the browser sees
    // the port close.
    bool OutputClosed() const {
        DWORD available = 0;
        return !PeekNamedPipe(host_.output, nullptr, 0, nullptr, &available, nullptr) &&
               GetLastError() == ERROR_BROKEN_PIPE;
    }

    const Child& Process() const { return process_; }

  private:
    std::string ReadMessage() {
        const std::string count = ReadBytes(4);
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < count.size(); ++i) {
            length |= std::uint32_t{static_cast<unsigned char>(count[i])} << (8 * i);
        }
        return ReadBytes(length);
    }

    std::string ReadBytes(std::uint32_t count) {
        std::string bytes(count, '\0');
        std::uint32_t filled = 0;
        while (filled < count) {
            DWORD got = 0;
            if (!ReadFile(host_.output, bytes.data() + filled, count - filled, &got, nullptr) ||
                got == 0) {
                break;
            }
            filled += got;
        }
        bytes.resize(filled);
        return bytes;
    }

    firefox::NativeHost host_;
    Child process_;
    std::vector<std::string> events_;
};

}  // namespace

TEST(Host, AFramedSessionStartsAndDrivesTheCompanionAndEndsWithItsInput) {
    Child browser = StartBrowser();
    HostProcess host;

    EXPECT_EQ(host.Ask(R"({"id":1,"cmd":"hello"})"),
              R"({"id":1,"ok":true,"running":false,"version":"1.0.0.1"})");
    const std::string started = host.Ask(R"({"id":2,"cmd":"start"})");
    EXPECT_TRUE(Contains(started, R"("ok":true)") && Contains(started, R"("started":true)"))
        << started;
    const HWND controller = FindWindowW(L"qelm", nullptr);
    ASSERT_NE(controller, nullptr);
    DWORD companion = 0;
    GetWindowThreadProcessId(controller, &companion);
    EXPECT_TRUE(Contains(started, "\"pid\":" + std::to_string(companion))) << started;
    EXPECT_TRUE(Contains(host.Ask(R"({"id":3,"cmd":"start"})"), R"("started":false)"));

    const std::string set =
        host.Ask(R"({"id":"four","cmd":"set","values":{"activateKVDisplayEvents":1}})");
    EXPECT_EQ(set,
              R"({"id":"four","ok":true,"reloaded":true,"written":["activateKVDisplayEvents"]})");
    EXPECT_EQ(host.Ask(R"({"id":5,"cmd":"tab"})"), R"({"id":5,"ok":true,"reply":1})");
    EXPECT_TRUE(Eventually([] {
        return ReadText(L"activateEventComment")
            .value_or(L"")
            .starts_with(L"Memory Recovery Between A Tab Selection\nBrowser WorkingSetSize = ");
    }));
    const std::string status = host.Ask(R"({"id":6,"cmd":"status"})");
    EXPECT_TRUE(Contains(status, R"("comment":"Memory Recovery Between A Tab Selection\nBrowser)"))
        << status;
    EXPECT_TRUE(Contains(status, R"("activateKVDisplayEvents":1)")) << status;

    // The memory figures change every five seconds; each change comes as an event.
    std::string figures;
    for (int i = 0; i < 3 && !Contains(figures, R"("metrics":"Browser WorkingSetSize = )"); ++i) {
        figures = host.NextEvent();
    }
    EXPECT_TRUE(Contains(figures, R"("event":"status")") && Contains(figures, R"("running":true)"))
        << figures;
    EXPECT_TRUE(Contains(figures, R"("metrics":"Browser WorkingSetSize = )")) << figures;

    // Bad input is answered, and the host goes on.
    EXPECT_EQ(host.Ask("{\"id\":7,"), R"({"error":"the message is not JSON in UTF-8","ok":false})");
    host.Write(HostProcess::Framed(std::string(1024 * 1024 + 1, ' ')));
    EXPECT_TRUE(Contains(host.Read(), "is longer than the 1048576 bytes taken"));
    EXPECT_TRUE(
        Contains(host.Ask(R"({"id":8,"cmd":"fly"})"), R"("error":"unknown command \"fly\"")"));

    host.Close();
    EXPECT_EQ(host.Process().WaitForExit(1s), 0u);
    // Its job is terminated too, and the companion, outside it, goes on.
    Sleep(500);
    EXPECT_TRUE(IsWindow(controller));
}

TEST(Host, ACompanionStartedByAHostThatIsKilledRunsOnAndHoldsNoneOfItsPipes) {
    Child browser = StartBrowser();
    HostProcess host;
    EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"start"})"), R"("outlivesHost":true)"));
    const DWORD companion = ProcessIdOf(L"qelm.exe");
    ASSERT_NE(companion, 0u);

    host.Kill();
    EXPECT_TRUE(Eventually([&] { return host.OutputClosed(); }, 5s))
        << "a process still holds the host's standard output";
    Sleep(500);
    EXPECT_EQ(ProcessIdOf(L"qelm.exe"), companion);
    EXPECT_NE(FindWindowW(L"qelm", nullptr), nullptr);
}

TEST(Host, InAJobThatKeepsItsProcessesTheStartSaysTheCompanionEndsWithTheHost) {
    Child browser = StartBrowser();
    HostProcess host(0);
    const std::string started = host.Ask(R"({"id":1,"cmd":"start"})");
    EXPECT_TRUE(Contains(started, R"("started":true)") &&
                Contains(started, R"("outlivesHost":false)"))
        << started;

    host.Close();
    EXPECT_TRUE(Eventually([] { return ProcessIdOf(L"qelm.exe") == 0; }, 5s));
}
