#include "cli/Paths.h"

#include "dictionary/CharacterDictionary.h"

#include <cerrno>
#include <cstdlib>
#include <limits.h>
#include <memory>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fanjian::cli {

std::string FromCurrentFolder(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    const std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
    if (!current)
        throw std::system_error(errno, std::generic_category(), "cannot tell the current folder");
    std::string joined = current.get();
    if (joined.back() != '/')
        joined += '/';
    return joined + path;
}

std::string ProgramDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throw std::system_error(errno, std::generic_category(), "cannot tell where the program lies");
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string program(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = program.rfind('/');
            return slash == 0 || slash == std::string::npos ? "/" : program.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
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
