#include "system/Descriptor.h"

#include "system/FileError.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace fanjian {

Descriptor::Descriptor(int fd, std::string path) noexcept : fd_(fd), path_(std::move(path)) {}

Descriptor::Descriptor(Descriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

Descriptor::~Descriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Descriptor Descriptor::TryOpenAt(int folder, const char* name, std::string path, int flags, mode_t mode) noexcept
{
    int fd;
    do {
        fd = ::openat(folder, name, flags | O_CLOEXEC | O_NOCTTY, mode);
    } while (fd < 0 && errno == EINTR);
    return Descriptor(fd, std::move(path));
}

Descriptor Descriptor::Open(std::string_view action, const std::string& path, int flags, mode_t mode)
{
    Descriptor descriptor = TryOpen(path, flags, mode);
    if (!descriptor.IsOpen())
        throw FileError(action, path, errno);
    return descriptor;
}

int Descriptor::Release() noexcept
{
    return std::exchange(fd_, -1);
}

struct stat Descriptor::Status(std::string_view action) const
{
    struct stat status {};
    if (::fstat(fd_, &status) != 0)
        throw FileError(action, path_, errno);
    return status;
}

std::size_t Descriptor::Read(char* buffer, std::size_t size) const
{
    ssize_t got;
    do {
        got = ::read(fd_, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        throw FileError("cannot read", path_, errno);
    return static_cast<std::size_t>(got);
}

void Descriptor::WriteAll(std::string_view bytes, std::uint64_t* written) const
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
        if (written)
            *written += static_cast<std::uint64_t>(put);
    }
}

void Descriptor::Close()
{
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        throw FileError("cannot close", path_, errno);
}

} // namespace fanjian
