#pragma once

#include <csignal>

namespace fanjian::cli {

// SIGINT, SIGTERM and SIGHUP end fanjian-convert as closing the window ends the program: the run
// stops at its next pass over its events, its files are closed with the file in progress cut back
// to its last complete line, and the tool exits with 128 + the signal number.
//
// The handler does no work: it notes the first signal and writes a byte into a pipe. The run
// looks at the note (one load) each time it passes over its events; a wait for input or output
// polls the pipe beside its descriptor. The handler is installed without SA_RESTART, so that a
// read or write blocked on a pipe or terminal returns at once with EINTR.
//
// SIGPIPE is ignored: writing to a reader that has gone fails with EPIPE, which fails the run.

// Installs the handler (once). A stop signal that was ignored when the tool started (nohup, a
// background job of a script) stays ignored. Throws std::system_error when the pipe cannot be made.
void InstallStopSignals();

namespace detail {
extern volatile std::sig_atomic_t pendingStopSignal;
}

// The first stop signal that arrived, or 0.
inline int PendingStopSignal() noexcept
{
    return detail::pendingStopSignal;
}

// Readable once a stop signal has arrived; -1 before InstallStopSignals.
int StopSignalDescriptor() noexcept;

// Thrown where a stop signal is seen; it unwinds a run like the closing window's ProgramClosing.
struct StopRequested {
    int signal;
};

// Throws StopRequested when a stop signal has arrived.
inline void StopIfSignalled()
{
    if (const int signal = PendingStopSignal(); signal != 0) [[unlikely]]
        throw StopRequested{signal};
}

// The tool's exit status after a stop signal.
constexpr int StopExitStatus(int signal) noexcept
{
    return 128 + signal;
}

} // namespace fanjian::cli
