#include "system/FileError.h"

namespace fanjian {

namespace {

class FileProblemCategoryImpl : public std::error_category {
public:
    const char* name() const noexcept override { return "fanjian.file"; }

    std::string message(int value) const override
    {
        switch (static_cast<FileProblem>(value)) {
        case FileProblem::NotRegularFile: return "not a regular file";
        case FileProblem::LinkAtPath: return "a symbolic link stands there";
        case FileProblem::HardLinked: return "the file has other names (hard links)";
        case FileProblem::InputFile: return "it is a file this run reads";
        case FileProblem::InputFolder: return "it is a folder this run reads";
        case FileProblem::DictionaryFile: return "it is the dictionary";
        case FileProblem::NulInPath: return "a path cannot hold a NUL byte";
        case FileProblem::Gone: return "it has gone";
        case FileProblem::NothingWritten: return "nothing was written";
        case FileProblem::LinkNotFollowed: return "a symbolic link in a folder another user owns";
        }
        return "unknown problem";
    }
};

std::string Describe(std::string_view action, const std::string& path)
{
    std::string text(action);
    text += ' ';
    text += path;
    return text;
}

} // namespace

const std::error_category& FileProblemCategory() noexcept
{
    static const FileProblemCategoryImpl category;
    return category;
}

std::error_code make_error_code(FileProblem problem) noexcept
{
    return {static_cast<int>(problem), FileProblemCategory()};
}

FileError::FileError(std::string_view action, std::string path, std::error_code cause)
    : std::system_error(cause, Describe(action, path)), path_(std::move(path))
{
}

} // namespace fanjian
