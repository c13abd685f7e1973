// The fault matrix of a conversion run. Every case builds a tree, runs the conversion in a child
// process (as nobody where permissions matter, under a file size limit where the disk fills up,
// always with a deadline) and checks what a run promises whatever goes wrong:
//  - the run returns: no crash, no hang, no exception, no leak (under the sanitizers);
//  - it ends with the completion text, or with the failure texts and nothing after them;
//  - the input tree is the same afterwards: names, modes, bytes, links;
//  - every output it lists holds exactly the conversion of its input; the file a failure stops
//    holds complete lines of its conversion and nothing else;
// and then whatever the case checks besides.

#include "FaultSupport.h"
#include "TestSupport.h"
#include "conversion/ConversionRun.h"
#include "dictionary/Errors.h"
#include "conversion/LineConverter.h"
#include "dictionary/CharacterDictionary.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

using fanjian::ConversionDirection;
using namespace fanjian::testing;
namespace fs = std::filesystem;
namespace texts = fanjian::texts;

namespace {

constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

enum class Outcome { Completion, Failure };

// Big5 國中華體 and GB2312 国中华体: the rows of the test dictionary.
const std::string kBig5Text = Bytes("B0EA A4A4 B5D8 C5E9");
const std::string kGbText = Bytes("B9FA D6D0 BBAA CCE5");

struct Site;

// One row of the matrix.
struct FaultCase {
    std::string name;
    std::function<void(Site&)> setup;
    Outcome outcome = Outcome::Completion;
    std::function<void(Site&, const RunResult&)> check;
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

    explicit FaultCase(std::string caseName) : name(std::move(caseName)) {}
    FaultCase& Setup(std::function<void(Site&)> f) { setup = std::move(f); return *this; }
    FaultCase& Completes() { outcome = Outcome::Completion; return *this; }
    FaultCase& Fails() { outcome = Outcome::Failure; return *this; }
    FaultCase& Check(std::function<void(Site&, const RunResult&)> f) { check = std::move(f); return *this; }
    FaultCase& Direction(ConversionDirection d) { direction = d; return *this; }
    FaultCase& Unprivileged() { options.unprivileged = true; return *this; }
    FaultCase& FileSizeLimit(std::uint64_t limit, bool liftAfterFirstFailure = false)
    {
        options.fileSizeLimit = limit;
        options.liftLimitAfterFirstFailure = liftAfterFirstFailure;
        return *this;
    }
    FaultCase& Deadline(int seconds) { options.deadlineSeconds = seconds; return *this; }
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
std::string Big5Lines(std::size_t size)
{
    std::string text;
    unsigned n = 0;
    while (text.size() < size) {
        ++n;
        text += "line " + std::to_string(n) + " ";
        for (unsigned i = 0; i < n % 37; ++i)
            text += kBig5Text;
        if (n % 11 == 0)
            text += "<meta charset=big5>";
        text += n % 3 == 0 ? "\r\n" : n % 3 == 1 ? "\n" : "\r";
    }
    return text;
}

bool EndsWithCrLf(std::string_view text)
{
    return text.size() >= 2 && text.substr(text.size() - 2) == "\r\n";
}

// The longest prefix of `text` that ends with CR LF and is at most `limit` bytes.
std::string LinesWithin(const std::string& text, std::size_t limit)
{
    std::size_t end = std::min(limit, text.size());
    while (end >= 2 && text.compare(end - 2, 2, "\r\n") != 0)
        --end;
    return text.substr(0, end < 2 ? 0 : end);
}

// Where two texts first differ, with the bytes around it in hex; empty when they are equal.
std::string FirstDifference(std::string_view got, std::string_view want)
{
    if (got == want)
        return {};
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    const auto hex = [at](std::string_view bytes) {
        static const char* digits = "0123456789ABCDEF";
        std::string text;
        for (unsigned char c : bytes.substr(std::min(at, bytes.size()), 16)) {
            text += digits[c >> 4];
            text += digits[c & 15];
        }
        return text;
    };
    return "at byte " + std::to_string(at) + " of " + std::to_string(got.size()) + " (want " +
           std::to_string(want.size()) + "): " + hex(got) + " instead of " + hex(want);
}

// Every regular file or link up to two levels below the output folder, before the run.
std::set<std::string> OutputsBefore(const fs::path& out)
{
    std::set<std::string> paths;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(out, ec)) {
        paths.insert(entry.path().string());
        std::error_code inner;
        if (entry.is_directory(inner)) {
            for (const auto& deeper : fs::directory_iterator(entry.path(), inner))
                paths.insert(deeper.path().string());
        }
    }
    return paths;
}

constexpr std::uint64_t kReadableLimit = 64u << 20; // bigger files are checked by their cases

void CheckOutcome(const FaultCase& c, const RunResult& run)
{
    const std::vector<std::string> statuses = run.Texts("ShowStatus");
    const std::vector<std::string> sources = run.Texts("AddSourceListItem");
    const std::vector<std::string> results = run.Texts("AddResultListItem");
    const std::string last = statuses.empty() ? "(no status)" : statuses.back();
    if (c.outcome == Outcome::Completion) {
        ASSERT_EQ(last, texts::Completion(c.direction)) << "the run should complete";
        EXPECT_EQ(sources.size(), results.size()) << "every file read is written";
        return;
    }
    // A failure: its three texts come last, no completion anywhere.
    ASSERT_EQ(last, texts::kFailureStatus) << "the run should fail";
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), std::string(texts::Completion(c.direction))), 0);
    ASSERT_GE(run.calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(run.calls.end() - 3, run.calls.end()),
              (std::vector<std::string>{"ShowStatus " + std::string(texts::kFailureStatus),
                                        "AddSourceListItem " + std::string(texts::kFailureItem),
                                        "AddSourceListItem " + std::string(texts::kReinstallItem)}));
    ASSERT_GE(sources.size(), 2u);
    const std::size_t files = sources.size() - 2;
    EXPECT_TRUE(results.size() == files || results.size() + 1 == files)
        << files << " files read, " << results.size() << " written";
}

// The output a source item goes to, as the run names it.
std::string OutputOf(const std::string& folderArgument, const Site& site, const std::string& sourceItem)
{
    const std::string prefix = fanjian::ShortPath(folderArgument) + "/";
    if (sourceItem.rfind(prefix, 0) != 0)
        return {};
    return folderArgument + "/" + std::string(texts::OutputFolderName(site.direction)) + "/" +
           sourceItem.substr(prefix.size());
}

void CheckOutputs(const FaultCase& c, const Site& site, const RunResult& run, const std::string& folderArgument,
                  const std::set<std::string>& outputsBefore)
{
    std::vector<std::string> sources = run.Texts("AddSourceListItem");
    const std::vector<std::string> results = run.Texts("AddResultListItem");
    if (c.outcome == Outcome::Failure && sources.size() >= 2)
        sources.resize(sources.size() - 2);
    for (std::size_t i = 0; i < results.size() && i < sources.size(); ++i) {
        EXPECT_EQ(results[i], OutputOf(folderArgument, site, sources[i])) << "file " << i;
        struct stat status;
        if (::stat(sources[i].c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            static_cast<std::uint64_t>(status.st_size) > kReadableLimit)
            continue;
        const Site::Converted expected = site.Convert(ReadFile(sources[i]));
        ASSERT_TRUE(expected.complete) << sources[i];
        const std::string output = ReadFile(results[i]);
        EXPECT_EQ(FirstDifference(output, expected.text), "") << results[i];
    }
    // The file a failure stopped: complete lines of its conversion or nothing, when the run
    // created it.
    if (c.outcome == Outcome::Failure && sources.size() == results.size() + 1) {
        const std::string input = sources.back();
        const std::string output = OutputOf(folderArgument, site, input);
        struct stat in, out;
        if (output.empty() || outputsBefore.count(output) || ::stat(input.c_str(), &in) != 0 ||
            !S_ISREG(in.st_mode) || static_cast<std::uint64_t>(in.st_size) > kReadableLimit ||
            ::lstat(output.c_str(), &out) != 0 || !S_ISREG(out.st_mode))
            return;
        const std::string left = ReadFile(output);
        const std::string expected = site.Convert(ReadFile(input)).text;
        EXPECT_TRUE(expected.compare(0, left.size(), left) == 0 && left.size() <= expected.size())
            << output << " holds bytes that are no prefix of its conversion";
        EXPECT_TRUE(left.empty() || EndsWithCrLf(left)) << output << " ends inside a line, at " << left.size();
    }
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {
protected:
    void RunCase()
    {
        const FaultCase& c = GetParam();
        Site site;
        site.direction = c.direction;
        if (c.setup)
            c.setup(site);
        if (IsSkipped())
            return;
        if (c.options.unprivileged && ::geteuid() == 0)
            GiveTree(site.root, kNobody);

        const std::string out = "site/" + std::string(texts::OutputFolderName(c.direction));
        struct stat outStatus;
        const bool outIsLink = ::lstat((site.root / out).c_str(), &outStatus) == 0 && S_ISLNK(outStatus.st_mode);
        std::set<std::string> excluded = c.changedByTheCase;
        excluded.insert("program");
        if (!outIsLink)
            excluded.insert(out);
        const Snapshot before = TakeSnapshot(site.root, excluded);
        const std::set<std::string> outputsBefore = OutputsBefore(site.Out());

        const std::string folder = c.folderArgument ? c.folderArgument(site) : site.S();
        std::function<void(std::string_view, std::string_view)> hook;
        if (c.during) {
            hook = [&site, during = c.during](std::string_view operation, std::string_view text) mutable {
                during(site, operation, text);
            };
        }
        const RunResult run = RunInChild(c.direction, folder, site.program.string(), c.options, hook);

        for (auto& [watch, stopAt] : site.watches)
            EXPECT_FALSE(watch->Stop(stopAt)) << "the run opened the FIFO " << stopAt;
        ASSERT_EQ(run.end, RunEnd::Returned) << ToString(run.end) << ": " << run.detail;
        CheckOutcome(c, run);

        Snapshot after;
        if (c.siteMovesTo.empty()) {
            after = TakeSnapshot(site.root, excluded);
        } else {
            std::set<std::string> movedExcluded;
            for (const std::string& path : excluded)
                movedExcluded.insert(path.rfind("site/", 0) == 0 ? c.siteMovesTo + path.substr(4) : path);
            for (auto& [path, state] : TakeSnapshot(site.root, movedExcluded)) {
                const bool moved = path == c.siteMovesTo || path.rfind(c.siteMovesTo + "/", 0) == 0;
                after[moved ? "site" + path.substr(c.siteMovesTo.size()) : path] = state;
            }
        }
        const std::vector<std::string> changes = CompareSnapshots(before, after);
        EXPECT_TRUE(changes.empty()) << "the input changed:\n" << ::testing::PrintToString(changes);

        if (c.checkOutputs)
            CheckOutputs(c, site, run, folder, outputsBefore);
        if (c.check)
            c.check(site, run);
    }
};

TEST_P(FaultMatrix, KeepsItsPromises)
{
    RunCase();
}

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info)
{
    return info.param.name;
}

// A hook that acts once, at the first call to `operation` whose text is `text`.
std::function<void(Site&, std::string_view, std::string_view)> At(std::string operation, std::string text,
                                                                  std::function<void(Site&)> act)
{
    return [operation, text, act, done = false](Site& site, std::string_view op, std::string_view t) mutable {
        if (!done && op == operation && t == text) {
            done = true;
            act(site);
        }
    };
}

// ---------------------------------------------------------------------------------------------
// Reading: the folder and the input files.

const std::vector<FaultCase> kReadingCases = {
    FaultCase("InputFileUnreadable")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", kBig5Text + "\n");
            s.Mode(s.F / "b.htm", 0);
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/a.htm")}));
            EXPECT_EQ(r.Texts("AddSourceListItem")[1], s.InItem("b.htm"));
            EXPECT_FALSE(fs::exists(s.Out() / "b.htm"));
        })
        .Unprivileged(),
    FaultCase("InputFileUnreadableInASubfolder")
        .Setup([](Site& s) {
            s.Folder("t");
            s.File("t/b.htm", kBig5Text + "\n");
            s.Mode(s.F / "t" / "b.htm", 0);
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem")[0], s.InItem("t/b.htm"));
            // Its folders are made before the file is opened; its output file never is.
            EXPECT_TRUE(fs::is_directory(s.Out() / "t"));
            EXPECT_FALSE(fs::exists(s.Out() / "t" / "b.htm"));
        })
        .Unprivileged(),
    FaultCase("SubfolderUnreadable")
        .Setup([](Site& s) {
            s.Folder("locked");
            s.File("locked/a.htm", kBig5Text);
            s.Mode(s.F / "locked", 0);
            s.Folder("open");
            s.File("open/b.htm", kBig5Text);
            s.File("top.htm", kBig5Text);
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_FALSE(fs::exists(s.Out() / "locked"));
            EXPECT_FALSE(fs::exists(s.Out() / "top.htm")) << "no file after the failure";
            // The subfolders before the locked one, in the order the folder lists them, are
            // converted; none after it.
            std::vector<std::string> order;
            for (const auto& entry : fs::directory_iterator(s.F))
                order.push_back(entry.path().filename().string());
            const bool openFirst = std::find(order.begin(), order.end(), "open") <
                                   std::find(order.begin(), order.end(), "locked");
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      openFirst ? std::vector<std::string>{s.OutItem("open/b.htm")} : std::vector<std::string>{});
        })
        .Unprivileged(),
    // Names can be read, but not what they stand for.
    FaultCase("SubfolderListableButNotSearchable")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
            s.Mode(s.F / "s", 0444);
        })
        .Fails()
        .Check([](Site& s, const RunResult&) { EXPECT_FALSE(fs::exists(s.Out() / "s" / "a.htm")); })
        .Unprivileged(),
    FaultCase("FolderListableButNotSearchable")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text);
            s.Mode(s.F, 0444);
        })
        .Fails()
        .Unprivileged(),
    FaultCase("FolderPathNamesAFile")
        .Setup([](Site& s) { s.File("a.htm", kBig5Text); })
        .Fails()
        .Check([](Site&, const RunResult& r) { EXPECT_EQ(r.Texts("AddSourceListItem").size(), 2u); })
        .FolderArgument([](Site& s) { return s.S() + "/a.htm/"; }),
    FaultCase("FolderPathNamesAFifo")
        .Setup([](Site& s) { s.Fifo(s.F / "pipe", true); })
        .Fails()
        .FolderArgument([](Site& s) { return s.S() + "/pipe"; }),
    // No folder can have this name; the bytes before the NUL name one that exists.
    FaultCase("FolderPathHoldsANulByte")
        .Setup([](Site& s) { s.File("notes.doc", "x"); })
        .Fails()
        .Check([](Site& s, const RunResult&) { EXPECT_FALSE(fs::exists(s.F / "GB")); })
        .FolderArgument([](Site& s) { return s.S() + std::string("\0/elsewhere", 11); }),
    FaultCase("FolderVanishesDuringTheRun")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("c.htm", kBig5Text + "\n");
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/a.htm")}));
            EXPECT_EQ(ReadFile(s.root / "moved" / "GB" / "s" / "a.htm"), kGbText + "\r\n");
            EXPECT_FALSE(fs::exists(s.F)) << "nothing made the folder again";
        })
        // It goes at the pass over the events after the first file is written.
        .During([seen = false, done = false](Site& s, std::string_view op, std::string_view) mutable {
            if (op == "AddResultListItem") {
                seen = true;
            } else if (seen && !done && op == "ProcessPendingEvents") {
                done = true;
                fs::rename(s.F, s.root / "moved");
            }
        })
        .SiteMovesTo("moved")
        .CheckOutputs(false),
    FaultCase("FolderVanishesBeforeTheFirstFile")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem").size(), 2u);
            EXPECT_FALSE(fs::exists(s.root / "moved" / "GB"));
        })
        .During(At("ShowStatus", std::string(texts::Status(kToGb)),
                   [](Site& s) { fs::rename(s.F, s.root / "moved"); }))
        .SiteMovesTo("moved"),
    FaultCase("FileDeletedBetweenListingAndOpening")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("c.htm", kBig5Text + "\n");
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/a.htm")}));
            EXPECT_FALSE(fs::exists(s.Out() / "c.htm"));
        })
        .During(At("ShowFileCount", "第 2 檔案", [](Site& s) { fs::remove(s.F / "c.htm"); }))
        .ChangedByTheCase({"site/c.htm"}),
    FaultCase("FileReplacedByAFifoAfterListing")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("c.txt", kBig5Text + "\n");
            s.Fifo(s.root / "pipe", true, s.F / "c.txt");
        })
        .Fails()
        .Check([](Site& s, const RunResult&) { EXPECT_FALSE(fs::exists(s.Out() / "c.txt")); })
        .During(At("ShowFileCount", "第 2 檔案", [](Site& s) { fs::rename(s.root / "pipe", s.F / "c.txt"); }))
        .ChangedByTheCase({"site/c.txt", "pipe"}),
};

INSTANTIATE_TEST_SUITE_P(Reading, FaultMatrix, ::testing::ValuesIn(kReadingCases), CaseName);

// ---------------------------------------------------------------------------------------------
// Writing: the output folder and files, a full disk, another file system.

constexpr std::uint64_t kLimit = (3u << 19) + 7; // 1.5 MiB and a bit: inside the second write

const std::vector<FaultCase> kWritingCases = {
    FaultCase("OutputFolderNotCreatable")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text);
            s.Mode(s.F, 0555);
        })
        .Fails()
        .Check([](Site& s, const RunResult&) { EXPECT_FALSE(fs::exists(s.Out())); })
        .Unprivileged(),
    FaultCase("OutputSubfolderNotCreatable")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
            s.File("b.htm", kBig5Text);
            s.Folder("GB");
            s.Mode(s.F / "GB", 0555);
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_TRUE(r.Texts("AddResultListItem").empty());
            EXPECT_FALSE(fs::exists(s.Out() / "s"));
        })
        .Unprivileged(),
    FaultCase("OutputPathIsADirectory")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/x.htm", kBig5Text + "\r\n" + kBig5Text);
            s.File("a.htm", kBig5Text);
            s.Folder("GB/a.htm");
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/x.htm")}));
            EXPECT_TRUE(fs::is_directory(s.Out() / "a.htm"));
            EXPECT_TRUE(fs::is_empty(s.Out() / "a.htm"));
        }),
    // An output left read-only (below GB/s: the files directly in GB would be inputs too).
    FaultCase("OutputFileReadOnly")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/x.htm", kBig5Text);
            s.Folder("GB/s");
            s.File("GB/s/x.htm", "old");
            s.Mode(s.F / "GB" / "s" / "x.htm", 0444);
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_TRUE(r.Texts("AddResultListItem").empty());
            EXPECT_EQ(ReadFile(s.Out() / "s" / "x.htm"), "old");
        })
        .Unprivileged(),
    FaultCase("DiskFullPartWayThroughAFile")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/small.htm", Big5Lines(5000));
            s.File("big.txt", Big5Lines(3 << 20));
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            ASSERT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/small.htm")}));
            const std::string expected = s.Convert(ReadFile(s.F / "big.txt")).text;
            ASSERT_GT(expected.size(), kLimit);
            const std::string left = ReadFile(s.Out() / "big.txt");
            // Every line that fitted, and not a byte of the line that did not.
            EXPECT_EQ(FirstDifference(left, LinesWithin(expected, kLimit)), "");
        })
        .FileSizeLimit(kLimit),
    FaultCase("DiskFullInsideALongLine")
        .Setup([](Site& s) {
            std::string line;
            while (line.size() < (3u << 20))
                line += "abc " + kBig5Text;
            s.File("long.htm", "first\n" + line + "\nlast\n");
        })
        .Fails()
        .Check([](Site& s, const RunResult&) {
            EXPECT_EQ(FirstDifference(ReadFile(s.Out() / "long.htm"), "first\r\n"), "");
        })
        .FileSizeLimit(2u << 20),
    FaultCase("DiskFullThenSpaceComesBack")
        .Setup([](Site& s) { s.File("big.txt", Big5Lines(3 << 20)); })
        .Fails()
        .Check([](Site& s, const RunResult&) {
            const std::string expected = s.Convert(ReadFile(s.F / "big.txt")).text;
            const std::string left = ReadFile(s.Out() / "big.txt");
            // The lines finished when the write failed may still go to disk; nothing else may.
            EXPECT_GE(left.size(), LinesWithin(expected, kLimit).size());
            EXPECT_TRUE(expected.compare(0, left.size(), left) == 0);
            EXPECT_TRUE(EndsWithCrLf(left));
        })
        .FileSizeLimit(kLimit, true),
    FaultCase("DiskFullToBig5")
        .Setup([](Site& s) { s.File("big.txt", std::string(kLimit - 5, 'a') + "\n" + kGbText + "\nz\n"); })
        .Fails()
        .Check([](Site& s, const RunResult&) {
            EXPECT_EQ(FirstDifference(ReadFile(s.Out() / "big.txt"), std::string(kLimit - 5, 'a') + "\r\n"), "");
        })
        .Direction(kToBig5)
        .FileSizeLimit(kLimit),
    FaultCase("OutputFolderOnAnotherFileSystem")
        .Setup([](Site& s) {
            struct stat here, there;
            if (::stat(s.F.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0)
                GTEST_SKIP() << "no /dev/shm";
            if (here.st_dev == there.st_dev)
                GTEST_SKIP() << "/dev/shm and " << s.F << " are on one file system here";
            s.shm = std::make_unique<TempDir>("/dev/shm");
            s.Link(s.shm->path(), "GB");
            s.Folder("s");
            s.File("s/a.htm", Big5Lines(300000));
            s.File("b.htm", Big5Lines(1000));
        })
        .Completes()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem").size(), 2u);
            EXPECT_TRUE(fs::is_regular_file(s.shm->path() / "s" / "a.htm"));
        }),
    FaultCase("DanglingLinkAtAnOutputPath")
        .Setup([](Site& s) {
            fs::create_directory(s.root / "elsewhere");
            s.Folder("GB");
            s.Link(s.root / "elsewhere" / "new.htm", "GB/a.htm");
            s.File("a.htm", kBig5Text);
        })
        .Fails()
        .Check([](Site& s, const RunResult&) {
            EXPECT_FALSE(fs::exists(s.root / "elsewhere" / "new.htm")) << "wrote through the link";
        }),
    FaultCase("DanglingLinkAtAnOutputPathIntoTheInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
            s.Folder("GB/s");
            s.Link("../../s/new.htm", "GB/s/a.htm");
        })
        .Fails(),
};

INSTANTIATE_TEST_SUITE_P(Writing, FaultMatrix, ::testing::ValuesIn(kWritingCases), CaseName);

// ---------------------------------------------------------------------------------------------
// Links between the input and the output.

const std::vector<FaultCase> kLinkCases = {
    FaultCase("OutputFolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Link(s.F, "GB");
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", kBig5Text + "\n");
        })
        .Fails(),
    FaultCase("Big5OutputFolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Link(".", "BIG5");
            s.File("a.htm", kGbText + "\n");
        })
        .Fails()
        .Direction(kToBig5),
    FaultCase("OutputFolderLinksToASubfolder")
        .Setup([](Site& s) {
            s.Folder("s");
            s.Link("s", "GB");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("a.htm", "top\n");
        })
        .Fails(),
    FaultCase("OutputSubfolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Link(s.F, "GB/s");
        })
        .Fails(),
    FaultCase("SubfolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Link(s.F, "s");
            s.File("a.htm", kBig5Text + "\n");
        })
        .Completes()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem("s/a.htm"), s.OutItem("a.htm")}));
        }),
    FaultCase("LinkLoops")
        .Setup([](Site& s) {
            s.Link("b.htm", "a.htm");
            s.Link("a.htm", "b.htm");
            s.Link("self.txt", "self.txt");
            s.Link("loop", "loop");
            s.File("real.htm", kBig5Text);
        })
        .Completes()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem"), (std::vector<std::string>{s.InItem("real.htm")}));
        }),
    FaultCase("OutputLinkedToALaterInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", "later input\n");
            s.Folder("GB/s");
            s.Link(s.F / "b.htm", "GB/s/a.htm");
        })
        .Fails(),
    FaultCase("OutputLinkedToAnEarlierInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", "earlier input\n");
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Link(s.F / "s" / "a.htm", "GB/a.htm");
        })
        .Fails()
        .Check([](Site& s, const RunResult& r) {
            // GB is a subfolder too: its a.htm is read into GB/GB; the top a.htm may not go
            // through the link.
            const std::vector<std::string> sources = r.Texts("AddSourceListItem");
            EXPECT_EQ(sources.size(), 5u);
            EXPECT_EQ(sources[2], s.InItem("a.htm"));
        }),
    FaultCase("OutputHardLinkedToAnotherInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", "another input\n");
            s.Folder("GB/s");
            fs::create_hard_link(s.F / "b.htm", s.F / "GB" / "s" / "a.htm");
        })
        .Fails(),
    // Links among the inputs alone are ordinary: each name is converted.
    FaultCase("HardLinkedInputs")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("b.htm", kBig5Text + "\n");
            fs::create_hard_link(s.F / "b.htm", s.F / "s" / "a.htm");
            fs::create_directory(s.root / "outside");
            WriteFile(s.root / "outside" / "x.txt", kBig5Text);
            s.Link(s.root / "outside" / "x.txt", "c.txt");
        })
        .Completes()
        .Check([](Site&, const RunResult& r) { EXPECT_EQ(r.Texts("AddResultListItem").size(), 3u); }),
    FaultCase("DanglingLinksAmongTheInputs")
        .Setup([](Site& s) {
            s.Link("nowhere.htm", "a.htm");
            s.Folder("s");
            s.Link("../gone", "s/b.txt");
            s.File("real.txt", kBig5Text);
        })
        .Completes()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem"), (std::vector<std::string>{s.InItem("real.txt")}));
            EXPECT_FALSE(fs::exists(s.Out() / "a.htm"));
        }),
    // A run over a folder converted before: the old output folder is a subfolder like any other,
    // and its files are outputs again.
    FaultCase("OutputFolderOfAnEarlierRun")
        .Setup([](Site& s) {
            s.File("index.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.File("GB/index.htm", kGbText + "\r\n");
        })
        .Completes()
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem("GB/index.htm"), s.OutItem("index.htm")}));
            EXPECT_EQ(ReadFile(s.Out() / "index.htm"), kGbText + "\r\n");
        }),
};

INSTANTIATE_TEST_SUITE_P(Links, FaultMatrix, ::testing::ValuesIn(kLinkCases), CaseName);

// ---------------------------------------------------------------------------------------------
// Special files with selected names: never opened, never waited on.

void BindSocket(const fs::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string p = path.string();
    if (fd < 0 || p.size() >= sizeof address.sun_path)
        throw std::runtime_error("cannot make a socket at " + p);
    std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    if (bound != 0)
        throw std::runtime_error("cannot bind " + p);
}

void OnlyTheRealFile(Site& s, const RunResult& r)
{
    EXPECT_EQ(r.Texts("AddSourceListItem"), (std::vector<std::string>{s.InItem("real.htm")}));
    EXPECT_EQ(ReadFile(s.Out() / "real.htm"), kGbText + "\r\n");
}

const std::vector<FaultCase> kSpecialFileCases = {
    FaultCase("FifosNamedLikePages")
        .Setup([](Site& s) {
            s.Fifo(s.F / "p.txt", true);
            s.Folder("s");
            s.Fifo(s.F / "s" / "q.htm", true);
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
    FaultCase("SocketNamedTxt")
        .Setup([](Site& s) {
            BindSocket(s.F / "sock.txt");
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
    FaultCase("DeviceNamedTxt")
        .Setup([](Site& s) {
            if (::mknod((s.F / "zero.txt").c_str(), S_IFCHR | 0666, makedev(1, 5)) != 0)
                GTEST_SKIP() << "mknod: " << std::strerror(errno) << " (it needs root)";
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
    FaultCase("LinksToDevicesNamedLikePages")
        .Setup([](Site& s) {
            s.Link("/dev/zero", "zero.txt");
            s.Folder("s");
            s.Link("/dev/urandom", "s/random.js");
            s.File("real.htm", kBig5Text);
        })
        .Check(OnlyTheRealFile),
};

INSTANTIATE_TEST_SUITE_P(SpecialFiles, FaultMatrix, ::testing::ValuesIn(kSpecialFileCases), CaseName);

// ---------------------------------------------------------------------------------------------
// Content: every output is compared with the whole-text conversion; these add the exact bytes.

std::string PseudoRandomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint64_t x = 0x2545F4914F6CDD1DULL;
    for (char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<char>(x >> 56);
    }
    return bytes;
}

constexpr std::size_t kBlock = 256 * 1024; // what a run reads at a time

// Terminators and lead bytes at and across the run's read blocks: the first read ends between a
// CR and its LF, which the converter keeps back, so the second ends one byte earlier in the file,
// between a lead byte and the CR LF after it.
std::string MixedTerminators()
{
    std::string text = "cr\rlf\ncrlf\r\n" + kBig5Text + "\r";
    text += std::string(kBlock - 1 - text.size(), 'x') + "\r\n";
    text += std::string(2 * kBlock - 2 - text.size(), 'y') + "\xB0\r\n";
    text += std::string(100, 'z') + "\xB0\r";
    text += "\n\r\r\n";
    text += kBig5Text + "\xA4"; // a lead byte ends the file
    return text;
}

std::size_t CountCrLf(std::string_view text)
{
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

const std::vector<FaultCase> kContentCases = {
    FaultCase("EmptyFile")
        .Setup([](Site& s) { s.File("empty.txt", ""); })
        .Check([](Site& s, const RunResult&) { EXPECT_EQ(ReadFile(s.Out() / "empty.txt"), ""); }),
    FaultCase("OnlyTerminators")
        .Setup([](Site& s) { s.File("t.txt", "\n\r\n\r\r\n\n\r"); })
        .Check([](Site& s, const RunResult&) {
            EXPECT_EQ(ReadFile(s.Out() / "t.txt"), "\r\n\r\n\r\n\r\n\r\n\r\n");
        }),
    FaultCase("LoneLeadByteAtEveryLineEnd")
        .Setup([](Site& s) { s.File("lead.txt", Bytes("61 B0 0A 62 B0 0D0A A4 0D A4")); })
        .Check([](Site& s, const RunResult&) {
            EXPECT_EQ(ReadFile(s.Out() / "lead.txt"), Bytes("61 B0 0D0A 62 B0 0D0A A4 0D0A A4 0D0A"));
        }),
    FaultCase("NulBytes")
        .Setup([](Site& s) { s.File("nul.htm", Bytes("00 00 B0EA 00 0A 00 A4A4")); })
        .Check([](Site& s, const RunResult&) {
            EXPECT_EQ(ReadFile(s.Out() / "nul.htm"), Bytes("00 00 B9FA 00 0D0A 00 D6D0 0D0A"));
        }),
    FaultCase("BinaryFileNamedHtm")
        .Setup([](Site& s) { s.File("image.htm", PseudoRandomBytes(3 * kBlock + 12345)); })
        .Check([](Site& s, const RunResult& r) {
            // Lone CRs and LFs become CR LF: the output grows; some random pairs are in the table.
            EXPECT_GT(r.countCalls, 0u);
            EXPECT_GT(fs::file_size(s.Out() / "image.htm"), fs::file_size(s.F / "image.htm"));
        }),
    FaultCase("MixedTerminatorsAcrossReadBlocks")
        .Setup([](Site& s) { s.File("mixed.txt", MixedTerminators()); })
        .Check([](Site& s, const RunResult&) {
            const std::string out = ReadFile(s.Out() / "mixed.txt");
            EXPECT_EQ(out.substr(0, 16 + kGbText.size()), "cr\r\nlf\r\ncrlf\r\n" + kGbText + "\r\n");
            EXPECT_EQ(CountCrLf(out), 10u);
            EXPECT_NE(out.find("y\xB0\r\nz"), std::string::npos);
            EXPECT_TRUE(out.ends_with("z\xB0\r\n\r\n\r\n" + kGbText + "\xA4\r\n"));
        }),
    FaultCase("GbTextToBig5")
        .Setup([](Site& s) {
            s.File("page.htm", "<meta charset=\"GB2312\" content=\"zh-cn\">\n" + kGbText + "\xB9");
        })
        .Check([](Site& s, const RunResult&) {
            EXPECT_EQ(ReadFile(s.Out() / "page.htm"),
                      "<meta charset=\"big5\" content=\"zh-tw\">\r\n" + kBig5Text + "\xB9\r\n");
        })
        .Direction(kToBig5),
};

INSTANTIATE_TEST_SUITE_P(Content, FaultMatrix, ::testing::ValuesIn(kContentCases), CaseName);

// ---------------------------------------------------------------------------------------------
// Names: bytes in, the same bytes out, in the lists and on disk.

const std::string kBig5Name = Bytes("B0EA A4A4") + ".htm"; // 國中.htm in Big5
const std::string kGbName = Bytes("B9FA D6D0") + ".txt";   // 国中.txt in GB2312
const std::string kBig5Folder = Bytes("B773 BB44");        // 新聞 in Big5
const std::string kLongName = std::string(251, 'n') + ".htm";
const std::vector<std::string> kOddNames = {"a\nb.htm",        "say \"hi\".txt", "it's.js", "\r.txt",
                                            "back\\slash.asp", "tab\there.php"};

const std::vector<FaultCase> kNameCases = {
    FaultCase("NamesInBig5AndGb")
        .Setup([](Site& s) {
            s.Folder(kBig5Folder);
            s.File(kBig5Folder + "/" + kBig5Name, kBig5Text);
            s.File(kGbName, kBig5Text);
        })
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem"),
                      (std::vector<std::string>{s.InItem(kBig5Folder + "/" + kBig5Name), s.InItem(kGbName)}));
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem(kBig5Folder + "/" + kBig5Name), s.OutItem(kGbName)}));
            EXPECT_EQ(r.Texts("ShowFileName"), (std::vector<std::string>{"檔名 " + kBig5Name, "檔名 " + kGbName}));
            EXPECT_TRUE(fs::is_regular_file(s.Out() / kBig5Folder / kBig5Name));
        }),
    FaultCase("NewlinesAndQuotesInNames")
        .Setup([](Site& s) {
            for (const std::string& name : kOddNames)
                s.File(name, kBig5Text);
        })
        .Check([](Site& s, const RunResult& r) {
            std::set<std::string> expected;
            for (const std::string& name : kOddNames) {
                expected.insert(s.OutItem(name));
                EXPECT_EQ(ReadFile(s.Out() / name), kGbText + "\r\n") << name;
            }
            const std::vector<std::string> shown = r.Texts("AddResultListItem");
            EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()), expected);
        }),
    FaultCase("NameOf255Bytes")
        .Setup([](Site& s) {
            s.Folder(std::string(255, 'd'));
            s.File(std::string(255, 'd') + "/" + kLongName, kGbText);
            s.File(kLongName, kGbText);
        })
        .Check([](Site& s, const RunResult& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem(std::string(255, 'd') + "/" + kLongName),
                                                s.OutItem(kLongName)}));
            EXPECT_EQ(ReadFile(s.Out() / kLongName), kBig5Text + "\r\n");
        })
        .Direction(kToBig5),
    FaultCase("TwentyThousandFilesInOneFolder")
        .Setup([](Site& s) {
            s.Folder("many");
            for (int i = 0; i < 20000; ++i)
                s.File("many/" + std::to_string(i) + ".txt", std::to_string(i) + kBig5Text);
        })
        .Check([](Site& s, const RunResult& r) {
            const std::vector<std::string> sources = r.Texts("AddSourceListItem");
            ASSERT_EQ(sources.size(), 20000u);
            EXPECT_EQ(std::set<std::string>(sources.begin(), sources.end()).size(), 20000u);
            EXPECT_NE(std::find(sources.begin(), sources.end(), s.InItem("many/19999.txt")), sources.end());
            EXPECT_EQ(r.Texts("ShowFileCount").back(), "第 20000 檔案");
            EXPECT_EQ(r.lastCount, "第 80000 字");
            std::cout << "20,000 files: " << r.seconds << " s\n";
        })
        .Deadline(240),
};

INSTANTIATE_TEST_SUITE_P(Names, FaultMatrix, ::testing::ValuesIn(kNameCases), CaseName);

// ---------------------------------------------------------------------------------------------
// Big inputs: outputs compared by streaming, big files removed as soon as they are checked.

// A piece of a long line that converts on its own: it starts and ends with plain bytes.
const std::string kLineUnit = std::string(4000, 'x') + kBig5Text + "ab" + Bytes("A4A4") + " charset=big5 ";
constexpr std::uint64_t kLineBytes = 200u << 20;
constexpr std::uint64_t kMiB = 1u << 20;
constexpr std::uint64_t kSparseMiBs = 1024; // a 1 GiB file
const std::string kSparseText = "\n" + kBig5Text + " charset=big5\r\n" + Bytes("B0") + "\n";

void RemoveNow(const fs::path& file)
{
    std::error_code ignored;
    fs::remove(file, ignored);
}

const std::vector<FaultCase> kBigCases = {
    FaultCase("LineOf200MB")
        .Setup([](Site& s) {
            const std::uint64_t units = kLineBytes / kLineUnit.size();
            std::string chunk;
            for (int i = 0; i < 256; ++i)
                chunk += kLineUnit;
            std::ofstream out(s.F / "long.txt", std::ios::binary);
            for (std::uint64_t u = 0; u < units; u += 256)
                out.write(chunk.data(),
                          static_cast<std::streamsize>(kLineUnit.size() * std::min<std::uint64_t>(256, units - u)));
            out.close();
            ASSERT_TRUE(out) << "cannot write the long line";
        })
        .Check([](Site& s, const RunResult& r) {
            const fs::path output = s.Out() / "long.txt";
            std::string unit = s.Convert(kLineUnit).text;
            ASSERT_TRUE(EndsWithCrLf(unit));
            unit.resize(unit.size() - 2);
            EXPECT_EQ(CompareFileWithPieces(output, {{unit, kLineBytes / kLineUnit.size()}, {"\r\n", 1}}), "");
            RemoveNow(output);
            RemoveNow(s.F / "long.txt");
            std::cout << "200 MB line: " << r.seconds << " s\n";
        })
        .Deadline(600)
        .CheckOutputs(false),
    FaultCase("SparseFileOf1GB")
        .Setup([](Site& s) {
            // Holes, and a few lines of text at the end of every MiB.
            const fs::path path = s.F / "big.txt";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            bool ok = ::ftruncate(fd, static_cast<off_t>(kSparseMiBs * kMiB)) == 0;
            for (std::uint64_t m = 1; ok && m <= kSparseMiBs; ++m)
                ok = ::pwrite(fd, kSparseText.data(), kSparseText.size(),
                              static_cast<off_t>(m * kMiB - kSparseText.size())) ==
                     static_cast<ssize_t>(kSparseText.size());
            ok = ::close(fd) == 0 && ok;
            ASSERT_TRUE(ok) << "cannot make " << path;
        })
        .Check([](Site& s, const RunResult& r) {
            const fs::path output = s.Out() / "big.txt";
            const std::string unit = s.Convert(std::string(kMiB - kSparseText.size(), '\0') + kSparseText).text;
            EXPECT_EQ(CompareFileWithPieces(output, {{unit, kSparseMiBs}}), "");
            RemoveNow(output);
            RemoveNow(s.F / "big.txt");
            EXPECT_EQ(r.countCalls, 4 * kSparseMiBs);
            std::cout << "1 GiB file: " << r.seconds << " s\n";
        })
        .Deadline(600)
        .CheckOutputs(false),
};

INSTANTIATE_TEST_SUITE_P(Big, FaultMatrix, ::testing::ValuesIn(kBigCases), CaseName);

} // namespace
