#include "host_install.h"

#include <algorithm>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "recovery/process_walk.h"
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

namespace {

// A text value of the registration key; none when it cannot be read.
std::optional<std::u16string> RegistrationText(const char16_t* name) {
    platform::KeyHandle key;
    if (platform::OpenUserKey(kHostRegistrationKey, platform::KeyAccess::kQuery, key) != 0) {
        return std::nullopt;
    }
    std::u16string text;
    const bool read = QueryStringValue(key, name, &text) == 0;
    platform::CloseKey(key);
    return read ? std::optional(text) : std::nullopt;
}

bool IsAbsoluteWindowsPath(std::u16string_view path) {
    const auto isSeparator = [](char16_t c) { return c == u'\\' || c == u'/'; };
    const bool drive = path.size() >= 3 && path[1] == u':' && isSeparator(path[2]);
    const bool share = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
    return drive || share;
}

std::u16string HostProgramPath(const std::u16string& manifestPath, const std::u16string& path) {
    if (IsAbsoluteWindowsPath(path)) {
        return path;
    }
    const auto folderEnd = manifestPath.find_last_of(u"\\/");
    const std::u16string folder =
        folderEnd == std::u16string::npos ? u"" : manifestPath.substr(0, folderEnd + 1);
    return folder + path;
}

bool Says(const nlohmann::json& manifest, const char* field, const char* text) {
    const auto value = manifest.find(field);
    return value != manifest.end() && *value == text;
}

bool AdmitsTheExtension(const nlohmann::json& manifest) {
    const auto allowed = manifest.find("allowed_extensions");
    return allowed != manifest.end() && allowed->is_array() &&
           std::find(allowed->begin(), allowed->end(), kExtensionId) != allowed->end();
}

}  // namespace

std::optional<std::u16string> RegisteredManifest() {
    return RegistrationText(u"");
}

std::optional<std::string> ManifestProblem(const std::u16string& manifestPath,
                                           const std::optional<std::string>& manifestText,
                                           const FileExistsAt& fileExists) {
    const std::string its = "its manifest " + ToUtf8(manifestPath);
    if (!manifestText) {
        return its + " does not exist";
    }
    const auto manifest = nlohmann::json::parse(*manifestText, nullptr, false);
    if (!manifest.is_object()) {
        return its + " is not a JSON object";
    }
    if (!Says(manifest, "name", "qelm")) {
        return its + " does not say \"name\": \"qelm\"";
    }
    if (!Says(manifest, "type", "stdio")) {
        return its + " does not say \"type\": \"stdio\"";
    }
    if (!AdmitsTheExtension(manifest)) {
        return its + " does not admit the extension " + kExtensionId;
    }
    const auto path = manifest.find("path");
    if (path == manifest.end() || !path->is_string()) {
        return its + " names no host program (\"path\")";
    }
    const std::u16string host = HostProgramPath(manifestPath, FromUtf8(path->get<std::string>()));
    if (!fileExists(host)) {
        return its + " names no qelm-host.exe that exists: " + ToUtf8(host);
    }
    return std::nullopt;
}

HostRegistration ReadHostRegistration() {
    HostRegistration registration{RegisteredManifest(), std::nullopt,
                                  RegistrationText(kInstallerValueName)};
    if (registration.manifest) {
        registration.problem =
            ManifestProblem(*registration.manifest, platform::ReadWholeFile(*registration.manifest),
                            platform::FileExists);
    }
    return registration;
}

std::optional<std::u16string> InstallerVersion() {
    const auto manifest = RegisteredManifest();
    if (!manifest || !EqualsIgnoringAsciiCase(*manifest, ManifestPath())) {
        return std::nullopt;
    }
    return RegistrationText(kInstallerValueName);
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
