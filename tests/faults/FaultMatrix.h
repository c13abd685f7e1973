#pragma once

// The fault matrix of a conversion run. Every case builds a tree, runs the conversion in a child
// process (as nobody where permissions matter, under a file size limit where the disk fills up,
// always with a deadline) and checks what a run promises whatever goes wrong:
//  - the run returns: no crash, no hang, no exception, no leak (under the sanitizers);
//  - it ends with the completion text, or with the failure texts and nothing after them;
//  - the input tree is the same afterwards: names, modes, bytes, links;
//  - every output it lists holds exactly the conversion of its input; the file a failure stops
//    holds complete lines of its conversion and nothing else;
// and then whatever the case checks besides. The cases live in one file per group.

#include "FaultSupport.h"
#include "TestSupport.h"
#include "conversion/ConversionRun.h"
#include "conversion/LineConverter.h"
#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"
#include "system/FileError.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fanjian::testing {

namespace fs = std::filesystem;
namespace texts = fanjian::texts;

inline constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
inline constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

enum class Outcome { Completion, Failure };

// Big5 國中華體 and GB2312 国中华体: the rows of the test dictionary.
inline const std::string kBig5Text = Bytes("B0EA A4A4 B5D8 C5E9");
inline const std::string kGbText = Bytes("B9FA D6D0 BBAA CCE5");

struct Site;

// One row of the matrix.
struct FaultCase {
    std::string name;
    std::function<void(Site&)> setup;
    Outcome outcome = Outcome::Completion;
    std::function<void(Site&, const ChildRun&)> check;
    ConversionDirection direction = kToGb;
    ChildOptions options;
    // Runs in the child on every view call.
    std::function<void(Site&, std::string_view operation, std::string_view text)> during;
    // The path handed to the run, when not the site folder.
    std::function<std::string(Site&)> folderArgument;
    // Paths (below the case's root) that the case itself changes during the run.
    std::set<std::string> changedByTheCase;
    // The site folder moves here during the run (relative to the case's root).
    std::string siteMovesTo;
    // Compare every listed output with the conversion of its input.
    bool checkOutputs = true;
    // The site belongs to another user (nobody) and the run is root's, as an administrator
    // converting a customer's site; skipped where the tests do not run as root.
    bool ownedByAnotherUser = false;

    explicit FaultCase(std::string caseName) : name(std::move(caseName)) {}
    FaultCase& Setup(std::function<void(Site&)> f) { setup = std::move(f); return *this; }
    FaultCase& Completes() { outcome = Outcome::Completion; return *this; }
    FaultCase& Fails() { outcome = Outcome::Failure; return *this; }
    FaultCase& Check(std::function<void(Site&, const ChildRun&)> f) { check = std::move(f); return *this; }
    FaultCase& Direction(ConversionDirection d) { direction = d; return *this; }
    FaultCase& Unprivileged() { options.unprivileged = true; return *this; }
    FaultCase& FileSizeLimit(std::uint64_t limit, bool liftAfterFirstFailure = false)
    {
        options.fileSizeLimit = limit;
        options.liftLimitAfterFirstFailure = liftAfterFirstFailure;
        return *this;
    }
    FaultCase& Deadline(int seconds) { options.deadlineSeconds = seconds; return *this; }
    FaultCase& ClosedStandardStreams() { options.closedStandardStreams = true; return *this; }
    FaultCase& OwnedByAnotherUser() { ownedByAnotherUser = true; return *this; }
    FaultCase& Umask(mode_t mask) { options.umask = static_cast<int>(mask); return *this; }
    FaultCase& During(std::function<void(Site&, std::string_view, std::string_view)> f) { during = std::move(f); return *this; }
    FaultCase& FolderArgument(std::function<std::string(Site&)> f) { folderArgument = std::move(f); return *this; }
    FaultCase& ChangedByTheCase(std::set<std::string> paths) { changedByTheCase = std::move(paths); return *this; }
    FaultCase& SiteMovesTo(std::string path) { siteMovesTo = std::move(path); return *this; }
    FaultCase& CheckOutputs(bool on) { checkOutputs = on; return *this; }
};

// The tree of one case: <root>/site is converted, <root>/program holds the dictionary.
struct Site {
    TempDir dir;
    fs::path root = dir.path();
    fs::path F = root / "site";
    fs::path program = root / "program";
    ConversionDirection direction = kToGb;
    std::unique_ptr<TempDir> shm;
    std::vector<std::pair<std::unique_ptr<FifoOpenWatch>, fs::path>> watches; // watch, where to stop it
    fanjian::CharacterDictionary dictionary;
    struct Descriptor {
        int fd;
        explicit Descriptor(int d) : fd(d) {}
        Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
        ~Descriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    std::vector<Descriptor> readers;

    Site()
    {
        fs::create_directory(F);
        fs::create_directory(program);
        WriteDictionary(program, {{0xB0EA, 0xB9FA}, {0xA4A4, 0xD6D0}, {0xB5D8, 0xBBAA}, {0xC5E9, 0xCCE5}});
        dictionary.Open(program.string());
    }

    std::string S() const { return F.string(); }
    fs::path Out() const { return F / std::string(texts::OutputFolderName(direction)); }
    std::string OutItem(const std::string& relative) const { return Out().string() + "/" + relative; }
    std::string InItem(const std::string& relative) const { return S() + "/" + relative; }

    void File(const std::string& relative, std::string_view bytes) const { WriteFile(F / relative, bytes); }
    void Folder(const std::string& relative) const { fs::create_directories(F / relative); }
    void Link(const fs::path& target, const std::string& relative) const
    {
        fs::create_symlink(target, F / relative);
    }
    void Mode(const fs::path& path, mode_t mode) const
    {
        if (::chmod(path.c_str(), mode) != 0)
            throw std::runtime_error("chmod " + path.string());
    }
    // Opens `path` for reading without waiting, as a reader of a FIFO would, for the whole case.
    int Reader(const fs::path& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error("cannot open " + path.string());
        readers.emplace_back(fd);
        return fd;
    }
    void Fifo(const fs::path& path, bool watch, const fs::path& stopAt = {})
    {
        if (::mkfifo(path.c_str(), 0666) != 0)
            throw std::runtime_error("mkfifo " + path.string());
        if (watch)
            watches.emplace_back(std::make_unique<FifoOpenWatch>(path), stopAt.empty() ? path : stopAt);
    }

    // The whole text converted in one go; `complete` is false when a lookup fails, and the text
    // then holds the lines before the failing one.
    struct Converted {
        std::string text;
        bool complete = true;
    };
    Converted Convert(std::string_view input) const
    {
        fanjian::SilentProgressView quiet;
        fanjian::LineConverter converter(direction, dictionary, quiet);
        Converted converted;
        try {
            converter.ConvertLines(input, true, converted.text);
        } catch (const fanjian::DictionaryError&) {
            const std::size_t start = converter.LineStart();
            converted.text.resize(start == fanjian::LineConverter::kNoLineStart ? 0 : start);
            converted.complete = false;
        }
        return converted;
    }
};

// Lines of Big5 text of many lengths, with every kind of line end and a declaration now and then.
std::string Big5Lines(std::size_t size);
bool EndsWithCrLf(std::string_view text);
// The longest prefix of `text` that ends with CR LF and is at most `limit` bytes.
std::string LinesWithin(const std::string& text, std::size_t limit);
// Where two texts first differ, with the bytes around it in hex; empty when they are equal.
std::string FirstDifference(std::string_view got, std::string_view want);
// The entries the run left out, as its view was told: the list item, then the reason.
std::set<std::string> SkippedItems(const ChildRun& run);
// The permission bits of `path`.
mode_t ModeOf(const fs::path& path);
// The run failed on `path` for `problem`, and says so.
void ExpectFileProblem(const ChildRun& run, fanjian::FileProblem problem, const fs::path& path);
// The dictionary in `program` still opens and answers.
void ExpectDictionaryIntact(const fs::path& program);
// A hook that acts once, at the first call to `operation` whose text is `text`.
std::function<void(Site&, std::string_view, std::string_view)> At(std::string operation, std::string text,
                                                                  std::function<void(Site&)> act);

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {
protected:
    void RunCase();
};

void PrintTo(const FaultCase& c, std::ostream* os);
std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info);

} // namespace fanjian::testing
