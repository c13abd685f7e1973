#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

namespace fanjian::cli {

// Standard input, output or error could not be read or written. what(): "cannot write standard
// output: No space left on device".
class StreamError : public std::system_error {
public:
    StreamError(std::string_view action, std::string_view stream, int errorNumber)
        : std::system_error(errorNumber, std::generic_category(),
                            std::string(action) + " " + std::string(stream)),
          message_(std::string(action) + " " + std::string(stream) + ": " +
                   std::generic_category().message(errorNumber))
    {
    }
    // what() adds its own decoration; this is the line for people.
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes every byte to `fd`, named `stream` in errors. Throws StreamError on any write error (EPIPE
// included: SIGPIPE is ignored) and StopRequested when a stop signal interrupts a blocked write.
// `reached`, when given, is set to the number of bytes that reached the descriptor, also when it
// throws. A descriptor left non-blocking by another program is waited on, not failed.
void WriteAll(int fd, std::string_view bytes, std::string_view stream, std::size_t* reached = nullptr);

// Reads up to `size` bytes from `fd`, waiting for them as long as it takes; 0 at the end.
// Throws StreamError on a read error and StopRequested when a stop signal arrives meanwhile.
std::size_t ReadSome(int fd, char* buffer, std::size_t size, std::string_view stream);

// True when `fd` is a terminal.
bool IsTerminal(int fd) noexcept;

} // namespace fanjian::cli
