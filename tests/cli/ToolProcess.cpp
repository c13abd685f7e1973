#include "ToolProcess.h"

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fanjian::testing {

namespace fs = std::filesystem;

pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, int in, int out, int err,
                   const fs::path& folder, std::uint64_t fileSizeLimit)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string folderText = folder.string();

    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        const int given[3] = {in, out, err};
        int moved[3];
        for (int i = 0; i < 3; ++i)
            moved[i] = given[i] == kClosed ? -1 : ::fcntl(given[i] >= 0 ? given[i] : null, F_DUPFD_CLOEXEC, 10);
        for (int i = 0; i < 3; ++i) {
            if (moved[i] < 0)
                ::close(i);
            else if (::dup2(moved[i], i) < 0)
                ::_exit(126);
        }
        const rlimit limit = {fileSizeLimit, RLIM_INFINITY};
        if (fileSizeLimit != 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(126);
        if (!folderText.empty() && ::chdir(folderText.c_str()) != 0)
            ::_exit(126);
        // The test process may have set signals aside; the tool starts as from a shell.
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
            ::sigaction(signal, &standard, nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

Ending WaitFor(pid_t pid)
{
    int raw = 0;
    rusage usage{};
    pid_t got;
    do {
        got = ::wait4(pid, &raw, 0, &usage);
    } while (got < 0 && errno == EINTR);
    if (got != pid)
        throw std::runtime_error("wait4 failed");
    Ending ending;
    ending.exited = WIFEXITED(raw);
    ending.status = ending.exited ? WEXITSTATUS(raw) : -1;
    ending.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    ending.maxRssKb = usage.ru_maxrss;
    return ending;
}

Ending WaitFor(pid_t pid, std::chrono::seconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    // Whether the child has ended, leaving it to be waited for.
    const auto ended = [pid] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
    };
    while (!ended() && std::chrono::steady_clock::now() < end)
        ::usleep(10000);
    const bool timedOut = !ended();
    if (timedOut)
        ::kill(pid, SIGKILL);
    Ending ending = WaitFor(pid);
    ending.timedOut = timedOut;
    return ending;
}

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                   const fs::path& folder)
{
    const TempDir temp;
    WriteFile(temp.path() / "in", input);
    const int in = ::open((temp.path() / "in").c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open((temp.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (in < 0 || out < 0 || err < 0)
        throw std::runtime_error("cannot open the child's files");
    const pid_t pid = StartProcess(program, args, in, out, err, folder);
    ::close(in);
    ::close(out);
    ::close(err);
    ToolRun run;
    run.ending = WaitFor(pid);
    run.out = ReadFile(temp.path() / "out");
    run.err = ReadFile(temp.path() / "err");
    return run;
}

ToolRun RunConvert(const std::vector<std::string>& args, const std::string& input, const fs::path& folder)
{
    return RunProgram(FANJIAN_CONVERT, args, input, folder);
}

std::vector<std::pair<std::string, std::string>> TreeFiles(const fs::path& root)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files.emplace_back(fs::relative(entry.path(), root).string(), ReadFile(entry.path()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace fanjian::testing
