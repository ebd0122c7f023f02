#include "host_install.h"

#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "settings/registry_channel.h"
#include "text.h"

std::u16string HostPath() {
    return platform::OwnDirectory() + u"\\qelm-host.exe";
}

std::u16string ManifestPath() {
    return platform::OwnDirectory() + u"\\qelm.json";
}

std::string HostManifest(const std::u16string& hostPath) {
    const nlohmann::ordered_json manifest = {
        {"name", "qelm"},
        {"description", "Starts and drives QELM, the browser's memory companion"},
        {"path", ToUtf8(hostPath)},
        {"type", "stdio"},
        {"allowed_extensions", {kExtensionId}},
    };
    return manifest.dump(2) + "\n";
}

std::optional<std::u16string> RegisteredManifest() {
    platform::KeyHandle key;
    if (platform::OpenUserKey(kHostRegistrationKey, platform::KeyAccess::kQuery, key) != 0) {
        return std::nullopt;
    }
    std::u16string path;
    const bool read = QueryStringValue(key, u"", &path) == 0;
    platform::CloseKey(key);
    return read ? std::optional(path) : std::nullopt;
}

std::optional<std::string> InstallHost() {
    const std::u16string host = HostPath();
    if (!platform::FileExists(host)) {
        return ToUtf8(host) + " is missing: qelm-host.exe must lie beside qelmctl.exe";
    }
    const std::u16string manifest = ManifestPath();
    if (!platform::WriteWholeFile(manifest, HostManifest(host))) {
        return "cannot write " + ToUtf8(manifest);
    }
    platform::KeyHandle key;
    if (platform::CreateUserKey(kHostRegistrationKey, key) != 0) {
        return "cannot create HKCU\\" + ToUtf8(kHostRegistrationKey);
    }
    // Firefox reads this value with the usual terminator, so it is written with one.
    const auto written = platform::SetValue(
        key, u"", platform::kRegSz, reinterpret_cast<const std::uint8_t*>(manifest.c_str()),
        static_cast<std::uint32_t>((manifest.size() + 1) * sizeof(char16_t)));
    if (written == 0) {
        platform::FlushKey(key);
    }
    platform::CloseKey(key);
    if (written != 0) {
        return "cannot write HKCU\\" + ToUtf8(kHostRegistrationKey);
    }
    return std::nullopt;
}

bool UninstallHost() {
    const bool registered = platform::DeleteUserKey(kHostRegistrationKey) == 0;
    const bool manifest = platform::RemoveFile(ManifestPath());
    return registered || manifest;
}
