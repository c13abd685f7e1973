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
    Descriptor folder = Descriptor::Open("cannot read folder", path, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    const struct stat self = folder.Status("cannot read folder");
    DIR* dir = ::fdopendir(folder.Get());
    if (dir == nullptr)
        throw FileError("cannot read folder", path, errno);
    folder.Release();
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

Folder Folder::OpenOrCreate(const std::string& path)
{
    RefuseNul("cannot create folder", path);
    Folder folder;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK;
    folder.fd_ = Descriptor::TryOpen(path, kFlags);
    if (!folder.IsOpen() && errno == ENOENT) {
        // Nothing there, or a link that leads nowhere: mkdir never follows a link, it refuses.
        if (::mkdir(path.c_str(), 0777) != 0)
            throw FileError("cannot create folder", path, errno);
        folder.fd_ = Descriptor::TryOpen(path, kFlags);
    }
    if (!folder.IsOpen())
        throw FileError(errno == ENOTDIR ? "cannot create folder" : "cannot open folder", path, errno);
    folder.identity_ = IdentityOf(folder.fd_.Status("cannot open folder"));
    return folder;
}

bool Folder::StillAt(const std::string& path) const
{
    struct stat status;
    return IsOpen() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           IdentityOf(status) == identity_;
}

InputFile::InputFile(const std::string& path)
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
    fd_ = Descriptor::Open("cannot open", path, O_RDONLY | O_NONBLOCK);
    const struct stat status = fd_.Status("cannot open");
    if (!S_ISREG(status.st_mode))
        throw FileError("cannot open", path, FileProblem::NotRegularFile);
    identity_ = IdentityOf(status);
    size_ = static_cast<std::uint64_t>(status.st_size);
}

std::size_t InputFile::Read(char* buffer, std::size_t size)
{
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

void InputFile::Close()
{
    fd_.Close();
}

OutputFile::OutputFile(const Folder& folder, const std::string& name, std::string path)
{
    RefuseNul("cannot create", path);
    // O_NOFOLLOW: a link at the name is refused, wherever it leads. O_NONBLOCK: a FIFO without a
    // reader is refused at once (ENXIO) instead of waiting for one. No O_TRUNC: nothing is changed
    // before the file is known to be one the run may write.
    fd_ = Descriptor::TryOpenAt(folder.fd_.Get(), name.c_str(), std::move(path),
                                O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0666);
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
    if (size < written_ && ::ftruncate(fd_.Get(), static_cast<off_t>(size)) == 0)
        written_ = size;
}

void OutputFile::Close()
{
    fd_.Close();
}

} // namespace fanjian
