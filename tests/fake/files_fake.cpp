#include "fake/world.h"
#include "platform/files.h"

namespace platform {

bool FileExists(const std::u16string& path) {
    const auto lock = fake::Lock();
    return fake::TheWorld().files.contains(path);
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
