#include "cli/DictionaryLocation.h"

#include "dictionary/CharacterDictionary.h"

#include <cerrno>
#include <cstdlib>
#include <limits.h>
#include <memory>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fanjian::cli {

namespace {

std::string WithoutLastPiece(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastPiece(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

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
        if (static_cast<std::size_t>(length) < buffer.size())
            return WithoutLastPiece(std::string(buffer.data(), static_cast<std::size_t>(length)));
        buffer.resize(buffer.size() * 2);
    }
}

DictionaryLocation::DictionaryLocation(std::string programDirectory)
    : directory_(std::move(programDirectory)), file_(CharacterDictionary::FilePath(directory_))
{
}

DictionaryLocation DictionaryLocation::ForFile(const std::string& file)
{
    DictionaryLocation location;
    location.file_ = FromCurrentFolder(file);
    if (LastPiece(location.file_) == CharacterDictionary::kFileName) {
        location.directory_ = WithoutLastPiece(location.file_);
        return location;
    }
    const char* temporary = std::getenv("TMPDIR");
    std::string folder = std::string(temporary && *temporary == '/' ? temporary : "/tmp") + "/fanjian-convert.XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder in " +
                                                                    WithoutLastPiece(folder));
    location.directory_ = folder;
    const std::string link = folder + "/" + std::string(CharacterDictionary::kFileName);
    if (::symlink(location.file_.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::rmdir(folder.c_str());
        throw std::system_error(error, std::generic_category(), "cannot make a link in " + folder);
    }
    location.linkPath_ = link;
    return location;
}

DictionaryLocation::DictionaryLocation(DictionaryLocation&& other) noexcept
    : directory_(std::move(other.directory_)), linkPath_(std::exchange(other.linkPath_, {})),
      file_(std::move(other.file_))
{
}

DictionaryLocation::~DictionaryLocation()
{
    if (linkPath_.empty())
        return;
    ::unlink(linkPath_.c_str());
    ::rmdir(directory_.c_str());
}

std::string DictionaryLocation::Explain(std::string message) const
{
    if (!linkPath_.empty()) {
        for (std::size_t at = message.find(linkPath_); at != std::string::npos;
             at = message.find(linkPath_, at + file_.size())) {
            message.replace(at, linkPath_.size(), file_);
        }
    }
    if (message.find(file_) == std::string::npos)
        message = file_ + ": " + message;
    return message;
}

} // namespace fanjian::cli
