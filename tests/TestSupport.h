#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fanjian::testing {

// A fresh folder under `base` (the system's temporary folder unless given), removed with
// everything in it.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::filesystem::path& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Writes `dir`/mervik.pcx with table MERVIK(big5, gb) holding `rows` in this rowid order.
void WriteDictionary(const std::filesystem::path& dir, const std::vector<std::pair<int, int>>& rows);
// Runs arbitrary SQL on a new database file at `file` (for broken dictionaries).
void WriteDatabase(const std::filesystem::path& file, std::string_view sql);

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, std::string_view bytes);

// Bytes from a hex string such as "B0EA 61" (spaces ignored).
std::string Bytes(std::string_view hex);

} // namespace fanjian::testing
