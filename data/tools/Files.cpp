#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace fanjian::data {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::filesystem::path& file, int error)
{
    throw std::system_error(error, std::generic_category(), "cannot " + what + " " + file.string());
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const noexcept { return fd_; }
    // Closes now and reports whether the close succeeded (a failed close may lose written data).
    int Close() noexcept
    {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

} // namespace

std::string ReadFile(const std::filesystem::path& file)
{
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        Fail("open", file, errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("read", file, errno);
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::filesystem::path TemporaryPath(const std::filesystem::path& file)
{
    return file.string() + ".tmp-" + std::to_string(::getpid());
}

void Replace(const std::filesystem::path& temporary, const std::filesystem::path& file)
{
    if (std::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        Fail("rename " + temporary.string() + " to", file, error);
    }
}

void WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes)
{
    const std::filesystem::path temporary = TemporaryPath(file);
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        Fail("create", temporary, errno);
    auto failAndRemove = [&](const std::string& what) {
        const int error = errno;
        fd.Close();
        std::remove(temporary.c_str());
        Fail(what, temporary, error);
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failAndRemove("write");
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0)
        failAndRemove("flush");
    if (fd.Close() != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        Fail("close", temporary, error);
    }
    Replace(temporary, file);
}

} // namespace fanjian::data
