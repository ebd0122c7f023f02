#include "fake/world.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fake {

namespace {

char16_t Fold(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c;
}

// Registry value names ignore case.
bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

}  // namespace

World& TheWorld() {
    static World world;
    return world;
}

void ResetWorld() {
    const auto lock = Lock();
    TheWorld() = World{};
}

std::unique_lock<std::recursive_mutex> Lock() {
    static std::recursive_mutex mutex;
    return std::unique_lock<std::recursive_mutex>(mutex);
}

void Record(std::string line) {
    const auto lock = Lock();
    TheWorld().journal.push_back(std::move(line));
}

std::string Narrow(std::u16string_view text) {
    std::string narrow;
    for (const char16_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::vector<std::string> JournalLines(const std::string& prefix) {
    std::vector<std::string> lines;
    for (const auto& line : TheWorld().journal) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

void PutRaw(std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    auto& world = TheWorld();
    world.keyExists = true;
    for (auto& [existing, value] : world.values) {
        if (SameName(existing, name)) {
            value = RegistryValue{type, std::move(data)};
            return;
        }
    }
    world.values.emplace_back(std::u16string(name), RegistryValue{type, std::move(data)});
}

void PutDword(std::u16string_view name, std::int32_t value) {
    std::vector<std::uint8_t> data(4);
    std::memcpy(data.data(), &value, 4);
    PutRaw(name, 4, std::move(data));
}

RegistryValue TextValue(std::u16string_view text, bool terminated) {
    std::vector<std::uint8_t> data(text.size() * 2 + (terminated ? 2 : 0), 0);
    // Empty text may come with a null pointer, which memcpy must not get even for no bytes.
    if (!text.empty()) {
        std::memcpy(data.data(), text.data(), text.size() * 2);
    }
    return RegistryValue{1, std::move(data)};
}

void PutText(std::u16string_view name, std::u16string_view text, bool terminated) {
    PutRaw(name, 1, TextValue(text, terminated).data);
}

void RemoveValue(std::u16string_view name) {
    auto& values = TheWorld().values;
    std::erase_if(values, [&](const auto& entry) { return SameName(entry.first, name); });
}

const RegistryValue* FindValue(std::u16string_view name) {
    for (const auto& [existing, value] : TheWorld().values) {
        if (SameName(existing, name)) {
            return &value;
        }
    }
    return nullptr;
}

platform::WindowHandle AddWindow(std::u16string className, std::u16string title,
                                 platform::WindowHandle parent) {
    Window window;
    window.handle = platform::WindowHandle{NewHandle()};
    window.parent = parent;
    window.className = std::move(className);
    window.title = std::move(title);
    TheWorld().windows.push_back(window);
    return window.handle;
}

Window* FindWindow(platform::WindowHandle handle) {
    for (auto& window : TheWorld().windows) {
        if (window.handle == handle) {
            return &window;
        }
    }
    return nullptr;
}

std::uint32_t AddProcess(std::u16string name, std::uint64_t workingSetBytes) {
    auto& processes = TheWorld().processes;
    const std::uint32_t id = 100 + 4 * static_cast<std::uint32_t>(processes.size());
    Process process;
    process.id = id;
    process.name = std::move(name);
    process.workingSetBytes = workingSetBytes;
    processes.push_back(process);
    return id;
}

std::uintptr_t NewHandle() {
    const auto lock = Lock();
    return TheWorld().nextHandle++;
}

}  // namespace fake
