#include "FaultSupport.h"

#include "RecordingView.h"

#include "conversion/ConversionRun.h"
#include "dictionary/Errors.h"
#include "system/FileError.h"
#include "system/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#if defined(__SANITIZE_ADDRESS__)
#define FANJIAN_FAULT_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FANJIAN_FAULT_LSAN 1
#endif
#endif
#ifdef FANJIAN_FAULT_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace fs = std::filesystem;

namespace fanjian::testing {

std::string ToString(RunEnd end)
{
    switch (end) {
    case RunEnd::Returned: return "returned";
    case RunEnd::ThrewConversion: return "threw a FileError or DictionaryError";
    case RunEnd::ThrewOther: return "threw";
    case RunEnd::Crashed: return "crashed";
    case RunEnd::TimedOut: return "timed out";
    case RunEnd::Leaked: return "leaked memory";
    case RunEnd::SetupFailed: return "could not set up the child";
    }
    return "?";
}

std::vector<std::string> ChildRun::Texts(std::string_view operation) const
{
    std::vector<std::string> texts;
    const std::string prefix = std::string(operation) + " ";
    for (const std::string& call : calls) {
        if (call.rfind(prefix, 0) == 0)
            texts.push_back(call.substr(prefix.size()));
    }
    return texts;
}

namespace {

// Records from the child: one type byte, eight length bytes, the payload.
bool SendRecord(int fd, char type, std::string_view payload)
{
    std::string record(1, type);
    const std::uint64_t length = payload.size();
    record.append(reinterpret_cast<const char*>(&length), sizeof length);
    record.append(payload);
    std::string_view rest = record;
    while (!rest.empty()) {
        const ssize_t put = ::write(fd, rest.data(), rest.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        rest.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

void LiftFileSizeLimit(int)
{
    const struct rlimit none = {RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &none);
}

int ChildMain(ConversionDirection direction, const std::string& folder, const std::string& programDirectory,
              const ChildOptions& options,
              const std::function<void(std::string_view, std::string_view)>& hook, int fd)
{
    const auto fail = [fd](const std::string& what) {
        SendRecord(fd, 'E', std::to_string(static_cast<int>(RunEnd::SetupFailed)) + " " + what + ": " +
                                std::strerror(errno));
        return 0;
    };
    if (options.closedStandardStreams) {
        for (int stream = 0; stream <= 2; ++stream)
            ::close(stream);
    }
    if (options.umask >= 0)
        ::umask(static_cast<mode_t>(options.umask));
    // The start of both programs, before anything else.
    if (!PrepareProcess())
        return fail("PrepareProcess");
    if (options.fileSizeLimit != 0) {
        if (options.liftLimitAfterFirstFailure) {
            struct sigaction action {};
            action.sa_handler = LiftFileSizeLimit;
            if (::sigaction(SIGXFSZ, &action, nullptr) != 0)
                return fail("sigaction");
        }
        const struct rlimit limit = {options.fileSizeLimit, RLIM_INFINITY};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return fail("setrlimit");
    }
    if (options.unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            return fail("dropping to nobody");
        // Changing user makes the process undumpable, which would keep LeakSanitizer from
        // stopping it to look at its memory.
        if (::prctl(PR_SET_DUMPABLE, 1) != 0)
            return fail("prctl");
        if (::geteuid() != kNobody)
            return fail("still privileged");
    }

    RunEnd end = RunEnd::Returned;
    std::string detail;
    std::string outcome = "0";
    std::string failure;
    std::string cause;
    {
        RecordingView view;
        view.countsOnly = true;
        view.onCall = hook;
        try {
            const fanjian::RunResult returned = ConversionRun().Run(direction, folder, programDirectory, view);
            outcome = std::to_string(static_cast<int>(returned.outcome));
            if (returned.failure) {
                failure = returned.failure->message;
                cause = std::string(returned.failure->error ? returned.failure->error.category().name() : "") + " " +
                        std::to_string(returned.failure->error.value());
            }
        } catch (const FileError& e) {
            end = RunEnd::ThrewConversion;
            detail = e.what();
        } catch (const DictionaryError& e) {
            end = RunEnd::ThrewConversion;
            detail = e.what();
        } catch (const std::exception& e) {
            end = RunEnd::ThrewOther;
            detail = e.what();
        } catch (...) {
            end = RunEnd::ThrewOther;
        }
        for (const std::string& call : view.calls) {
            if (!SendRecord(fd, 'C', call))
                return 1;
        }
        SendRecord(fd, 'N', std::to_string(view.countCalls));
        SendRecord(fd, 'L', view.lastCount);
        SendRecord(fd, 'O', outcome);
        SendRecord(fd, 'F', failure);
        SendRecord(fd, 'W', cause);
    }
#ifdef FANJIAN_FAULT_LSAN
    if (end == RunEnd::Returned && __lsan_do_recoverable_leak_check() != 0)
        end = RunEnd::Leaked;
#endif
    SendRecord(fd, 'E', std::to_string(static_cast<int>(end)) + " " + detail);
    return 0;
}

} // namespace

ChildRun RunInChild(ConversionDirection direction, const std::string& folder, const std::string& programDirectory,
                     const ChildOptions& options,
                     const std::function<void(std::string_view operation, std::string_view text)>& hook)
{
    ChildRun result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        ::_exit(ChildMain(direction, folder, programDirectory, options, hook, fds[1]));
    }
    ::close(fds[1]);

    std::string data;
    bool timedOut = false;
    const auto deadline = start + std::chrono::seconds(options.deadlineSeconds);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        struct pollfd p = {fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    bool ended = false;
    std::size_t at = 0;
    while (data.size() - at >= 9) {
        const char type = data[at];
        std::uint64_t length;
        std::memcpy(&length, data.data() + at + 1, sizeof length);
        if (data.size() - at - 9 < length)
            break;
        std::string payload = data.substr(at + 9, length);
        at += 9 + length;
        if (type == 'C') {
            result.calls.push_back(std::move(payload));
        } else if (type == 'N') {
            result.countCalls = std::stoull(payload);
        } else if (type == 'L') {
            result.lastCount = std::move(payload);
        } else if (type == 'O') {
            result.outcome = static_cast<fanjian::RunOutcome>(std::stoi(payload));
        } else if (type == 'F') {
            result.failureMessage = std::move(payload);
        } else if (type == 'W' && !payload.empty()) {
            const std::size_t space = payload.rfind(' ');
            result.failureCategory = payload.substr(0, space);
            result.failureValue = std::stoi(payload.substr(space + 1));
        } else if (type == 'E') {
            const std::size_t space = payload.find(' ');
            result.end = static_cast<RunEnd>(std::stoi(payload.substr(0, space)));
            result.detail = payload.substr(space + 1);
            ended = true;
        }
    }
    if (timedOut) {
        result.end = RunEnd::TimedOut;
        result.detail = "after " + std::to_string(options.deadlineSeconds) + " s";
    } else if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.end = RunEnd::Crashed;
        result.detail = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                            : "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return result;
}

void GiveTree(const fs::path& root, uid_t uid)
{
    if (::lchown(root.c_str(), uid, uid) != 0)
        throw std::runtime_error("cannot hand over " + root.string());
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (::lchown(it->path().c_str(), uid, uid) != 0)
            throw std::runtime_error("cannot hand over " + it->path().string());
    }
}

std::uint64_t DigestFile(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot read " + file.string());
    // One buffer for every file: a snapshot digests tens of thousands of small files, and a fresh
    // megabyte for each (zeroed, and mapped anew under AddressSanitizer) costs minutes.
    static std::vector<char> buffer(1 << 20);
    std::uint64_t h = 0xcbf29ce484222325ULL;
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            throw std::runtime_error("cannot read " + file.string());
        }
        if (got == 0)
            break;
        const std::size_t n = static_cast<std::size_t>(got);
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, buffer.data() + i, 8);
            h = (h ^ word) * 0x9E3779B97F4A7C15ULL;
            h ^= h >> 29;
        }
        for (; i < n; ++i)
            h = (h ^ static_cast<unsigned char>(buffer[i])) * 0x100000001B3ULL;
        total += n;
    }
    ::close(fd);
    return h ^ total;
}

namespace {

void SnapshotInto(const fs::path& root, const std::string& relative, const std::set<std::string>& excluded,
                  Snapshot& snapshot)
{
    const fs::path folder = relative.empty() ? root : root / relative;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        snapshot[relative].target = "<unreadable folder>";
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        if (excluded.count(path))
            continue;
        const fs::path full = root / path;
        struct stat status;
        if (::lstat(full.c_str(), &status) != 0)
            continue; // gone while looking
        EntryState state;
        state.mode = status.st_mode & 07777;
        switch (status.st_mode & S_IFMT) {
        case S_IFREG:
            state.type = 'f';
            state.size = static_cast<std::uint64_t>(status.st_size);
            state.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
            try {
                state.digest = DigestFile(full);
            } catch (const std::runtime_error&) {
                state.target = "<unreadable file>";
            }
            break;
        case S_IFDIR: state.type = 'd'; break;
        case S_IFLNK: {
            state.type = 'l';
            std::string target(4096, '\0');
            const ssize_t n = ::readlink(full.c_str(), target.data(), target.size());
            target.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
            state.target = target;
            break;
        }
        case S_IFIFO: state.type = 'p'; break;
        case S_IFSOCK: state.type = 's'; break;
        case S_IFCHR: state.type = 'c'; state.device = status.st_rdev; break;
        case S_IFBLK: state.type = 'b'; state.device = status.st_rdev; break;
        default: break;
        }
        snapshot[path] = state;
        if (state.type == 'd')
            SnapshotInto(root, path, excluded, snapshot);
    }
}

std::string Describe(const EntryState& s)
{
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", s.mode);
    std::string text = std::string(1, s.type) + " mode " + mode;
    if (s.type == 'f')
        text += " size " + std::to_string(s.size) + " digest " + std::to_string(s.digest) + " mtime " +
                std::to_string(s.modifiedNs);
    if (!s.target.empty())
        text += " -> " + s.target;
    return text;
}

} // namespace

Snapshot TakeSnapshot(const fs::path& root, const std::set<std::string>& excluded)
{
    Snapshot snapshot;
    SnapshotInto(root, "", excluded, snapshot);
    return snapshot;
}

std::vector<std::string> CompareSnapshots(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::string> differences;
    for (const auto& [path, state] : before) {
        const auto it = after.find(path);
        if (it == after.end())
            differences.push_back("removed " + path + " (" + Describe(state) + ")");
        else if (!(it->second == state))
            differences.push_back("changed " + path + ": " + Describe(state) + " became " + Describe(it->second));
    }
    for (const auto& [path, state] : after) {
        if (!before.count(path))
            differences.push_back("added " + path + " (" + Describe(state) + ")");
    }
    return differences;
}

FifoOpenWatch::FifoOpenWatch(const fs::path& fifo) : path_(fifo)
{
    // A process, not a thread: a child forked for a run would see a thread's memory as leaked.
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(stop_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    watcher_ = ::fork();
    if (watcher_ < 0)
        throw std::runtime_error("fork failed");
    if (watcher_ == 0) {
        ::close(stop_[1]);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC); // waits for a reader
        // Opened before Stop was called: somebody else read the FIFO.
        const int flags = ::fcntl(stop_[0], F_GETFL);
        ::fcntl(stop_[0], F_SETFL, flags | O_NONBLOCK);
        char byte;
        const bool stopped = ::read(stop_[0], &byte, 1) == 1;
        if (fd >= 0)
            ::close(fd);
        ::_exit(stopped ? 0 : 1);
    }
    ::close(stop_[0]);
    stop_[0] = -1;
    // Wait until the watcher sits in its open, or a reader coming first would go unseen. The
    // kernel names the wait; where it does not, a watcher asleep a few times running is in it
    // (it does nothing else that sleeps).
    const std::string proc = "/proc/" + std::to_string(watcher_) + "/";
    const auto read = [](const std::string& file) {
        std::string text(256, '\0');
        std::FILE* f = std::fopen(file.c_str(), "r");
        if (f == nullptr)
            return std::string();
        text.resize(std::fread(text.data(), 1, text.size(), f));
        std::fclose(f);
        return text;
    };
    int asleep = 0;
    for (int i = 0; i < 5000; ++i) {
        if (read(proc + "wchan") == "wait_for_partner")
            return;
        const std::string stat = read(proc + "stat");
        const std::size_t close = stat.rfind(')');
        asleep = close != std::string::npos && stat.compare(close, 4, ") S ") == 0 ? asleep + 1 : 0;
        if (asleep >= 20)
            return;
        ::usleep(1000);
    }
    ::kill(watcher_, SIGKILL);
    while (::waitpid(watcher_, nullptr, 0) < 0 && errno == EINTR) {
    }
    watcher_ = -1;
    throw std::runtime_error("the FIFO watch never started waiting");
}

FifoOpenWatch::~FifoOpenWatch()
{
    if (watcher_ > 0)
        Stop(path_);
}

bool FifoOpenWatch::Stop(const fs::path& pathNow)
{
    if (watcher_ <= 0)
        return openedEarly_;
    // The watcher may be gone already (the FIFO was opened): then nobody reads the stop pipe.
    const char byte = 's';
    if (::write(stop_[1], &byte, 1) != 1 && errno != EPIPE)
        throw std::runtime_error("cannot stop the FIFO watch");
    // Be the reader the watcher waits for.
    const int fd = ::open(pathNow.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int status = 0;
    while (::waitpid(watcher_, &status, 0) < 0 && errno == EINTR) {
    }
    if (fd >= 0)
        ::close(fd);
    ::close(stop_[1]);
    watcher_ = -1;
    openedEarly_ = WIFEXITED(status) && WEXITSTATUS(status) == 1;
    return openedEarly_;
}

std::string CompareFileWithPieces(const fs::path& file,
                                  const std::vector<std::pair<std::string, std::uint64_t>>& pieces)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "cannot open " + file.string();
    std::vector<char> buffer(4 << 20);
    std::size_t piece = 0;
    std::uint64_t repeat = 0;
    std::size_t inPiece = 0;
    std::uint64_t offset = 0;
    // Skips pieces that are used up.
    const auto settle = [&] {
        while (piece < pieces.size() && (repeat >= pieces[piece].second || pieces[piece].first.empty())) {
            ++piece;
            repeat = 0;
            inPiece = 0;
        }
    };
    std::string problem;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            problem = "cannot read " + file.string();
            break;
        }
        if (got == 0) {
            settle();
            if (piece < pieces.size())
                problem = "the file ends early, at byte " + std::to_string(offset);
            break;
        }
        std::size_t at = 0;
        const std::size_t n = static_cast<std::size_t>(got);
        while (at < n) {
            settle();
            if (piece == pieces.size()) {
                problem = "the file goes on past the expected end, at byte " + std::to_string(offset);
                break;
            }
            const std::string& text = pieces[piece].first;
            const std::size_t take = std::min(n - at, text.size() - inPiece);
            if (std::memcmp(buffer.data() + at, text.data() + inPiece, take) != 0) {
                std::size_t i = 0;
                while (buffer[at + i] == text[inPiece + i])
                    ++i;
                problem = "the file differs at byte " + std::to_string(offset + i);
                break;
            }
            at += take;
            offset += take;
            inPiece += take;
            if (inPiece == text.size()) {
                inPiece = 0;
                ++repeat;
            }
        }
        if (!problem.empty())
            break;
    }
    ::close(fd);
    return problem;
}

} // namespace fanjian::testing
