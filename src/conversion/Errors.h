#pragma once

#include <stdexcept>
#include <string>

namespace fanjian {

// Every failure of a run (dictionary, files, folders) is one of these. The run catches exactly
// this family; anything else (a view abandoning the run, out of memory) passes through it.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DictionaryError : public ConversionError {
public:
    using ConversionError::ConversionError;
};

class FileError : public ConversionError {
public:
    // "cannot open /x/a.htm: No such file or directory"
    FileError(const std::string& what, const std::string& path, int errorNumber);
    FileError(const std::string& what, const std::string& path, const std::string& reason);

    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

} // namespace fanjian
