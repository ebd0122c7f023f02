#include <windows.h>

#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "scenario/harness_win.h"
#include "scenario/host_process_win.h"

using namespace scenario;

namespace {

constexpr wchar_t kUpgradeCode[] = L"{5860A15F-DA20-4A52-95D9-CA28C868AF89}";
constexpr wchar_t kHostKey[] = L"Software\\Mozilla\\NativeMessagingHosts\\qelm";
constexpr wchar_t kExtensionsKey[] = L"Software\\Mozilla\\Firefox\\Extensions";

// The package a test installs, as ctest names it: this build's, or one of a higher version.
std::wstring Package(const wchar_t* variable) {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(variable, path, MAX_PATH) == 0) {
        ADD_FAILURE() << "the environment names no package: run the installer scenarios by ctest";
    }
    return path;
}

// msiexec's exit code: 0 for a finished installation or removal.
DWORD Msiexec(const std::wstring& arguments) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return RunProgram(std::wstring(system) + L"\\msiexec.exe", arguments + L" /qn", 120s).exitCode;
}

DWORD Install(const wchar_t* package) {
    return Msiexec(L"/i \"" + Package(package) + L"\"");
}

std::wstring Expanded(const wchar_t* text) {
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(text, expanded, MAX_PATH);
    return expanded;
}

const std::wstring& UserPrograms() {
    static const std::wstring folder = Expanded(L"%LOCALAPPDATA%\\Programs");
    return folder;
}

const std::wstring& InstallFolder() {
    static const std::wstring folder = UserPrograms() + L"\\QELM";
    return folder;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A text value of a key under HKCU (the key's default value for an empty name).
std::optional<std::wstring> UserText(const wchar_t* key, const wchar_t* name) {
    wchar_t text[1024] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return text;
}

bool UserKeyExists(const wchar_t* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

// The installed products of QELM's upgrade code, as Settings > Apps lists them.
struct Product {
    std::wstring name;
    std::wstring version;
    std::wstring publisher;
    bool operator==(const Product&) const = default;
};

std::wstring ProductInfo(const wchar_t* code, const wchar_t* property) {
    wchar_t value[256] = {};
    DWORD length = 256;
    MsiGetProductInfoW(code, property, value, &length);
    return value;
}

std::vector<Product> InstalledProducts() {
    std::vector<Product> products;
    wchar_t code[39] = {};
    for (DWORD i = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i) {
        products.push_back({ProductInfo(code, INSTALLPROPERTY_INSTALLEDPRODUCTNAME),
                            ProductInfo(code, INSTALLPROPERTY_VERSIONSTRING),
                            ProductInfo(code, INSTALLPROPERTY_PUBLISHER)});
    }
    return products;
}

// The release the installer installed (Settings > Apps shows it in Windows Installer's form).
std::wstring InstalledRelease() {
    return UserText(kHostKey, L"QELM installer").value_or(L"");
}

std::vector<std::wstring> InstalledFiles(const std::wstring& version) {
    return {L"README.txt",    L"qelm-" + version + L".xpi",
            L"qelm-host.exe", L"qelm.exe",
            L"qelm.json",     L"qelmctl.exe"};
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

}  // namespace

TEST(Installer, InstallsForTheUserAndFirefoxFindsAndStartsTheHost) {
    ASSERT_EQ(Install(L"QELM_MSI"), 0u);

    const auto products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0].name, L"QELM");
    EXPECT_EQ(products[0].publisher, L"QELM");
    const std::wstring version = InstalledRelease();
    EXPECT_EQ(FilesIn(InstallFolder()), InstalledFiles(version));
    EXPECT_EQ(UserText(kHostKey, nullptr), InstallFolder() + L"\\qelm.json");
    EXPECT_EQ(UserText(kExtensionsKey, L"qelm@qelm.org"),
              InstallFolder() + L"\\qelm-" + version + L".xpi");

    // Firefox for Windows starts the installed host through the installed manifest.
    Child browser = StartBrowser();
    HostProcess host(firefox::kHostJobLimits, InstallFolder() + L"\\qelm-host.exe");
    EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"hello"})"), R"("ok":true)"));
    const std::string started = host.Ask(R"({"id":2,"cmd":"start"})");
    EXPECT_TRUE(Contains(started, R"("started":true)") &&
                Contains(started, R"("outlivesHost":true)"))
        << started;
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const HANDLE companion =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessIdOf(L"qelm.exe"));
    QueryFullProcessImageNameW(companion, 0, image, &length);
    CloseHandle(companion);
    EXPECT_EQ(std::wstring(image), InstallFolder() + L"\\qelm.exe");

    const CtlResult status = RunProgram(InstallFolder() + L"\\qelmctl.exe", L"status");
    EXPECT_TRUE(Contains(status.out, "The browser's host is installed by the QELM installer " +
                                         Narrow(version) + ": " + Narrow(InstallFolder()) +
                                         "\\qelm.json"))
        << status.out;
}

TEST(Installer, AHigherVersionReplacesTheInstalledOneInPlaceAndKeepsTheSettings) {
    ASSERT_EQ(Install(L"QELM_MSI"), 0u);
    WriteDword(L"tabDelay", 3);
    WriteText(L"blacklist", L"notepad.exe");
    const std::wstring first = InstalledRelease();
    Child browser = StartBrowser();
    HostProcess host(firefox::kHostJobLimits, InstallFolder() + L"\\qelm-host.exe");
    EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"start"})"), R"("started":true)"));
    const DWORD oldCompanion = ProcessIdOf(L"qelm.exe");
    ASSERT_NE(oldCompanion, 0u);

    ASSERT_EQ(Install(L"QELM_MSI_NEXT"), 0u);

    // The running programs of the older version were ended before its files were replaced, and
    // the new host starts the companion again from the new files.
    ExpectClosedForTheInstaller(host);
    EXPECT_EQ(ProcessIdOf(L"qelm.exe"), 0u);
    HostProcess newHost(firefox::kHostJobLimits, InstallFolder() + L"\\qelm-host.exe");
    EXPECT_TRUE(Contains(newHost.Ask(R"({"id":1,"cmd":"start"})"), R"("started":true)"));
    EXPECT_NE(ProcessIdOf(L"qelm.exe"), oldCompanion);

    const auto products = InstalledProducts();
    ASSERT_EQ(products.size(), 1u);
    const std::wstring next = InstalledRelease();
    EXPECT_NE(next, first);
    EXPECT_EQ(FilesIn(InstallFolder()), InstalledFiles(next));
    EXPECT_TRUE(Contains(ReadFile(InstallFolder() + L"\\README.txt"), Narrow(next)));
    EXPECT_EQ(UserText(kHostKey, nullptr), InstallFolder() + L"\\qelm.json");
    EXPECT_EQ(UserText(kExtensionsKey, L"qelm@qelm.org"),
              InstallFolder() + L"\\qelm-" + next + L".xpi");
    EXPECT_EQ(ReadDword(L"tabDelay"), 3u);
    EXPECT_EQ(ReadText(L"blacklist"), L"notepad.exe");
}

TEST(Installer, AnOlderVersionRefusesToInstallOverANewerOneAndLeavesItAsItWas) {
    ASSERT_EQ(Install(L"QELM_MSI_NEXT"), 0u);
    const auto installed = [] {
        return std::tuple(InstalledProducts(), FilesIn(InstallFolder()),
                          ReadFile(InstallFolder() + L"\\README.txt"), InstalledRelease(),
                          UserText(kExtensionsKey, L"qelm@qelm.org"));
    };
    const auto newer = installed();

    const std::wstring log = Expanded(L"%TEMP%\\downgrade.log");
    EXPECT_EQ(Msiexec(L"/i \"" + Package(L"QELM_MSI") + L"\" /l*v \"" + log + L"\""), 1603u);

    // Refused for the newer product it found, not for a fault of its own.
    EXPECT_TRUE(Contains(ReadFile(log), "WIX_DOWNGRADE_DETECTED = {"));
    EXPECT_EQ(installed(), newer);
}

TEST(Installer, UninstallEndsTheCompanionAndRemovesAllOfItsOwnButTheSettings) {
    const bool programsExisted = Exists(UserPrograms());
    ASSERT_EQ(Install(L"QELM_MSI"), 0u);
    Child browser = StartBrowser();
    HostProcess host(firefox::kHostJobLimits, InstallFolder() + L"\\qelm-host.exe");
    EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"start"})"), R"("started":true)"));
    ASSERT_NE(ProcessIdOf(L"qelm.exe"), 0u);

    EXPECT_EQ(Msiexec(L"/x \"" + Package(L"QELM_MSI") + L"\""), 0u);

    // The browser's host said why it closes, and ended by itself; the companion was asked to end,
    // and its exit status went with it: a profile that missed the closing must not read the end
    // as a deliberate stop.
    ExpectClosedForTheInstaller(host);
    EXPECT_EQ(ProcessIdOf(L"qelm.exe"), 0u);
    EXPECT_EQ(ReadText(L"activateEventMemoryMetrics"), std::nullopt);
    EXPECT_EQ(ReadDword(L"startKVX"), 0u);
    EXPECT_TRUE(InstalledProducts().empty());
    EXPECT_FALSE(Exists(InstallFolder()));
    EXPECT_EQ(Exists(UserPrograms()), programsExisted);
    EXPECT_FALSE(UserKeyExists(kHostKey));
    EXPECT_FALSE(UserText(kExtensionsKey, L"qelm@qelm.org"));
    EXPECT_TRUE(KeyExists());
}

// The new installer's own qelmctl closes the programs of the release it replaces, whatever that
// release installed: here no qelmctl at all, as from a release before the installer closed QELM.
TEST(Installer, AnUpgradeFromThePreviousReleaseClosesItsHostWithItsOwnQelmctl) {
    if (!Exists(Package(L"QELM_MSI_PREVIOUS"))) {
        GTEST_SKIP() << "no installer of the previous release (tests/package/previous)";
    }
    ASSERT_EQ(Install(L"QELM_MSI_PREVIOUS"), 0u);
    const std::wstring previous = InstalledRelease();
    Child browser = StartBrowser();
    HostProcess host(firefox::kHostJobLimits, InstallFolder() + L"\\qelm-host.exe");
    EXPECT_TRUE(Contains(host.Ask(R"({"id":1,"cmd":"start"})"), R"("started":true)"));
    const DWORD companion = ProcessIdOf(L"qelm.exe");
    ASSERT_TRUE(DeleteFileW((InstallFolder() + L"\\qelmctl.exe").c_str()));

    ASSERT_EQ(Install(L"QELM_MSI_NEXT"), 0u);

    ExpectClosedForTheInstaller(host);
    EXPECT_EQ(ProcessIdOf(L"qelm.exe"), 0u);
    const std::wstring next = InstalledRelease();
    EXPECT_EQ(FilesIn(InstallFolder()), InstalledFiles(next));
    std::cout << "release " << Narrow(previous) << ": host " << host.Process().Id()
              << " and companion " << companion << " closed by the installer of " << Narrow(next)
              << "\n";
}
