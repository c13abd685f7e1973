#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fanjian::testing {

// For StartProcess: the child starts with this standard descriptor closed.
inline constexpr int kClosed = -2;

// Starts a program as a child process with the given descriptors as its standard input, output
// and error (-1: /dev/null), in `folder` (empty: this process's folder), with the stop signals,
// SIGPIPE and SIGXFSZ at their defaults as under a shell, and a file size limit (ulimit -f) when
// `fileSizeLimit` is not 0.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, int in, int out, int err,
                   const std::filesystem::path& folder = {}, std::uint64_t fileSizeLimit = 0);

// How a child ended.
struct Ending {
    bool exited = false;
    int status = -1; // the exit status, when it exited
    int signal = 0;  // the signal that ended it, when it did not
    long maxRssKb = 0;
    bool timedOut = false; // killed at the deadline
};
Ending WaitFor(pid_t pid);
Ending WaitFor(pid_t pid, std::chrono::seconds deadline);

// A finished run of a program with its input from `input` (bytes) and its output and errors
// collected in files.
struct ToolRun {
    Ending ending;
    std::string out;
    std::string err;
};
ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input = {},
                   const std::filesystem::path& folder = {});

// fanjian-convert as built, beside the build's mervik.pcx.
ToolRun RunConvert(const std::vector<std::string>& args, const std::string& input = {},
                   const std::filesystem::path& folder = {});

// Every file under `root` (relative path -> bytes).
std::vector<std::pair<std::string, std::string>> TreeFiles(const std::filesystem::path& root);

} // namespace fanjian::testing
