#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario/harness_win.h"

using namespace scenario;

namespace {

// The real qelm-host.exe with pipes for its standard input and output, as Firefox runs it.
class HostProcess {
  public:
    HostProcess() {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE childInput = nullptr;
        HANDLE childOutput = nullptr;
        CreatePipe(&childInput, &input_, &inheritable, 0);
        CreatePipe(&output_, &childOutput, &inheritable, 0);
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        const std::wstring program = BinaryDirectory() + L"\\qelm-host.exe";
        std::wstring commandLine = L"\"" + program + L"\" C:\\qelm.json qelm@extensions.example";
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                   nullptr, nullptr, &startup, &info));
        CloseHandle(childInput);
        CloseHandle(childOutput);
        CloseHandle(info.hThread);
        process_ = Child(info.hProcess, info.dwProcessId);
    }

    ~HostProcess() {
        CloseInput();
        CloseHandle(output_);
    }

    static std::string Framed(const std::string& json) {
        const auto count = static_cast<std::uint32_t>(json.size());
        std::string framed;
        for (int i = 0; i < 4; ++i) {
            framed.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
        }
        return framed + json;
    }

    void Write(const std::string& bytes) {
        DWORD written = 0;
        WriteFile(input_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
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

    void CloseInput() {
        if (input_ != nullptr) {
            CloseHandle(input_);
            input_ = nullptr;
        }
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
            if (!ReadFile(output_, bytes.data() + filled, count - filled, &got, nullptr) ||
                got == 0) {
                break;
            }
            filled += got;
        }
        bytes.resize(filled);
        return bytes;
    }

    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
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

    host.CloseInput();
    EXPECT_EQ(host.Process().WaitForExit(1s), 0u);
    EXPECT_TRUE(IsWindow(controller));
}
