#include "conversion/Files.h"

#include "conversion/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

namespace fanjian {

namespace {

// Opens without ever blocking (a FIFO would wait for its other end), then blocks as usual.
int OpenNonBlocking(const std::string& path, int flags, struct stat& status)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &status) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

FolderEntries ListFolder(const std::string& path)
{
    namespace fs = std::filesystem;
    FolderEntries entries;
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec)
        throw FileError("cannot read folder", path, ec.message());
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        // The status of what a link points to; a broken link has none and is left out.
        std::error_code statusError;
        const fs::file_status status = it->status(statusError);
        if (fs::is_directory(status))
            entries.folders.push_back(it->path().filename().string());
        else if (fs::is_regular_file(status))
            entries.files.push_back(it->path().filename().string());
    }
    if (ec)
        throw FileError("cannot read folder", path, ec.message());
    return entries;
}

bool FolderExists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void CreateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) != 0)
        throw FileError("cannot create folder", path, errno);
}

InputFile::InputFile(const std::string& path) : path_(path)
{
    struct stat status;
    fd_ = OpenNonBlocking(path, O_RDONLY, status);
    if (fd_ < 0)
        throw FileError("cannot open", path, errno);
    if (!S_ISREG(status.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw FileError("cannot open", path, "not a regular file");
    }
    identity_ = {status.st_dev, status.st_ino};
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), identity_(other.identity_)
{
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::size_t InputFile::Read(char* buffer, std::size_t size)
{
    ssize_t got;
    do {
        got = ::read(fd_, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        throw FileError("cannot read", path_, errno);
    return static_cast<std::size_t>(got);
}

void InputFile::Close()
{
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw FileError("cannot close", path_, errno);
}

OutputFile::OutputFile(const std::string& path) : path_(path)
{
    struct stat status;
    fd_ = OpenNonBlocking(path, O_WRONLY | O_CREAT, status);
    if (fd_ < 0)
        throw FileError("cannot create", path, errno);
    regular_ = S_ISREG(status.st_mode);
    empty_ = !regular_ || status.st_size == 0;
    identity_ = {status.st_dev, status.st_ino};
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), regular_(other.regular_),
      empty_(other.empty_), identity_(other.identity_), written_(other.written_)
{
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void OutputFile::Truncate()
{
    // A file that is empty already is left alone: on some file systems emptying even an empty
    // file makes its closing wait for the disk.
    if (!empty_ && ::ftruncate(fd_, 0) != 0)
        throw FileError("cannot empty", path_, errno);
}

void OutputFile::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw FileError("cannot write", path_, errno);
        }
        if (put == 0)
            throw FileError("cannot write", path_, "nothing was written");
        bytes.remove_prefix(static_cast<std::size_t>(put));
        written_ += static_cast<std::uint64_t>(put);
    }
}

void OutputFile::CutBackTo(std::uint64_t size)
{
    if (regular_ && size < written_ && ::ftruncate(fd_, static_cast<off_t>(size)) == 0)
        written_ = size;
}

void OutputFile::Close()
{
    const int fd = std::exchange(fd_, -1);
    // After close the descriptor is gone whatever it says; EINTR still means the data went.
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw FileError("cannot close", path_, errno);
}

} // namespace fanjian
