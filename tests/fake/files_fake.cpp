#include "fake/world.h"
#include "platform/files.h"

namespace platform {

bool FileExists(const std::u16string& path) {
    const auto lock = fake::Lock();
    return fake::TheWorld().files.contains(path);
}

std::optional<std::string> ReadWholeFile(const std::u16string& path) {
    const auto lock = fake::Lock();
    const auto& files = fake::TheWorld().files;
    const auto file = files.find(path);
    return file != files.end() ? std::optional(file->second) : std::nullopt;
}

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
    const auto lock = fake::Lock();
    fake::Record("WriteFile " + fake::Narrow(path));
    fake::TheWorld().files[path] = std::string(bytes);
    return true;
}

bool RemoveFile(const std::u16string& path) {
    const auto lock = fake::Lock();
    fake::Record("DeleteFile " + fake::Narrow(path));
    return fake::TheWorld().files.erase(path) != 0;
}

}  // namespace platform
