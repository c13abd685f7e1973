#include "conversion/Files.h"

#include "dictionary/Errors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
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

// Paths go to the system as C strings: a NUL byte would silently cut the path short.
void RefuseNul(std::string_view what, const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw FileError(what, path, FileProblem::NulInPath);
}

} // namespace

FolderEntries ListFolder(const std::string& path)
{
    RefuseNul("cannot read folder", path);
    // O_DIRECTORY: whatever else stands there is refused unopened.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw FileError("cannot read folder", path, errno);
    struct stat self;
    if (::fstat(fd, &self) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError("cannot read folder", path, error);
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(fd);
        throw FileError("cannot read folder", path, error);
    }
    // Closes the folder however the listing ends.
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);

    FolderEntries entries;
    entries.self = {self.st_dev, self.st_ino};
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0)
                throw FileError("cannot read folder", path, errno);
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // What the entry stands for, links followed.
        struct stat status;
        if (::fstatat(::dirfd(dir), entry->d_name, &status, 0) != 0) {
            const int error = errno;
            // A link to nothing or round in a loop is no file; an entry may also be gone since.
            if (error == ENOENT || error == ENOTDIR || error == ELOOP)
                continue;
            // Anything else (no search permission, an I/O error) leaves the file unread: the run
            // must not pass over it as if it were not there.
            throw FileError("cannot look at", path + "/" + std::string(name), error);
        }
        if (S_ISDIR(status.st_mode))
            entries.folders.push_back({std::string(name), {status.st_dev, status.st_ino}});
        else if (S_ISREG(status.st_mode))
            entries.files.push_back({std::string(name), {status.st_dev, status.st_ino}});
    }
    return entries;
}

std::optional<FileIdentity> FolderIdentity(const std::string& path)
{
    struct stat status;
    if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

void CreateFolder(const std::string& path)
{
    RefuseNul("cannot create folder", path);
    if (::mkdir(path.c_str(), 0777) != 0)
        throw FileError("cannot create folder", path, errno);
}

InputFile::InputFile(const std::string& path) : path_(path)
{
    RefuseNul("cannot open", path);
    // Looked at before it is opened: opening a FIFO or a device can already do something.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        throw FileError("cannot open", path, errno);
    if (!S_ISREG(status.st_mode))
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
    fd_ = OpenNonBlocking(path, O_RDONLY, status);
    if (fd_ < 0)
        throw FileError("cannot open", path, errno);
    // It may have been replaced in between.
    if (!S_ISREG(status.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
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
    RefuseNul("cannot create", path);
    struct stat status;
    fd_ = OpenNonBlocking(path, O_WRONLY, status);
    if (fd_ < 0 && errno == ENOENT) {
        // Missing, or a link to nothing: O_EXCL creates the file here and never follows a link.
        fd_ = OpenNonBlocking(path, O_WRONLY | O_CREAT | O_EXCL, status);
        if (fd_ < 0 && errno == EEXIST)
            throw FileError("cannot create", path, FileProblem::LinkAtPath);
        created_ = fd_ >= 0;
    }
    if (fd_ < 0)
        throw FileError("cannot create", path, errno);
    regular_ = S_ISREG(status.st_mode);
    empty_ = !regular_ || status.st_size == 0;
    identity_ = {status.st_dev, status.st_ino};
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), regular_(other.regular_),
      empty_(other.empty_), created_(other.created_), identity_(other.identity_), written_(other.written_)
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
            throw FileError("cannot write", path_, FileProblem::NothingWritten);
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
