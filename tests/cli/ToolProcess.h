#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fanjian::testing {

// Starts a program as a child process with the given descriptors as its standard input, output
// and error (-1: /dev/null), in `folder` (empty: this process's folder), with the stop signals and
// SIGPIPE at their defaults as under a shell.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, int in, int out, int err,
                   const std::filesystem::path& folder = {});

// How a child ended.
struct Ending {
    bool exited = false;
    int status = -1; // the exit status, when it exited
    int signal = 0;  // the signal that ended it, when it did not
    long maxRssKb = 0;
};
Ending WaitFor(pid_t pid);

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
