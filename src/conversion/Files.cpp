#include "conversion/Files.h"

#include "system/FileError.h"

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

// O_NONBLOCK: should a FIFO stand there, opening it does not wait. O_DIRECTORY: whatever else
// stands there is refused unopened.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK;

std::string Join(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    path += '/';
    path += name;
    return path;
}

// True when `name` in the folder open as `folder` is a symbolic link.
bool IsLinkAt(int folder, const std::string& name)
{
    struct stat status;
    return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
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

Folder::Folder(Folder&& other) noexcept
    : fd_(std::move(other.fd_)), identity_(other.identity_), mode_(other.mode_), owner_(other.owner_),
      settleMode_(std::exchange(other.settleMode_, false))
{
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        Settle();
        fd_ = std::move(other.fd_);
        identity_ = other.identity_;
        mode_ = other.mode_;
        owner_ = other.owner_;
        settleMode_ = std::exchange(other.settleMode_, false);
    }
    return *this;
}

Folder::~Folder()
{
    Settle();
}

void Folder::Settle() noexcept
{
    // Nothing more can be done when it fails: the folder keeps room for its owner to write.
    if (std::exchange(settleMode_, false) && fd_.IsOpen())
        (void)::fchmod(fd_.Get(), mode_);
}

Folder Folder::Opened(Descriptor fd)
{
    Folder folder;
    folder.fd_ = std::move(fd);
    const struct stat status = folder.fd_.Status("cannot open folder");
    folder.identity_ = IdentityOf(status);
    folder.mode_ = status.st_mode & 07777;
    folder.owner_ = status.st_uid;
    return folder;
}

Folder Folder::Open(const std::string& path)
{
    RefuseNul("cannot read folder", path);
    // O_DIRECTORY: whatever else stands there is refused unopened.
    return Opened(Descriptor::Open("cannot read folder", path, kFolderFlags));
}

Folder Folder::OpenChild(const std::string& name, bool followLinks) const
{
    const std::string path = Join(Path(), name);
    RefuseNul("cannot read folder", path);
    Descriptor fd = Descriptor::TryOpenAt(fd_.Get(), name.c_str(), path, kFolderFlags | (followLinks ? 0 : O_NOFOLLOW));
    if (!fd.IsOpen()) {
        const int error = errno;
        if (!followLinks && IsLinkAt(fd_.Get(), name))
            throw FileError("cannot read folder", path, FileProblem::LinkAtPath);
        throw FileError("cannot read folder", path, error);
    }
    return Opened(std::move(fd));
}

Folder Folder::OpenOrCreateChild(const std::string& name, mode_t mode, bool followLinks) const
{
    const std::string path = Join(Path(), name);
    RefuseNul("cannot create folder", path);
    const int flags = kFolderFlags | (followLinks ? 0 : O_NOFOLLOW);
    Descriptor fd = Descriptor::TryOpenAt(fd_.Get(), name.c_str(), path, flags);
    // Room for the owner to write while the run writes into it; its own mode once it is let go.
    const mode_t wanted = mode & 0777;
    bool made = false;
    if (!fd.IsOpen() && errno == ENOENT) {
        // Nothing there, or a link that leads nowhere: mkdir never follows a link, it refuses.
        if (::mkdirat(fd_.Get(), name.c_str(), wanted | S_IRWXU) != 0)
            throw FileError("cannot create folder", path, errno);
        made = true;
        fd = Descriptor::TryOpenAt(fd_.Get(), name.c_str(), path, flags);
    }
    if (!fd.IsOpen()) {
        const int error = errno;
        if (!followLinks && IsLinkAt(fd_.Get(), name))
            throw FileError("cannot create folder", path, FileProblem::LinkAtPath);
        throw FileError(error == ENOTDIR ? "cannot create folder" : "cannot open folder", path, error);
    }
    Folder folder = Opened(std::move(fd));
    if (made && (wanted & S_IRWXU) != S_IRWXU) {
        // What mkdir made of it, the umask applied, less the owner's bits it was given for now.
        folder.mode_ &= ~(S_IRWXU & ~wanted);
        folder.settleMode_ = true;
    }
    return folder;
}

FolderEntries Folder::List(bool followLinks, const std::function<void()>& eachEntry) const
{
    // A descriptor of its own: the listing moves through it.
    Descriptor listing = Descriptor::TryOpenAt(fd_.Get(), ".", Path(), kFolderFlags);
    if (!listing.IsOpen())
        throw FileError("cannot read folder", Path(), errno);
    DIR* dir = ::fdopendir(listing.Get());
    if (dir == nullptr)
        throw FileError("cannot read folder", Path(), errno);
    listing.Release();
    // Closes the folder however the listing ends.
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);

    FolderEntries entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0)
                throw FileError("cannot read folder", Path(), errno);
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (eachEntry)
            eachEntry();
        // What the entry stands for: links followed, or the entry itself.
        struct stat status;
        bool link = false;
        int looked = ::fstatat(::dirfd(dir), entry->d_name, &status, followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
        if (looked == 0 && S_ISLNK(status.st_mode)) {
            // A link that is not followed: what it leads to says which kind of entry it makes.
            struct stat target;
            link = true;
            looked = ::fstatat(::dirfd(dir), entry->d_name, &target, 0);
            status.st_mode = looked == 0 ? target.st_mode : 0;
        }
        if (looked != 0) {
            const int error = errno;
            // A link to nothing or round in a loop is no file; an entry may also be gone since.
            if (error == ENOENT || error == ENOTDIR || error == ELOOP)
                continue;
            // Anything else (no search permission, an I/O error) leaves the file unread: the run
            // must not pass over it as if it were not there.
            throw FileError("cannot look at", Join(Path(), name), error);
        }
        if (S_ISDIR(status.st_mode))
            entries.folders.push_back({std::string(name), IdentityOf(status), link});
        else if (S_ISREG(status.st_mode))
            entries.files.push_back({std::string(name), IdentityOf(status), link});
    }
    return entries;
}

bool Folder::StillAt(const std::string& path) const
{
    struct stat status;
    return IsOpen() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           IdentityOf(status) == identity_;
}

InputFile::InputFile(const Folder& folder, const std::string& name, std::string path, bool followLinks)
{
    RefuseNul("cannot open", path);
    // Looked at once more right before it is opened: the listing may be a while ago, and opening
    // a FIFO or a device can already do something (a FIFO's writer takes the opening as a reader
    // come). Should something else take its place in between, O_NONBLOCK keeps a FIFO from
    // waiting, and nothing but a regular file is ever read.
    const int at = folder.fd_.Get();
    struct stat before;
    if (::fstatat(at, name.c_str(), &before, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        throw FileError("cannot open", path, errno);
    if (S_ISLNK(before.st_mode))
        throw FileError("cannot open", path, FileProblem::LinkNotFollowed);
    if (!S_ISREG(before.st_mode))
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
    fd_ = Descriptor::TryOpenAt(at, name.c_str(), path, O_RDONLY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (!fd_.IsOpen()) {
        const int error = errno;
        throw FileError("cannot open", path, error == ELOOP && !followLinks ? FileProblem::LinkNotFollowed
                                                                           : std::error_code(error, std::generic_category()));
    }
    const struct stat status = fd_.Status("cannot open");
    if (!S_ISREG(status.st_mode))
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
    identity_ = IdentityOf(status);
    mode_ = status.st_mode & 07777;
    size_ = static_cast<std::uint64_t>(status.st_size);
}

std::size_t InputFile::Read(char* buffer, std::size_t size)
{
    if (atEnd_)
        return 0; // a regular file read to its end: no call needed to hear it again
    std::size_t got;
    try {
        got = fd_.Read(buffer, size);
    } catch (const FileError& error) {
        // The descriptor does not block: a pseudo-file that would wait for data fails instead.
        if (error.code() == std::errc::resource_unavailable_try_again ||
            error.code() == std::errc::operation_would_block)
            throw FileError("cannot read", fd_.Path(), FileProblem::NotRegularFile);
        throw;
    }
    read_ += got;
    // A regular file reads short only at its end. Files of the kernel's pseudo file systems claim
    // a size (0, or a page) that says nothing of their content: they are read until a read gives 0.
    if (got < size && size_ > 0 && read_ >= size_)
        atEnd_ = true;
    return got;
}

void InputFile::Rewind()
{
    if (::lseek(fd_.Get(), 0, SEEK_SET) != 0)
        throw FileError("cannot read", fd_.Path(), errno);
    read_ = 0;
    atEnd_ = false;
}

void InputFile::Close()
{
    fd_.Close();
}

OutputFile::OutputFile(const Folder& folder, const std::string& name, std::string path, mode_t mode)
{
    RefuseNul("cannot create", path);
    // O_NOFOLLOW: a link at the name is refused, wherever it leads. O_NONBLOCK: a FIFO without a
    // reader is refused at once (ENXIO) instead of waiting for one. No O_TRUNC: nothing is changed
    // before the file is known to be one the run may write.
    fd_ = Descriptor::TryOpenAt(folder.fd_.Get(), name.c_str(), std::move(path),
                                O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, mode & 0777);
    if (!fd_.IsOpen()) {
        const int error = errno;
        if (error == ELOOP)
            throw FileError("cannot create", fd_.Path(), FileProblem::LinkAtPath);
        if (error == ENXIO || error == EISDIR)
            throw FileError("cannot create", fd_.Path(), FileProblem::NotRegularFile);
        throw FileError("cannot create", fd_.Path(), error);
    }
    const struct stat status = fd_.Status("cannot create");
    if (!S_ISREG(status.st_mode))
        throw FileError("cannot create", fd_.Path(), FileProblem::NotRegularFile);
    // Another name of the file may be anything: an input, the dictionary, a file of the user's.
    if (status.st_nlink != 1)
        throw FileError("cannot create", fd_.Path(), FileProblem::HardLinked);
    empty_ = status.st_size == 0;
    identity_ = IdentityOf(status);
}

void OutputFile::Truncate()
{
    // A file that is empty already is left alone: on some file systems emptying even an empty
    // file makes its closing wait for the disk.
    if (!empty_ && ::ftruncate(fd_.Get(), 0) != 0)
        throw FileError("cannot empty", fd_.Path(), errno);
    empty_ = true;
}

void OutputFile::Write(std::string_view bytes)
{
    fd_.WriteAll(bytes, &written_);
}

void OutputFile::CutBackTo(std::uint64_t size)
{
    // What is written next follows what is kept.
    if (size < written_ && ::ftruncate(fd_.Get(), static_cast<off_t>(size)) == 0 &&
        ::lseek(fd_.Get(), static_cast<off_t>(size), SEEK_SET) == static_cast<off_t>(size))
        written_ = size;
}

void OutputFile::Close()
{
    fd_.Close();
}

} // namespace fanjian
