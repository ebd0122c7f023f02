#pragma once

#include <optional>
#include <string>
#include <string_view>

// Whole files, by full path.
namespace platform {

// Whether a file (not a folder) exists at path.
bool FileExists(const std::u16string& path);

// The file's whole content; none when there is no such file or it cannot be read.
std::optional<std::string> ReadWholeFile(const std::u16string& path);

// Replaces the file's content with bytes, creating it when missing; false when it cannot be
// written.
bool WriteWholeFile(const std::u16string& path, std::string_view bytes);

// Deletes the file; false when there is none or it cannot be deleted.
bool RemoveFile(const std::u16string& path);

}  // namespace platform
