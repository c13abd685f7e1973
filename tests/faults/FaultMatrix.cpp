#include "FaultMatrix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace fanjian::testing {

namespace {

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

void CheckOutcome(const FaultCase& c, const ChildRun& run)
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

void CheckOutputs(const FaultCase& c, const Site& site, const ChildRun& run, const std::string& folderArgument,
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


} // namespace

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

void FaultMatrix::RunCase()
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
    if (c.ownedByAnotherUser) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "handing the folder to another user needs root";
        GiveTree(site.F, kNobody);
    }

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
    const ChildRun run = RunInChild(c.direction, folder, site.program.string(), c.options, hook);

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

std::set<std::string> SkippedItems(const ChildRun& run)
{
    const std::vector<std::string> items = run.Texts("AddSkippedItem");
    return {items.begin(), items.end()};
}

mode_t ModeOf(const fs::path& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("cannot look at " + path.string());
    return status.st_mode & 07777;
}

void ExpectFileProblem(const ChildRun& run, fanjian::FileProblem problem, const fs::path& path)
{
    EXPECT_EQ(run.outcome, fanjian::RunOutcome::Failed);
    EXPECT_EQ(run.failureCategory, fanjian::FileProblemCategory().name()) << run.failureMessage;
    EXPECT_EQ(run.failureValue, static_cast<int>(problem)) << run.failureMessage;
    EXPECT_EQ(run.failureMessage.find(path.string() + ": " + fanjian::make_error_code(problem).message()) !=
                  std::string::npos,
              true)
        << run.failureMessage;
}

void ExpectDictionaryIntact(const fs::path& program)
{
    fanjian::CharacterDictionary dictionary;
    dictionary.Open(program.string());
    EXPECT_EQ(dictionary.Lookup(kToGb, 0xB0EA), 0xB9FA);
}

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
} // namespace fanjian::testing
