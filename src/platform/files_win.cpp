#include <windows.h>

#include "platform/files.h"
#include "platform/wide_win.h"

namespace platform {

bool FileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> ReadWholeFile(const std::u16string& path) {
    const HANDLE file = CreateFileW(Wide(path.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    bool read = false;
    while ((read = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return read ? std::optional(std::move(bytes)) : std::nullopt;
}

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
    const HANDLE file = CreateFileW(Wide(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    return CloseHandle(file) && whole;
}

bool RemoveFile(const std::u16string& path) {
    return DeleteFileW(Wide(path.c_str())) != FALSE;
}

}  // namespace platform
