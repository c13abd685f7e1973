#pragma once

// Support for the fault tests: a run in a child process (as an unprivileged user, under a file
// size limit, with a deadline), snapshots of input trees, FIFO watches and streamed comparisons.

#include "conversion/ConversionRun.h"
#include "dictionary/ConversionDirection.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::testing {

// How the run in the child process ended.
enum class RunEnd {
    Returned,        // Run returned
    ThrewConversion, // a FileError or DictionaryError left the run: a fault, the run must show it
    ThrewOther,      // any other exception left the run
    Crashed,         // the child died of a signal or exited without reporting
    TimedOut,        // killed at the deadline
    Leaked,          // LeakSanitizer found memory the run did not free
    SetupFailed,     // the child could not take on its limits or user
};

std::string ToString(RunEnd end);

struct ChildRun {
    RunEnd end = RunEnd::Crashed;
    std::string detail;
    // What the run returned: how it ended and, after a failure, the cause it gave.
    fanjian::RunOutcome outcome = fanjian::RunOutcome::Completed;
    std::string failureMessage;
    std::string failureCategory; // "generic", "fanjian.file" or empty
    int failureValue = 0;
    std::vector<std::string> calls;
    std::uint64_t countCalls = 0;
    std::string lastCount;
    double seconds = 0;

    // The texts of the calls to `operation`, in order.
    std::vector<std::string> Texts(std::string_view operation) const;
};

struct ChildOptions {
    // Run as nobody (uid and gid 65534) when started as root; the caller gives it the trees.
    bool unprivileged = false;
    // RLIMIT_FSIZE for the child, which starts as the programs do (PrepareProcess: SIGXFSZ
    // ignored, so writes past it fail with EFBIG). 0: none.
    std::uint64_t fileSizeLimit = 0;
    // With a limit: the first write that hits it lifts the limit again, as when a full disk gets
    // space back just after a write failed.
    bool liftLimitAfterFirstFailure = false;
    int deadlineSeconds = 120;
    // Standard input, output and error closed before the child starts as the programs do.
    bool closedStandardStreams = false;
    // The child's umask; -1: this process's.
    int umask = -1;
};

inline constexpr uid_t kNobody = 65534;

// Runs one ConversionRun in a forked child and brings back what its view recorded. `hook` runs in
// the child on every view call.
ChildRun RunInChild(ConversionDirection direction, const std::string& folder, const std::string& programDirectory,
                     const ChildOptions& options,
                     const std::function<void(std::string_view operation, std::string_view text)>& hook = {});

// Hands everything under `root` (links themselves, not their targets) to `uid`:`uid`.
void GiveTree(const std::filesystem::path& root, uid_t uid);

// The state of every entry of a tree, links not followed: type, mode bits, size, content digest
// (regular files, with their modification time), link target, device number.
struct EntryState {
    char type = '?'; // f d l p s c b
    unsigned mode = 0;
    std::uint64_t size = 0;
    std::uint64_t digest = 0;
    std::int64_t modifiedNs = 0;
    std::string target;
    std::uint64_t device = 0;
    friend bool operator==(const EntryState&, const EntryState&) = default;
};

using Snapshot = std::map<std::string, EntryState>; // relative path bytes -> state

// `excluded`: relative paths left out with all below them.
Snapshot TakeSnapshot(const std::filesystem::path& root, const std::set<std::string>& excluded = {});
// Every entry changed, removed or added, one line each; empty when the trees agree.
std::vector<std::string> CompareSnapshots(const Snapshot& before, const Snapshot& after);

std::uint64_t DigestFile(const std::filesystem::path& file);

// Blocks a process in opening `fifo` for writing, which returns only when some process opens the
// FIFO for reading. Stop() tells whether that happened before it.
class FifoOpenWatch {
public:
    explicit FifoOpenWatch(const std::filesystem::path& fifo);
    ~FifoOpenWatch();
    FifoOpenWatch(const FifoOpenWatch&) = delete;
    FifoOpenWatch& operator=(const FifoOpenWatch&) = delete;
    // `pathNow`: where the FIFO is now (it may have been moved). True when it was opened.
    bool Stop(const std::filesystem::path& pathNow);

private:
    std::filesystem::path path_;
    int stop_[2] = {-1, -1};
    pid_t watcher_ = -1;
    bool openedEarly_ = false;
};

// Compares a file with the concatenation of `pieces` (each repeated its count), reading both a
// block at a time. Empty when equal, else where they differ.
std::string CompareFileWithPieces(const std::filesystem::path& file,
                                  const std::vector<std::pair<std::string, std::uint64_t>>& pieces);

} // namespace fanjian::testing
