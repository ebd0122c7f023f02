#include <algorithm>
#include <cstring>

#include "fake/world.h"
#include "platform/registry.h"

namespace platform {

namespace {

constexpr std::int32_t kErrorFileNotFound = 2;
constexpr std::int32_t kErrorInvalidHandle = 6;

bool IsOpen(KeyHandle key) {
    return fake::TheWorld().openKeys.contains(key.value);
}

KeyHandle Open() {
    const KeyHandle key{fake::NewHandle()};
    fake::TheWorld().openKeys.insert(key.value);
    return key;
}

}  // namespace

std::int32_t OpenUserKey(const char16_t* subkey, KeyAccess access, KeyHandle& key) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("RegOpenKey " + fake::Narrow(subkey) + " " +
                 fake::Hex(static_cast<std::uint32_t>(access)));
    if (world.openError != 0) {
        return world.openError;
    }
    if (!world.keyExists) {
        return kErrorFileNotFound;
    }
    key = Open();
    return 0;
}

std::int32_t CreateUserKey(const char16_t* subkey, KeyHandle& key) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("RegCreateKey " + fake::Narrow(subkey));
    if (world.createError != 0) {
        return world.createError;
    }
    world.keyExists = true;
    key = Open();
    return 0;
}

std::int32_t QueryValue(KeyHandle key, const char16_t* name, std::uint32_t& type,
                        std::uint8_t* data, std::uint32_t& size) {
    const auto lock = fake::Lock();
    fake::Record("RegQueryValue " + fake::Narrow(name));
    if (!IsOpen(key)) {
        return kErrorInvalidHandle;
    }
    const fake::RegistryValue* value = fake::FindValue(name);
    if (value == nullptr) {
        return kErrorFileNotFound;
    }
    type = value->type;
    const auto length = static_cast<std::uint32_t>(value->data.size());
    if (data == nullptr) {
        size = length;
        return 0;
    }
    if (length > size) {
        size = length;
        return kErrorMoreData;
    }
    std::copy(value->data.begin(), value->data.end(), data);
    size = length;
    return 0;
}

std::int32_t SetValue(KeyHandle key, const char16_t* name, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t size) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("RegSetValue " + fake::Narrow(name) + " " + std::to_string(type) + " " +
                 std::to_string(size));
    if (!IsOpen(key)) {
        return kErrorInvalidHandle;
    }
    if (const auto error = world.setErrors.find(name); error != world.setErrors.end()) {
        return error->second;
    }
    fake::PutRaw(name, type, std::vector<std::uint8_t>(data, data + size));
    return 0;
}

std::int32_t FlushKey(KeyHandle key) {
    const auto lock = fake::Lock();
    fake::Record("RegFlushKey");
    return IsOpen(key) ? 0 : kErrorInvalidHandle;
}

void CloseKey(KeyHandle key) {
    const auto lock = fake::Lock();
    fake::Record("RegCloseKey");
    fake::TheWorld().openKeys.erase(key.value);
}

}  // namespace platform
