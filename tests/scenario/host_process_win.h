#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "scenario/harness_win.h"
#include "support/firefox_launch_win.h"

namespace scenario {

// A qelm-host.exe (the build's, unless another is named), started and ended as Firefox for
// Windows does it, with the framed messages of native messaging both ways.
class HostProcess {
  public:
    // What Firefox passes a host: its manifest's path and the extension's id.
    static constexpr wchar_t kHostArguments[] = L"C:\\qelm.json qelm@extensions.example";

    explicit HostProcess(DWORD jobLimits = firefox::kHostJobLimits,
                         const std::wstring& program = BinaryDirectory() + L"\\qelm-host.exe",
                         firefox::Inheritance inheritance = firefox::Inheritance::kPipesOnly,
                         const std::wstring& arguments = kHostArguments) {
        EXPECT_TRUE(firefox::StartNativeHost(program, arguments, jobLimits, host_, inheritance))
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
            if (!::ReadFile(host_.output, bytes.data() + filled, count - filled, &got, nullptr) ||
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

// The installer's word reached the host of a browser: it said why its port closes, and ended.
// Its end is waited for first: a host that never heard the word then fails here, not in a read
// that never returns.
inline void ExpectClosedForTheInstaller(HostProcess& host) {
    ASSERT_EQ(host.Process().WaitForExit(5s), 0u) << "the host did not close for the installer";
    std::string message = host.NextEvent();
    for (int i = 0; i < 10 && Contains(message, R"("event":"status")"); ++i) {
        message = host.NextEvent();
    }
    EXPECT_EQ(message, R"({"event":"closing","reason":"installer"})");
}

}  // namespace scenario
