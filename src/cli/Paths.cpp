#include "cli/Paths.h"

#include "conversion/Files.h"
#include "dictionary/CharacterDictionary.h"

#include <filesystem>

namespace fanjian::cli {

std::string FromCurrentFolder(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    return (std::filesystem::path(CurrentFolder()) / path).string();
}

std::string DictionaryFile(const std::optional<std::string>& given, const std::string& programDirectory)
{
    return given ? FromCurrentFolder(*given) : CharacterDictionary::FilePath(programDirectory);
}

std::string AboutDictionary(const std::string& file, std::string message)
{
    if (message.find(file) == std::string::npos)
        message = file + ": " + message;
    return message;
}

} // namespace fanjian::cli
