#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace fanjian {

// What can be wrong with a path beyond what the system's error numbers say.
enum class FileProblem {
    NotRegularFile = 1, // a FIFO, socket, device or folder where a file must be
    LinkAtPath,         // a symbolic link where a file is to be written
    HardLinked,         // a file to be written that has other names too
    InputFile,          // a file to be written that the run reads
    InputFolder,        // a folder to be written into that the run reads
    DictionaryFile,     // a file to be written that is the dictionary
    NulInPath,          // a path holding a NUL byte, which the system would cut short
    Gone,               // something that was there a moment ago
    NothingWritten,     // a write that took no byte and gave no reason
    LinkNotFollowed,    // a symbolic link in a folder of another user, which the run does not follow
};

const std::error_category& FileProblemCategory() noexcept;
std::error_code make_error_code(FileProblem problem) noexcept;

// A file or folder that could not be read, made or written: what was tried, on which path, and
// the cause, a system error number (std::generic_category) or a FileProblem.
//   what(): "cannot open /x/a.htm: No such file or directory"
class FileError : public std::system_error {
public:
    FileError(std::string_view action, std::string path, std::error_code cause);
    FileError(std::string_view action, std::string path, int errorNumber)
        : FileError(action, std::move(path), std::error_code(errorNumber, std::generic_category()))
    {
    }
    FileError(std::string_view action, std::string path, FileProblem problem)
        : FileError(action, std::move(path), make_error_code(problem))
    {
    }

    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

} // namespace fanjian

template <>
struct std::is_error_code_enum<fanjian::FileProblem> : std::true_type {};
