#include "conversion/Files.h"

#include "dictionary/Errors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

namespace fanjian {

namespace {

int OpenRetrying(int folder, const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::openat(folder, path, flags | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Paths go to the system as C strings: a NUL byte would silently cut the path short.
void RefuseNul(std::string_view what, const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw FileError(what, path, FileProblem::NulInPath);
}

FileIdentity IdentityOf(const struct stat& status)
{
    return {status.st_dev, status.st_ino};
}

void CloseQuietly(int& fd) noexcept
{
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
}

} // namespace

std::string ProgramDirectory()
{
    try {
        return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    } catch (const std::filesystem::filesystem_error& error) {
        throw std::system_error(error.code(), "cannot tell where the program lies");
    }
}

std::string CurrentFolder()
{
    try {
        return std::filesystem::current_path().string();
    } catch (const std::filesystem::filesystem_error& error) {
        throw std::system_error(error.code(), "cannot tell the current folder");
    }
}

FolderEntries ListFolder(const std::string& path, const std::function<void()>& eachEntry)
{
    RefuseNul("cannot read folder", path);
    // O_DIRECTORY: whatever else stands there is refused unopened.
    int fd = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd < 0)
        throw FileError("cannot read folder", path, errno);
    struct stat self;
    if (::fstat(fd, &self) != 0) {
        const int error = errno;
        CloseQuietly(fd);
        throw FileError("cannot read folder", path, error);
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        CloseQuietly(fd);
        throw FileError("cannot read folder", path, error);
    }
    // Closes the folder however the listing ends.
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);

    FolderEntries entries;
    entries.self = IdentityOf(self);
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
        if (eachEntry)
            eachEntry();
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
            entries.folders.push_back({std::string(name), IdentityOf(status)});
        else if (S_ISREG(status.st_mode))
            entries.files.push_back({std::string(name), IdentityOf(status)});
    }
    return entries;
}

Folder::Folder(Folder&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), identity_(other.identity_)
{
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        CloseQuietly(fd_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        identity_ = other.identity_;
    }
    return *this;
}

Folder::~Folder()
{
    CloseQuietly(fd_);
}

Folder Folder::OpenOrCreate(const std::string& path)
{
    RefuseNul("cannot create folder", path);
    Folder folder;
    folder.path_ = path;
    folder.fd_ = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (folder.fd_ < 0 && errno == ENOENT) {
        // Nothing there, or a link that leads nowhere: mkdir never follows a link, it refuses.
        if (::mkdir(path.c_str(), 0777) != 0)
            throw FileError("cannot create folder", path, errno);
        folder.fd_ = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    }
    if (folder.fd_ < 0)
        throw FileError(errno == ENOTDIR ? "cannot create folder" : "cannot open folder", path, errno);
    struct stat status;
    if (::fstat(folder.fd_, &status) != 0)
        throw FileError("cannot open folder", path, errno);
    folder.identity_ = IdentityOf(status);
    return folder;
}

bool Folder::StillAt(const std::string& path) const
{
    struct stat status;
    return fd_ >= 0 && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           IdentityOf(status) == identity_;
}

InputFile::InputFile(const std::string& path) : path_(path)
{
    RefuseNul("cannot open", path);
    // Looked at once more right before it is opened: the listing may be a while ago, and opening
    // a FIFO or a device can already do something (a FIFO's writer takes the opening as a reader
    // come). Should something else take its place in between, O_NONBLOCK keeps a FIFO from
    // waiting, and nothing but a regular file is ever read.
    struct stat before;
    if (::stat(path.c_str(), &before) != 0)
        throw FileError("cannot open", path, errno);
    if (!S_ISREG(before.st_mode))
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
    fd_ = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd_ < 0)
        throw FileError("cannot open", path, errno);
    struct stat status;
    if (::fstat(fd_, &status) != 0) {
        const int error = errno;
        CloseQuietly(fd_);
        throw FileError("cannot open", path, error);
    }
    if (!S_ISREG(status.st_mode)) {
        CloseQuietly(fd_);
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
    }
    identity_ = IdentityOf(status);
    size_ = static_cast<std::uint64_t>(status.st_size);
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), identity_(other.identity_),
      size_(other.size_), read_(other.read_), atEnd_(other.atEnd_)
{
}

InputFile::~InputFile()
{
    CloseQuietly(fd_);
}

std::size_t InputFile::Read(char* buffer, std::size_t size)
{
    ssize_t got;
    do {
        got = ::read(fd_, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        // The descriptor does not block: a pseudo-file that would wait for data fails instead.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            throw FileError("cannot read", path_, FileProblem::NotRegularFile);
        throw FileError("cannot read", path_, errno);
    }
    read_ += static_cast<std::uint64_t>(got);
    // A regular file reads short only at its end. Files of the kernel's pseudo file systems claim
    // a size (0, or a page) that says nothing of their content: they are read until a read gives 0.
    if (static_cast<std::size_t>(got) < size && size_ > 0 && read_ >= size_)
        atEnd_ = true;
    return static_cast<std::size_t>(got);
}

void InputFile::Close()
{
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw FileError("cannot close", path_, errno);
}

OutputFile::OutputFile(const Folder& folder, const std::string& name, std::string path) : path_(std::move(path))
{
    RefuseNul("cannot create", path_);
    // O_NOFOLLOW: a link at the name is refused, wherever it leads. O_NONBLOCK: a FIFO without a
    // reader is refused at once (ENXIO) instead of waiting for one. No O_TRUNC: nothing is changed
    // before the file is known to be one the run may write.
    fd_ = OpenRetrying(folder.fd_, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ELOOP)
            throw FileError("cannot create", path_, FileProblem::LinkAtPath);
        if (error == ENXIO || error == EISDIR)
            throw FileError("cannot create", path_, FileProblem::NotRegularFile);
        throw FileError("cannot create", path_, error);
    }
    struct stat status;
    if (::fstat(fd_, &status) != 0) {
        const int error = errno;
        CloseQuietly(fd_);
        throw FileError("cannot create", path_, error);
    }
    if (!S_ISREG(status.st_mode)) {
        CloseQuietly(fd_);
        throw FileError("cannot create", path_, FileProblem::NotRegularFile);
    }
    // Another name of the file may be anything: an input, the dictionary, a file of the user's.
    if (status.st_nlink != 1) {
        CloseQuietly(fd_);
        throw FileError("cannot create", path_, FileProblem::HardLinked);
    }
    empty_ = status.st_size == 0;
    identity_ = IdentityOf(status);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), empty_(other.empty_),
      identity_(other.identity_), written_(other.written_)
{
}

OutputFile::~OutputFile()
{
    CloseQuietly(fd_);
}

void OutputFile::Truncate()
{
    // A file that is empty already is left alone: on some file systems emptying even an empty
    // file makes its closing wait for the disk.
    if (!empty_ && ::ftruncate(fd_, 0) != 0)
        throw FileError("cannot empty", path_, errno);
    empty_ = true;
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
    if (size < written_ && ::ftruncate(fd_, static_cast<off_t>(size)) == 0)
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
