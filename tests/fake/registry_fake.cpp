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

bool IsQelmKey(std::u16string_view subkey) {
    return subkey == u"SOFTWARE\\Qelm";
}

KeyHandle OpenOther(const char16_t* subkey) {
    const KeyHandle key = Open();
    fake::TheWorld().otherKeyHandles[key.value] = subkey;
    return key;
}

// The values of another key that the handle has open; null for SOFTWARE\Qelm.
std::map<std::u16string, fake::RegistryValue>* OtherValues(KeyHandle key) {
    auto& world = fake::TheWorld();
    const auto path = world.otherKeyHandles.find(key.value);
    return path == world.otherKeyHandles.end() ? nullptr : &world.otherKeys[path->second];
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
    if (!IsQelmKey(subkey)) {
        if (!world.otherKeys.contains(subkey)) {
            return kErrorFileNotFound;
        }
        key = OpenOther(subkey);
        return 0;
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
    if (!IsQelmKey(subkey)) {
        world.otherKeys[subkey];
        key = OpenOther(subkey);
        return 0;
    }
    world.keyExists = true;
    key = Open();
    return 0;
}

std::int32_t DeleteUserKey(const char16_t* subkey) {
    const auto lock = fake::Lock();
    auto& world = fake::TheWorld();
    fake::Record("RegDeleteKey " + fake::Narrow(subkey));
    if (IsQelmKey(subkey)) {
        const bool existed = world.keyExists;
        world.keyExists = false;
        world.values.clear();
        return existed ? 0 : kErrorFileNotFound;
    }
    return world.otherKeys.erase(subkey) != 0 ? 0 : kErrorFileNotFound;
}

std::int32_t QueryValue(KeyHandle key, const char16_t* name, std::uint32_t& type,
                        std::uint8_t* data, std::uint32_t& size) {
    const auto lock = fake::Lock();
    fake::Record("RegQueryValue " + fake::Narrow(name));
    if (!IsOpen(key)) {
        return kErrorInvalidHandle;
    }
    const fake::RegistryValue* value = fake::FindValue(name);
    if (auto* other = OtherValues(key)) {
        const auto found = other->find(name);
        value = found == other->end() ? nullptr : &found->second;
    }
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
    if (auto* other = OtherValues(key)) {
        (*other)[name] = fake::RegistryValue{type, std::vector<std::uint8_t>(data, data + size)};
        return 0;
    }
    fake::PutRaw(name, type, std::vector<std::uint8_t>(data, data + size));
    return 0;
}

std::int32_t DeleteValue(KeyHandle key, const char16_t* name) {
    const auto lock = fake::Lock();
    fake::Record("RegDeleteValue " + fake::Narrow(name));
    if (!IsOpen(key)) {
        return kErrorInvalidHandle;
    }
    if (auto* other = OtherValues(key)) {
        return other->erase(name) != 0 ? 0 : kErrorFileNotFound;
    }
    if (fake::FindValue(name) == nullptr) {
        return kErrorFileNotFound;
    }
    fake::RemoveValue(name);
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
    fake::TheWorld().otherKeyHandles.erase(key.value);
}

}  // namespace platform
