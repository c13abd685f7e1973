#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fanjian::data {

// The file's bytes. Throws FileError (a std::system_error) naming the file when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);

// A temporary name beside `file`, for writing it whole before it takes the file's place.
std::filesystem::path TemporaryPath(const std::filesystem::path& file);

// Makes `temporary` the file `file` (rename(2), atomic on one file system); removes the temporary
// and throws std::system_error when that fails.
void Replace(const std::filesystem::path& temporary, const std::filesystem::path& file);

// Writes `bytes` to a temporary file beside `file`, flushes it to disk, then renames it over
// `file`, so readers see the old file or the new one, never a part. Throws std::system_error.
void WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);

} // namespace fanjian::data
