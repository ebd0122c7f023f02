#pragma once

#include <functional>
#include <optional>
#include <string>

// Registering qelm-host.exe with Firefox for the current user: a manifest beside the host, and
// the registry value that tells Firefox where the manifest is.

// The one extension the host answers.
inline constexpr char kExtensionId[] = "qelm@qelm.org";

// Firefox looks up a native-messaging host by name under this key; its default value holds the
// full path of the host's manifest.
inline constexpr char16_t kHostRegistrationKey[] = u"Software\\Mozilla\\NativeMessagingHosts\\qelm";

// The per-user installer marks the registration it makes with this value: its version.
inline constexpr char16_t kInstallerValueName[] = u"QELM installer";

// Where the host and its manifest belong: beside the running program.
std::u16string HostPath();
std::u16string ManifestPath();

// The manifest that names the host: its name "qelm", its absolute path, stdio, the extension.
std::string HostManifest(const std::u16string& hostPath);

// The manifest path registered for Firefox; none when the host is not registered.
std::optional<std::u16string> RegisteredManifest();

// Whether a file exists at a full path.
using FileExistsAt = std::function<bool(const std::u16string& path)>;

// What keeps Firefox for Windows from starting the host through the manifest at manifestPath,
// whose text is manifestText (none: there is no such file), as a phrase about "its manifest"; none
// when Firefox can start it. A relative host path counts from the manifest's folder, as Firefox
// takes it.
std::optional<std::string> ManifestProblem(const std::u16string& manifestPath,
                                           const std::optional<std::string>& manifestText,
                                           const FileExistsAt& fileExists);

// The host as Firefox finds it: the manifest registered, and what keeps Firefox from starting the
// host through it.
struct HostRegistration {
    std::optional<std::u16string> manifest;   // none: not registered
    std::optional<std::string> problem;       // none: Firefox can start the host
    std::optional<std::u16string> installer;  // the installer's version; none: qelmctl install
};

HostRegistration ReadHostRegistration();

// The installer's version as its registration stands now, when the host it registered is the one
// beside the running program; none otherwise.
std::optional<std::u16string> InstallerVersion();

// Writes the manifest and registers it; the error line when either fails.
std::optional<std::string> InstallHost();

// Removes the registration and the manifest; answers whether there was anything to remove.
bool UninstallHost();
