#pragma once

#include <stdexcept>
#include <string>

namespace fanjian {

// A dictionary that cannot serve: missing, foreign, damaged, or a row that names no character.
//   what(): "/x/mervik.pcx: the file is cut short (4096 of 8192 bytes)"
class DictionaryError : public std::runtime_error {
public:
    explicit DictionaryError(const std::string& problem) : std::runtime_error(problem) {}
    DictionaryError(std::string path, const std::string& problem)
        : std::runtime_error(path + ": " + problem), path_(std::move(path))
    {
    }

    // The dictionary file, where the failure concerns the file.
    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

} // namespace fanjian
