#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fanjian {

// An open file descriptor together with the path it was opened as, owned: moved, never copied,
// closed when it goes. Close() says what a destructor cannot: that closing failed, so that the
// data may not have reached the disk. Every failure throws FileError naming the path.
//
// Opening adds O_CLOEXEC and O_NOCTTY and tries again after EINTR; reads and writes try again
// after EINTR.
class Descriptor {
public:
    Descriptor() noexcept = default;
    // Takes `fd` over; `path` names it in errors.
    Descriptor(int fd, std::string path) noexcept;
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();

    // `name` in the folder open as `folder` (AT_FDCWD: `name` is a path as given), called `path`
    // in errors. An empty descriptor when it cannot be opened, errno saying why.
    static Descriptor TryOpenAt(int folder, const char* name, std::string path, int flags, mode_t mode = 0) noexcept;
    static Descriptor TryOpen(const std::string& path, int flags, mode_t mode = 0) noexcept
    {
        return TryOpenAt(AT_FDCWD, path.c_str(), path, flags, mode);
    }
    // The same; throws FileError(action, path, errno) when it cannot.
    static Descriptor Open(std::string_view action, const std::string& path, int flags, mode_t mode = 0);

    bool IsOpen() const noexcept { return fd_ >= 0; }
    int Get() const noexcept { return fd_; }
    const std::string& Path() const noexcept { return path_; }
    // Hands the descriptor over (to fdopendir, say): this one is empty afterwards.
    int Release() noexcept;

    // What fstat says. Throws FileError(action, path, errno).
    struct stat Status(std::string_view action) const;
    // Up to `size` bytes; 0 at the end. Throws FileError("cannot read", ...).
    std::size_t Read(char* buffer, std::size_t size) const;
    // Writes every byte. `written`, when given, goes up by the bytes as they go out, also when it
    // throws FileError("cannot write", ...): with the system's error, or FileProblem::NothingWritten
    // for a write that takes nothing and says nothing.
    void WriteAll(std::string_view bytes, std::uint64_t* written = nullptr) const;
    // Closes now. Throws FileError("cannot close", ...) when the system reports a failure; the
    // descriptor is gone all the same (EINTR: gone, and the data went).
    void Close();

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace fanjian
