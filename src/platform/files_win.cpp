#include <windows.h>

#include "platform/files.h"
#include "platform/wide_win.h"

namespace platform {

bool FileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path.c_str()));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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
