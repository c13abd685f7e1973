#include "cli/Signals.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace fanjian::cli {

namespace detail {
volatile std::sig_atomic_t pendingStopSignal = 0;
}

namespace {

int wakeRead = -1;
int wakeWrite = -1;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void NoteStopSignal(int signal)
{
    const int savedErrno = errno;
    if (detail::pendingStopSignal == 0)
        detail::pendingStopSignal = signal;
    // The pipe is non-blocking: when it is full, it is readable already.
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite, &byte, 1);
    errno = savedErrno;
}

} // namespace

void InstallStopSignals()
{
    if (wakeRead >= 0)
        return;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot make the signal pipe");
    wakeRead = ends[0];
    wakeWrite = ends[1];

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGPIPE, &ignore, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot ignore SIGPIPE");

    struct sigaction note {};
    note.sa_handler = NoteStopSignal;
    sigemptyset(&note.sa_mask);
    for (const int signal : kStopSignals)
        sigaddset(&note.sa_mask, signal); // one handler at a time: the first signal is the one kept
    note.sa_flags = 0;                    // no SA_RESTART: a blocked read or write returns EINTR
    for (const int signal : kStopSignals) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot read a signal's action");
        if (before.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(signal, &note, nullptr) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot handle a stop signal");
    }
}

int StopSignalDescriptor() noexcept
{
    return wakeRead;
}

} // namespace fanjian::cli
