#include "conversion/Errors.h"

#include <cstring>

namespace fanjian {

FileError::FileError(const std::string& what, const std::string& path, int errorNumber)
    : FileError(what, path, std::string(std::strerror(errorNumber)))
{
}

FileError::FileError(const std::string& what, const std::string& path, const std::string& reason)
    : ConversionError(what + " " + path + ": " + reason), path_(path)
{
}

} // namespace fanjian
