#include "cli/Streams.h"

#include "cli/Signals.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace fanjian::cli {

namespace {

// Waits until `fd` is ready for `events` or a stop signal arrives (then throws StopRequested).
void WaitFor(int fd, short events, std::string_view action, std::string_view stream)
{
    for (;;) {
        StopIfSignalled();
        pollfd waits[2] = {{fd, events, 0}, {StopSignalDescriptor(), POLLIN, 0}};
        const nfds_t count = waits[1].fd >= 0 ? 2 : 1;
        const int ready = ::poll(waits, count, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw StreamError(action, stream, errno);
        }
        StopIfSignalled();
        // An error or hang-up shows in the read or write that follows.
        if (waits[0].revents != 0)
            return;
    }
}

} // namespace

void WriteAll(int fd, std::string_view bytes, std::string_view stream, std::size_t* reached)
{
    std::size_t done = 0;
    if (reached)
        *reached = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            if (reached)
                *reached = done;
            continue;
        }
        if (put < 0 && errno == EINTR) {
            StopIfSignalled();
            continue;
        }
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitFor(fd, POLLOUT, "cannot write", stream);
            continue;
        }
        // A write that takes nothing and names no error would repeat for ever.
        throw StreamError("cannot write", stream, put < 0 ? errno : EIO);
    }
}

std::size_t ReadSome(int fd, char* buffer, std::size_t size, std::string_view stream)
{
    for (;;) {
        // A pipe or terminal may keep the read waiting for ever; the signal pipe ends the wait.
        WaitFor(fd, POLLIN, "cannot read", stream);
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        throw StreamError("cannot read", stream, errno);
    }
}

bool IsTerminal(int fd) noexcept
{
    return ::isatty(fd) == 1;
}

} // namespace fanjian::cli
