#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The settings in memory. They start with the values below, which differ from the registry
// defaults in places, and change through the loader, the add-on's commands and the fresh reads
// of "global". Every value a worker may read is an atomic, written and read whole.
class Settings {
  public:
    void SetApp1(std::int32_t value) { app1.store(value != 0, kOrder); }
    bool GetApp1() const { return app1.load(kOrder); }

    void SetVisualAcc(std::int32_t value) { visualAcc.store(value != 0, kOrder); }
    bool GetVisualAcc() const { return visualAcc.load(kOrder); }

    void SetDisplayEvents(std::int32_t value) {
        dwActivateKVDisplayEvents.store(value != 0, kOrder);
    }
    bool GetDisplayEvents() const { return dwActivateKVDisplayEvents.load(kOrder); }

    void SetGlobal(std::int32_t value) { global.store(value != 0, kOrder); }
    bool GetGlobal() const { return global.load(kOrder); }

    void SetRunCount(std::int32_t value) {
        dw_nRunCnt.store(value, kOrder);
        runCountSet.store(value != 0, kOrder);
    }
    std::int32_t GetRunCount() const { return dw_nRunCnt.load(kOrder); }

    void SetOnStartup(std::int32_t value) { onStartup.store(value != 0, kOrder); }
    bool GetOnStartup() const { return onStartup.load(kOrder); }

    void SetStartupDelay(std::int32_t minutes) { nQELMStartupDelay.store(minutes, kOrder); }
    std::int32_t GetStartupDelay() const { return nQELMStartupDelay.load(kOrder); }

    // 0 stands for the shortest delay, a tenth of a minute.
    void SetTabDelay(std::int32_t minutes) {
        dwTabDelay.store(minutes == 0 ? 0.1f : static_cast<float>(minutes), kOrder);
    }
    float GetTabDelay() const { return dwTabDelay.load(kOrder); }

    void SetPrimaryTimeout(std::int32_t minutes) { dwPrimaryTimeout.store(minutes, kOrder); }
    std::int32_t GetPrimaryTimeout() const { return dwPrimaryTimeout.load(kOrder); }

    void SetEventLogging(std::int32_t value) { eventLogging.store(value != 0, kOrder); }
    bool GetEventLogging() const { return eventLogging.load(kOrder); }

    void SetCurrentVersion(float version) { currentVersion.store(version, kOrder); }
    float GetCurrentVersion() const { return currentVersion.load(kOrder); }

    // The blacklist is written by the loader and read by the global trim, both on the
    // controller's thread.
    void SetBlacklist(std::u16string text) { blackList = std::move(text); }
    std::u16string GetBlacklist() const { return blackList; }

    // The last raw "global" read, kept by the fresh reads of that value.
    std::atomic<std::int32_t> dwLastGlobal{0};

  private:
    static constexpr auto kOrder = std::memory_order_relaxed;

    std::atomic<bool> app1{true};
    std::atomic<bool> visualAcc{false};
    std::atomic<bool> dwActivateKVDisplayEvents{false};
    std::atomic<bool> global{false};
    std::atomic<std::int32_t> dw_nRunCnt{0};
    std::atomic<bool> runCountSet{false};
    std::atomic<bool> onStartup{false};
    std::atomic<std::int32_t> nQELMStartupDelay{0};
    std::atomic<float> dwTabDelay{0.0f};
    std::atomic<std::int32_t> dwPrimaryTimeout{1};
    std::atomic<bool> eventLogging{false};
    std::atomic<float> currentVersion{0.0f};
    std::u16string blackList;
};

extern Settings g_settings;
