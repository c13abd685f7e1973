// fanjian-convert: the window's run from the command line (trees byte for byte, listing, status,
// exit statuses, paths), the filter against the line converter, stop signals, closed and full
// outputs, and the progress line.
#include "RecordingView.h"
#include "TestSupport.h"
#include "ToolProcess.h"
#include "cli/ConsoleView.h"
#include "cli/Options.h"
#include "cli/Signals.h"
#include "cli/StreamConversion.h"
#include "conversion/ConversionRun.h"
#include "conversion/LineConverter.h"
#include "conversion/ShownText.h"
#include "dictionary/CharacterDictionary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

using namespace fanjian;
using namespace fanjian::cli;
using namespace fanjian::testing;
namespace fs = std::filesystem;

namespace {

// Big5 and GB2312 codes of 繁 體 轉 換 中, as in the window's tests.
const std::vector<std::pair<int, int>> kDictionary = {
    {0xC163, 0xB7B1}, {0xC5E9, 0xCCE5}, {0xC2E0, 0xD7AA}, {0xB4AB, 0xBBBB}, {0xA4A4, 0xD6D0}};

const std::string kShippedDictionary = std::string(FANJIAN_PROGRAM_DIR) + "/mervik.pcx";

class Pipe {
public:
    Pipe()
    {
        if (::pipe2(ends_, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
    }
    ~Pipe()
    {
        CloseRead();
        CloseWrite();
    }
    int Read() const { return ends_[0]; }
    int Write() const { return ends_[1]; }
    void CloseRead() { Close(ends_[0]); }
    void CloseWrite() { Close(ends_[1]); }

private:
    static void Close(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int ends_[2];
};

void WriteBytes(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        ASSERT_GT(put, 0) << std::strerror(errno);
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

// Reads from `fd` until `size` bytes have come or the other end is closed.
std::string ReadBytes(int fd, std::size_t size)
{
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < size) {
        const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, size - bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// The line converter over a whole text, the reference for the filter.
// What the filter reads a text as: its first bytes that are not ASCII tell.
fanjian::TextEncoding FilterReading(std::string_view text)
{
    std::size_t high = 0;
    while (high < text.size() && static_cast<unsigned char>(text[high]) < 0x80)
        ++high;
    const std::string_view rest = text.substr(high);
    return fanjian::TellEncoding(rest, false, fanjian::cli::StreamConversion::kTellingCharacters)
        .value_or(fanjian::TellEncoding(rest, true, 0).value_or(fanjian::TextEncoding::CodePage));
}

std::string ConvertWhole(ConversionDirection direction, const std::string& programDirectory, std::string_view text,
                         fanjian::TextEncoding encoding = fanjian::TextEncoding::CodePage)
{
    CharacterDictionary dictionary;
    dictionary.Open(programDirectory);
    SilentProgressView view;
    LineConverter converter(direction, dictionary, view);
    converter.UseEncoding(encoding);
    std::string out;
    converter.ConvertLines(text, true, out);
    return out;
}

// What the window's run writes and shows for a folder: its files, and the -v listing with the
// status after it, in the form fanjian-convert -v prints them.
struct RunPicture {
    std::vector<std::pair<std::string, std::string>> files;
    std::string listing;
};

RunPicture CoreRun(ConversionDirection direction, const fs::path& site, const fs::path& programDirectory)
{
    RecordingView view;
    const RunResult result = ConversionRun().Run(direction, site.string(), programDirectory.string(), view);
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    RunPicture picture;
    for (const std::string& item : view.Texts("AddResultListItem"))
        picture.listing += item + "\n";
    picture.listing += view.Texts("ShowStatus").back() + "\n";
    picture.files = TreeFiles(site);
    return picture;
}

// The same folder converted by fanjian-convert -v, by the run in this process, and by the real
// main window when the windows are built: the same files byte for byte, the same listing and
// status. Each starts from the folder as it was (the other direction's earlier output folder in it
// is input too).
void ExpectSameAsWindow(ConversionDirection direction, const fs::path& site, const fs::path& programDirectory,
                        bool windowCanShowNames = true)
{
    const std::string flag = direction == ConversionDirection::TraditionalToSimplified ? "-s" : "-t";
    const fs::path pristine = site.string() + ".pristine";
    fs::copy(site, pristine, fs::copy_options::recursive);
    const auto restore = [&] {
        fs::remove_all(site);
        fs::copy(pristine, site, fs::copy_options::recursive);
    };

    const ToolRun tool = RunConvert({flag, "-v", "--dictionary", (programDirectory / "mervik.pcx").string(),
                                     site.string()});
    ASSERT_TRUE(tool.ending.exited && tool.ending.status == 0) << tool.err;
    EXPECT_EQ(tool.err, "");
    const auto toolFiles = TreeFiles(site);
    EXPECT_GT(toolFiles.size(), TreeFiles(pristine).size());

    restore();
    const RunPicture core = CoreRun(direction, site, programDirectory);
    EXPECT_TRUE(toolFiles == core.files);
    EXPECT_EQ(tool.out, core.listing);

#ifdef FANJIAN_WINDOW_CONVERT
    restore();
    const ToolRun window = RunProgram(FANJIAN_WINDOW_CONVERT, {flag, site.string(), programDirectory.string()});
    ASSERT_TRUE(window.ending.exited && window.ending.status == 0) << window.out << window.err;
    EXPECT_TRUE(TreeFiles(site) == toolFiles);
    if (windowCanShowNames) {
        EXPECT_EQ(window.out, tool.out);
    }
#else
    (void)windowCanShowNames;
#endif
    restore();
}

// Big5 text of every row of the shipped table, in lines of 40 characters: the real table's pairs
// in both directions.
std::pair<std::string, std::string> TableText()
{
    const std::string table = ReadFile(fs::path(FANJIAN_SOURCE_DIR) / "data" / "mervik.txt");
    std::string big5, gb;
    std::size_t column = 0;
    std::size_t at = 0;
    while (at < table.size()) {
        const std::size_t end = std::min(table.find('\n', at), table.size());
        const std::string line = table.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        // "B0EA 國 B9FA 国 <->": the codes in hex.
        const std::size_t gbStart = line.find(' ', line.find(' ') + 1) + 1;
        big5 += Bytes(line.substr(0, 4));
        gb += Bytes(line.substr(gbStart, 4));
        if (++column % 40 == 0) {
            big5 += column % 80 == 0 ? "\r\n" : "\n";
            gb += column % 120 == 0 ? "\r" : "\n";
        }
    }
    return {big5, gb};
}

// A site as people keep them: pages with their declarations in the usual spellings, scripts and
// text files in subfolders, files the run leaves alone, a folder two levels down (not converted),
// an earlier run's output folder and names in any letter case.
void WriteRealSite(const fs::path& site, const std::string& text, bool big5)
{
    const std::string charset = big5 ? "big5" : "gb2312";
    const std::string language = big5 ? "zh-tw" : "zh-cn";
    for (const char* folder : {"news", "js", "deep/deeper", "GB", "BIG5"})
        fs::create_directories(site / folder);
    WriteFile(site / "index.html", "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" +
                                       charset + "\">\n<meta http-equiv=\"Content-Language\" content=\"" + language +
                                       "\">\n</head><body>\n" + text.substr(0, 4000) + "\n</body></html>\n");
    WriteFile(site / "news" / "2024.HTM", "<META CHARSET='" + charset + "'>\r\n" + text);
    WriteFile(site / "news" / "notes.txt", text.substr(1000, 3000));
    WriteFile(site / "news" / "picture.gif", "GIF89a" + text.substr(0, 100));
    WriteFile(site / "js" / "menu.js", "var title = \"" + text.substr(0, 200) + "\";\r\nvar x = 1;");
    WriteFile(site / "js" / "Page.Php3", "<?php echo \"" + text.substr(200, 200) + "\"; ?>\n");
    WriteFile(site / "deep" / "deeper" / "skip.htm", text.substr(0, 100));
    WriteFile(site / "deep" / "top.asp", "<% ' " + text.substr(300, 300) + " %>\n");
    WriteFile(site / "GB" / "old.htm", text.substr(0, 50));
    WriteFile(site / "BIG5" / "old.htm", text.substr(0, 50));
    WriteFile(site / "readme", text.substr(0, 50));
    WriteFile(site / "empty.jsp", "");
}

// A pseudo-terminal for the tool's output: the tool writes to Side(), the screen shows what came.
class Terminal {
public:
    Terminal()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        side_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (side_ < 0)
            throw std::runtime_error("cannot open the pseudo-terminal");
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    ~Terminal()
    {
        ::close(side_);
        ::close(master_);
    }
    int Side() const { return side_; }
    // What was written to the terminal since the last look.
    std::string Screen() const
    {
        std::string screen;
        char buffer[4096];
        for (ssize_t got; (got = ::read(master_, buffer, sizeof buffer)) > 0;)
            screen.append(buffer, static_cast<std::size_t>(got));
        return screen;
    }

private:
    int master_ = -1;
    int side_ = -1;
};

// SIGTERM in this process, as the tool takes it; the pending signal is forgotten afterwards.
class InProcessSignal {
public:
    InProcessSignal() { InstallStopSignals(); }
    ~InProcessSignal() { detail::pendingStopSignal = 0; }
};

} // namespace

TEST(ConvertFolder, WindowTestTreesGiveWhatTheWindowGives)
{
    const TempDir temp;
    const fs::path program = temp.path() / "program";
    fs::create_directories(program);
    WriteDictionary(program, kDictionary);

    // The trees of the window's own run tests.
    const fs::path first = temp.path() / "first";
    fs::create_directories(first / "news");
    fs::create_directories(first / "empty");
    WriteFile(first / "news" / "a.htm", "<meta charset=big5>\r\n" + Bytes("C163C5E9 0A"));
    WriteFile(first / "index.htm", Bytes("C2E0B4AB 616263"));
    WriteFile(first / "README", Bytes("C163"));
    ExpectSameAsWindow(ConversionDirection::TraditionalToSimplified, first, program);

    const fs::path second = temp.path() / "second";
    fs::create_directories(second / "x");
    WriteFile(second / "x" / "b.txt", "<meta http-equiv=\"Content-Language\" content=\"zh-cn\">\n" + Bytes("B7B1CCE5D6D0"));
    ExpectSameAsWindow(ConversionDirection::SimplifiedToTraditional, second, program);

    const fs::path longSite = temp.path() / "long";
    fs::create_directories(longSite / "sub");
    std::string lines;
    for (int i = 0; i < 20000; ++i)
        lines += Bytes("C163C5E9C2E0B4ABA4A4 C163C5E9C2E0B4ABA4A4 0A");
    WriteFile(longSite / "sub" / "long.htm", lines);
    WriteFile(longSite / "index.htm", Bytes("C163"));
    ExpectSameAsWindow(ConversionDirection::TraditionalToSimplified, longSite, program);
}

TEST(ConvertFolder, RealSitesWithTheShippedTableGiveWhatTheWindowGives)
{
    const TempDir temp;
    const auto [big5, gb] = TableText();
    ASSERT_GT(big5.size(), 20000u);
    const fs::path program = fs::path(FANJIAN_PROGRAM_DIR);

    const fs::path traditional = temp.path() / "traditional";
    WriteRealSite(traditional, big5, true);
    ExpectSameAsWindow(ConversionDirection::TraditionalToSimplified, traditional, program);

    const fs::path simplified = temp.path() / "simplified";
    WriteRealSite(simplified, gb, false);
    // A Big5 file name and a GB2312 one: bytes the window's list cannot show as they are.
    WriteFile(simplified / "news" / (Bytes("B9FA") + ".txt"), gb.substr(0, 100));
    WriteFile(simplified / (Bytes("B0EA") + ".htm"), gb.substr(0, 100));
    ExpectSameAsWindow(ConversionDirection::SimplifiedToTraditional, simplified, program, false);
}

TEST(ConvertFolder, ExitStatusesAndMessages)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    fs::create_directories(site);
    WriteFile(site / "a.htm", Bytes("C163"));
    fs::create_directories(temp.path() / "program");
    const std::string dictionary = (temp.path() / "program" / "mervik.pcx").string();
    WriteDictionary(temp.path() / "program", kDictionary);

    // Completed: the status on standard output, nothing on standard error (no terminal there).
    ToolRun run = RunConvert({"--to-simplified", "--dictionary=" + dictionary, site.string()});
    EXPECT_TRUE(run.ending.exited);
    EXPECT_EQ(run.ending.status, 0);
    EXPECT_EQ(run.out, "繁轉簡轉換完成\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(site / "GB" / "a.htm"), Bytes("B7B1 0D0A"));
    // A second run converts nothing twice: the same file again, and no GB/GB.
    const auto converted = TreeFiles(site);
    run = RunConvert({"-sv", "--dictionary=" + dictionary, site.string()});
    EXPECT_EQ(run.ending.status, 0);
    EXPECT_EQ(run.out, (site / "GB" / "a.htm").string() + "\n繁轉簡轉換完成\n");
    EXPECT_TRUE(TreeFiles(site) == converted);

    // Failed: status 1, the status text and the cause (path and system error) on standard error.
    run = RunConvert({"-s", "--dictionary", dictionary, (temp.path() / "gone").string()});
    EXPECT_EQ(run.ending.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("系統資料已損毀: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find((temp.path() / "gone").string() + ": No such file or directory"), std::string::npos)
        << run.err;

    // A program folder without its table: the default is mervik.pcx beside the executable.
    fs::create_directories(temp.path() / "bare");
    const fs::path bare = temp.path() / "bare" / "fanjian-convert";
    fs::copy_file(FANJIAN_CONVERT, bare);
    run = RunProgram(bare.string(), {"-t", site.string()});
    EXPECT_EQ(run.ending.status, 1);
    EXPECT_NE(run.err.find((temp.path() / "bare" / "mervik.pcx").string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(site / "BIG5"));

    // A file that is no code table: the message names it, whatever SQLite says.
    run = RunConvert({"-s", "--dictionary", (site / "a.htm").string(), site.string()});
    EXPECT_EQ(run.ending.status, 1);
    EXPECT_TRUE(run.err.starts_with("fanjian-convert: 系統資料已損毀: " + (site / "a.htm").string())) << run.err;

    // The path check of the window: the root and an empty path are refused, with status 2.
    for (const std::string& refused : {std::string("/"), std::string(""), std::string("/tmp/..")}) {
        run = RunConvert({"-s", "--dictionary", dictionary, refused});
        EXPECT_EQ(run.ending.status, 2) << refused;
        EXPECT_NE(run.err.find("未輸入轉換路徑"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }

    // Wrong usage: status 2, a hint, nothing converted.
    fs::remove_all(site / "GB");
    const std::vector<std::vector<std::string>> wrong = {
        {site.string()}, {"-s", "-t", site.string()}, {"-s", site.string(), site.string()},
        {"--bogus", "-s", site.string()}, {"--to", site.string()}, {"-s", "--dictionary"}};
    for (const auto& args : wrong) {
        run = RunConvert(args);
        EXPECT_EQ(run.ending.status, 2) << ::testing::PrintToString(args);
        EXPECT_NE(run.err.find("Try 'fanjian-convert --help'"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(fs::exists(site / "GB"));

    run = RunConvert({"--help"});
    EXPECT_EQ(run.ending.status, 0);
    EXPECT_NE(run.out.find("--to-simplified"), std::string::npos);
    EXPECT_NE(run.out.find(std::string(FANJIAN_PROGRAM_DIR) + "/mervik.pcx"), std::string::npos) << run.out;
    run = RunConvert({"--version"});
    EXPECT_EQ(run.ending.status, 0);
    EXPECT_EQ(run.out, "fanjian-convert (fanjian) " FANJIAN_VERSION "\n");
}

TEST(ConvertFolder, RelativePathsAreTakenFromTheCurrentFolder)
{
    const TempDir temp;
    fs::create_directories(temp.path() / "site" / "sub");
    fs::create_directories(temp.path() / "tables");
    fs::create_directories(temp.path() / "elsewhere");
    WriteFile(temp.path() / "site" / "sub" / "a.txt", Bytes("C5E9 0A"));
    WriteDictionary(temp.path() / "tables", kDictionary);
    fs::rename(temp.path() / "tables" / "mervik.pcx", temp.path() / "tables" / "small.db");

    ToolRun run = RunConvert({"-sv", "--dictionary", "tables/small.db", "site"}, {}, temp.path());
    ASSERT_EQ(run.ending.status, 0) << run.err;
    EXPECT_EQ(run.out, (temp.path() / "site" / "GB" / "sub" / "a.txt").string() + "\n繁轉簡轉換完成\n");
    EXPECT_EQ(ReadFile(temp.path() / "site" / "GB" / "sub" / "a.txt"), Bytes("CCE5 0D0A"));

    // ".." and "." stay as given, as in the window: ".." after a link leads where the system takes
    // it, above the link's target, and the listing shows the path as joined.
    fs::create_directories(temp.path() / "x" / "y");
    fs::create_directories(temp.path() / "x" / "site");
    WriteFile(temp.path() / "x" / "site" / "b.txt", Bytes("C2E0"));
    fs::create_directory_symlink("x/y", temp.path() / "link");
    run = RunConvert({"-s", "-v", "--dictionary", "../tables/small.db", "../link/../site/."}, {},
                     temp.path() / "elsewhere");
    ASSERT_EQ(run.ending.status, 0) << run.err;
    EXPECT_EQ(run.out, temp.str() + "/elsewhere/../link/../site/./GB/b.txt\n繁轉簡轉換完成\n");
    EXPECT_EQ(ReadFile(temp.path() / "x" / "site" / "GB" / "b.txt"), Bytes("D7AA 0D0A"));

    // A relative table that is not there is named with the current folder.
    run = RunConvert({"-s", "--dictionary", "tables/none.db", "site"}, {}, temp.path());
    EXPECT_EQ(run.ending.status, 1);
    EXPECT_NE(run.err.find((temp.path() / "tables" / "none.db").string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
}

TEST(Filter, FuzzCorpusGivesWhatTheLineConverterGives)
{
    std::vector<std::string> inputs;
    for (const char* set : {"corpus", "findings"}) {
        for (const auto& target : fs::directory_iterator(fs::path(FANJIAN_SOURCE_DIR) / "tests" / "fuzz" / set)) {
            for (const auto& file : fs::directory_iterator(target.path()))
                inputs.push_back(ReadFile(file.path()));
        }
    }
    ASSERT_GT(inputs.size(), 20u);
    std::string all;
    for (const std::string& input : inputs)
        all += input;

    for (const auto direction : {ConversionDirection::TraditionalToSimplified, ConversionDirection::SimplifiedToTraditional}) {
        const std::string flag = direction == ConversionDirection::TraditionalToSimplified ? "-s" : "-t";
        for (const std::string& input : inputs) {
            const ToolRun run = RunConvert({flag, "-"}, input);
            ASSERT_EQ(run.ending.status, 0) << run.err;
            EXPECT_EQ(run.out, ConvertWhole(direction, FANJIAN_PROGRAM_DIR, input, FilterReading(input)));
        }

        // All of it through a pipe in pieces of odd sizes: the tool reads whatever has come.
        const TempDir temp;
        Pipe in;
        const int out = ::open((temp.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const pid_t pid = StartProcess(FANJIAN_CONVERT, {flag}, in.Read(), out, -1);
        ::close(out);
        in.CloseRead();
        std::size_t piece = 1;
        for (std::size_t at = 0; at < all.size(); at += piece, piece = piece * 7 % 9973 + 1)
            WriteBytes(in.Write(), std::string_view(all).substr(at, piece));
        in.CloseWrite();
        EXPECT_EQ(WaitFor(pid).status, 0);
        EXPECT_EQ(ReadFile(temp.path() / "out"), ConvertWhole(direction, FANJIAN_PROGRAM_DIR, all, FilterReading(all)));
    }
}

TEST(Filter, AnyLineLengthInBoundedMemory)
{
    // A 64 MiB line without a terminator between two short lines, made on the fly.
    const std::string unit = Bytes("B0EA A4A4 C5E9 41 42");
    const std::string converted = ConvertWhole(ConversionDirection::TraditionalToSimplified, FANJIAN_PROGRAM_DIR, unit);
    ASSERT_TRUE(converted.ends_with("\r\n"));
    const std::string convertedUnit = converted.substr(0, converted.size() - 2);
    std::string chunk;
    while (chunk.size() < (1 << 20))
        chunk += unit;
    const std::size_t chunks = 64;

    const auto run = [&](std::size_t count) {
        const TempDir temp;
        Pipe in;
        const int out = ::open((temp.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-s"}, in.Read(), out, -1);
        ::close(out);
        in.CloseRead();
        WriteBytes(in.Write(), "a\n");
        for (std::size_t i = 0; i < count; ++i)
            WriteBytes(in.Write(), chunk);
        WriteBytes(in.Write(), "\nb");
        in.CloseWrite();
        const Ending ending = WaitFor(pid);
        EXPECT_EQ(ending.status, 0);
        const std::string output = ReadFile(temp.path() / "out");
        std::string expected = "a\r\n";
        for (std::size_t i = 0; i < count * chunk.size() / unit.size(); ++i)
            expected += convertedUnit;
        expected += "\r\nb\r\n";
        EXPECT_TRUE(output == expected) << output.size() << " bytes instead of " << expected.size();
        return ending.maxRssKb;
    };
    const long small = run(1);
    const long big = run(chunks);
    // The 64 MiB line would take 64 MiB to hold; the filter holds at most a bounded piece of it.
    EXPECT_LT(big, small + 16 * 1024) << "peak RSS " << big << " kB against " << small << " kB for 1 MiB";
}

TEST(Filter, StopSignalWhileWaitingForInputKeepsWholeLines)
{
    const std::string lines = "one " + Bytes("C163C5E9") + "\ntwo\r\n";
    const std::string expected = ConvertWhole(ConversionDirection::TraditionalToSimplified, FANJIAN_PROGRAM_DIR, lines);
    Pipe in;
    Pipe out;
    const TempDir temp;
    const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-s"}, in.Read(), out.Write(), err);
    ::close(err);
    in.CloseRead();
    out.CloseWrite();
    WriteBytes(in.Write(), lines + "half a li");
    // The whole lines come out as soon as they are complete; then the tool waits for more input.
    EXPECT_EQ(ReadBytes(out.Read(), expected.size()), expected);
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(ReadBytes(out.Read(), 1 << 20), ""); // nothing of the unfinished line
    const Ending ending = WaitFor(pid);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 128 + SIGINT);
    EXPECT_EQ(ReadFile(temp.path() / "err"), "fanjian-convert: stopped by SIGINT\n");
}

TEST(Filter, StopSignalCutsARegularFileBackToItsLastLine)
{
    const TempDir temp;
    const std::string whole = "one\r\ntwo\r\n";
    Pipe in;
    const int out = ::open((temp.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-t"}, in.Read(), out, -1);
    ::close(out);
    in.CloseRead();
    // Longer than the filter holds back: pieces of the line reach the file before its end.
    WriteBytes(in.Write(), "one\ntwo\n" + std::string(StreamConversion::kLongLine * 2, 'x'));
    while (fs::file_size(temp.path() / "out") < whole.size() + StreamConversion::kLongLine)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const Ending ending = WaitFor(pid);
    EXPECT_EQ(ending.status, 128 + SIGTERM);
    EXPECT_EQ(ReadFile(temp.path() / "out"), whole);
}

TEST(Filter, ClosedOrFullOutputAndUnreadableInputFail)
{
    // The reader has gone (| head): status 1 without a message.
    {
        Pipe out;
        out.CloseRead();
        const TempDir temp;
        WriteFile(temp.path() / "in", std::string(1 << 20, 'a') + "\n");
        const int in = ::open((temp.path() / "in").c_str(), O_RDONLY | O_CLOEXEC);
        const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-s"}, in, out.Write(), err);
        ::close(in);
        ::close(err);
        out.CloseWrite();
        const Ending ending = WaitFor(pid);
        EXPECT_TRUE(ending.exited);
        EXPECT_EQ(ending.status, 1);
        EXPECT_EQ(ReadFile(temp.path() / "err"), "");
    }
    // A full disk is said.
    {
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0);
        const TempDir temp;
        const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        Pipe in;
        WriteBytes(in.Write(), "line\n");
        in.CloseWrite();
        const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-t"}, in.Read(), full, err);
        ::close(full);
        ::close(err);
        EXPECT_EQ(WaitFor(pid).status, 1);
        EXPECT_EQ(ReadFile(temp.path() / "err"), "fanjian-convert: cannot write standard output: No space left on device\n");
    }
    // Standard input that cannot be read, a table that cannot be opened.
    {
        const TempDir temp;
        const int folder = ::open(temp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-s"}, folder, -1, err);
        ::close(folder);
        ::close(err);
        EXPECT_EQ(WaitFor(pid).status, 1);
        EXPECT_EQ(ReadFile(temp.path() / "err"), "fanjian-convert: cannot read standard input: Is a directory\n");
        const ToolRun run = RunConvert({"-s", "--dictionary", (temp.path() / "x.pcx").string()}, "text\n");
        EXPECT_EQ(run.ending.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find((temp.path() / "x.pcx").string()), std::string::npos) << run.err;
    }
}

TEST(ConvertFolder, StopSignalMidFileKeepsWholeLinesAndEndsTheRun)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    fs::create_directories(site / "a");
    fs::create_directories(site / "b");
    WriteDictionary(temp.path(), kDictionary);
    std::string input, expected;
    for (int i = 0; i < 2000; ++i) {
        input += Bytes("C163C5E9C2E0B4ABA4A4 0A");
        expected += Bytes("B7B1CCE5D7AABBBBD6D0 0D0A");
    }
    WriteFile(site / "a" / "page.htm", input);
    WriteFile(site / "b" / "page.htm", input);

    // The signal comes 3503 characters into the second file: 700 lines of 5 characters, then 3.
    class SignallingView : public ConsoleView {
    public:
        using ConsoleView::ConsoleView;
        // Every count comes, so that the signal lands at a known character.
        bool SkipsQuietCounts() const override { return false; }
        void ShowCharacterCount(std::string_view text) override
        {
            if (++count_ == 10000 + 3503)
                std::raise(SIGTERM);
            ConsoleView::ShowCharacterCount(text);
        }

    private:
        int count_ = 0;
    };
    const InProcessSignal signals;
    SignallingView view(ConsoleView::Settings{});
    int stoppedBy = 0;
    try {
        ConversionRun().Run(ConversionDirection::TraditionalToSimplified, site.string(), temp.str(), view);
    } catch (const StopRequested& stop) {
        stoppedBy = stop.signal;
    }
    EXPECT_EQ(stoppedBy, SIGTERM);
    const std::string first = ReadFile(site / "GB" / "a" / "page.htm");
    const std::string second = ReadFile(site / "GB" / "b" / "page.htm");
    const std::string& whole = first.size() == expected.size() ? first : second;
    const std::string& partial = first.size() == expected.size() ? second : first;
    EXPECT_TRUE(whole == expected);
    EXPECT_EQ(partial, expected.substr(0, 700 * 12));
}

TEST(ConvertFolder, StopSignalWhileTheListingWaitsEndsTheRun)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    fs::create_directories(site / "a");
    fs::create_directories(site / "b");
    WriteDictionary(temp.path(), kDictionary);
    WriteFile(site / "a" / "one.htm", Bytes("C163 0A"));
    WriteFile(site / "b" / "two.htm", Bytes("C163 0A"));
    // Standard output is a pipe nobody reads, full before the tool starts: the first file's line
    // waits there until the signal comes.
    Pipe out;
    ASSERT_EQ(::fcntl(out.Write(), F_SETFL, O_NONBLOCK), 0);
    while (::write(out.Write(), "x", 1) == 1) {
    }
    ASSERT_EQ(::fcntl(out.Write(), F_SETFL, 0), 0);
    const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = StartProcess(FANJIAN_CONVERT, {"-s", "-v", "--dictionary", (temp.path() / "mervik.pcx").string(),
                                                     site.string()},
                                   -1, out.Write(), err);
    ::close(err);
    // The file before the listing is written whole; the tool cannot get past its line.
    const fs::path outputs[] = {site / "GB" / "a" / "one.htm", site / "GB" / "b" / "two.htm"};
    while (!(fs::exists(outputs[0]) && fs::file_size(outputs[0]) == 4) &&
           !(fs::exists(outputs[1]) && fs::file_size(outputs[1]) == 4))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const Ending ending = WaitFor(pid);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.status, 128 + SIGTERM);
    EXPECT_EQ(ReadFile(temp.path() / "err"), "fanjian-convert: stopped by SIGTERM\n");
    EXPECT_NE(fs::exists(outputs[0]), fs::exists(outputs[1])); // the second file was never begun
}

// Started without standard input and output, or under a file size limit (ulimit -f): the tool
// neither waits nor spins, and a write past the limit is a failure with its cause, the file ending
// after its last whole line.
TEST(ConvertFolder, ClosedStandardStreamsAndAFileSizeLimit)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    fs::create_directories(site / "sub");
    WriteDictionary(temp.path(), kDictionary);
    const std::string dictionary = (temp.path() / "mervik.pcx").string();
    std::string lines;
    for (int i = 0; i < 3000; ++i)
        lines += std::to_string(i) + Bytes("C163C5E9C2E0B4ABA4A4 0A");
    WriteFile(site / "sub" / "a.htm", lines);
    const std::string converted = ConvertWhole(ConversionDirection::TraditionalToSimplified, temp.str(), lines);
    constexpr std::uint64_t kLimit = 10007;
    const std::string fitting = converted.substr(0, converted.rfind('\n', kLimit - 1) + 1);
    const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

    // The filter with standard input closed: an empty input, at once.
    Ending ending = WaitFor(StartProcess(FANJIAN_CONVERT, {"-s", "--dictionary", dictionary}, kClosed, -1, err),
                            std::chrono::seconds(20));
    EXPECT_FALSE(ending.timedOut);
    EXPECT_EQ(ending.status, 0);
    // A folder run listing what it writes, with standard input and output closed.
    ending = WaitFor(StartProcess(FANJIAN_CONVERT, {"-sv", "--dictionary", dictionary, site.string()}, kClosed,
                                  kClosed, err),
                     std::chrono::seconds(20));
    EXPECT_FALSE(ending.timedOut);
    EXPECT_EQ(ending.status, 0);
    EXPECT_TRUE(ReadFile(site / "GB" / "sub" / "a.htm") == converted);
    EXPECT_EQ(ReadFile(temp.path() / "err"), "");

    // The same run under the limit; then the filter into a file.
    fs::remove_all(site / "GB");
    ending = WaitFor(StartProcess(FANJIAN_CONVERT, {"-s", "--dictionary", dictionary, site.string()}, -1, -1, err,
                                  {}, kLimit));
    EXPECT_TRUE(ending.exited) << "signal " << ending.signal;
    EXPECT_EQ(ending.status, 1);
    const std::string left = ReadFile(site / "GB" / "sub" / "a.htm");
    EXPECT_TRUE(left == fitting) << left.size() << " bytes instead of " << fitting.size();
    const int in = ::open((site / "sub" / "a.htm").c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open((temp.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ending = WaitFor(StartProcess(FANJIAN_CONVERT, {"-s", "--dictionary", dictionary}, in, out, err, {}, kLimit));
    ::close(in);
    ::close(out);
    ::close(err);
    EXPECT_TRUE(ending.exited) << "signal " << ending.signal;
    EXPECT_EQ(ending.status, 1);
    const std::string filtered = ReadFile(temp.path() / "out");
    EXPECT_TRUE(filtered == fitting) << filtered.size() << " bytes instead of " << fitting.size();
    EXPECT_EQ(ReadFile(temp.path() / "err"),
              "fanjian-convert: 系統資料已損毀: cannot write " + (site / "GB" / "sub" / "a.htm").string() +
                  ": File too large\nfanjian-convert: cannot write standard output: File too large\n");
}

// Names are shown, never obeyed: on a terminal the listing and the progress line escape them; to
// a file the listing gives them as they are; a message escapes them wherever it goes.
TEST(ConvertFolder, NamesAreShownNeverObeyed)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    const std::string retitle = "\x1B]0;owned\x07"; // sets the terminal's title
    const std::string erase = "\x1B[2J";             // erases the screen
    fs::create_directories(site / retitle);
    WriteDictionary(temp.path(), kDictionary);
    WriteFile(site / retitle / (erase + "a.htm"), Bytes("C163 0A"));
    const std::vector<std::string> args = {"-sv", "--dictionary", (temp.path() / "mervik.pcx").string(),
                                           site.string()};
    const std::string listed = (site / "GB" / retitle / (erase + "a.htm")).string();
    const std::string escaped = (site / "GB").string() + "/\\x1B]0;owned\\x07/\\x1B[2Ja.htm";

    Terminal terminal;
    EXPECT_EQ(WaitFor(StartProcess(FANJIAN_CONVERT, args, -1, terminal.Side(), terminal.Side())).status, 0);
    const std::string screen = terminal.Screen();
    EXPECT_NE(screen.find(escaped + "\r\n"), std::string::npos) << screen;
    EXPECT_NE(screen.find("檔名 \\x1B[2Ja.htm"), std::string::npos) << screen;
    EXPECT_EQ(screen.find_first_of("\x1B\x07"), std::string::npos) << screen;

    fs::remove_all(site / "GB");
    ToolRun run = RunConvert(args);
    EXPECT_EQ(run.out, listed + "\n繁轉簡轉換完成\n");
    fs::remove(listed);
    fs::create_directory(listed);
    run = RunConvert(args);
    EXPECT_EQ(run.ending.status, 1);
    EXPECT_EQ(run.err, "fanjian-convert: 系統資料已損毀: cannot create " + escaped + ": not a regular file\n");
#ifdef FANJIAN_WINDOW_CONVERT
    // The window's line on standard error too.
    run = RunProgram(FANJIAN_WINDOW_CONVERT, {"-s", site.string(), temp.str()});
    EXPECT_NE(run.err.find("fanjian: cannot create " + escaped + ": not a regular file\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find('\x1B'), std::string::npos) << run.err;
#endif

    // Root converting another user's folder: that user's link is left out, said and escaped.
    if (::geteuid() != 0)
        return;
    fs::remove_all(site / "GB");
    fs::create_symlink(temp.path() / "mervik.pcx", site / (erase + "b.htm"));
    for (const auto& entry : fs::recursive_directory_iterator(site))
        ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(site.c_str(), 65534, 65534), 0);
    run = RunConvert({"-s", "--dictionary", (temp.path() / "mervik.pcx").string(), site.string()});
    EXPECT_EQ(run.ending.status, 0);
    EXPECT_EQ(run.err, "fanjian-convert: not following " + site.string() +
                           "/\\x1B[2Jb.htm: a symbolic link in a folder another user owns\n");
    EXPECT_FALSE(fs::exists(site / "GB" / (erase + "b.htm")));
}

TEST(Progress, ShownOnlyOnATerminalAndTakenAwayAtTheEnd)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    fs::create_directories(site / "sub");
    WriteDictionary(temp.path(), kDictionary);
    WriteFile(site / "sub" / "one.htm", Bytes("C163 0A"));
    WriteFile(site / "two.htm", Bytes("C5E9 0A"));
    const std::vector<std::string> args = {"-s", "-v", "--dictionary", (temp.path() / "mervik.pcx").string(),
                                           site.string()};

    Terminal terminal;
    const int out = ::open((temp.path() / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = StartProcess(FANJIAN_CONVERT, args, -1, out, terminal.Side());
    ::close(out);
    EXPECT_EQ(WaitFor(pid).status, 0);
    const std::string screen = terminal.Screen();

    // Drawn in place from the first file on, with the run's texts, and blanked at the end.
    EXPECT_TRUE(screen.starts_with("\r第 1 檔案  檔名 one.htm")) << screen;
    EXPECT_EQ(screen.find('\n'), std::string::npos) << screen;
    const std::size_t last = screen.rfind('\r', screen.size() - 2);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(screen.substr(last + 1), std::string(screen.size() - last - 2, ' ') + "\r") << screen;
    EXPECT_GT(screen.size() - last - 2, 10u);
    EXPECT_EQ(ReadFile(temp.path() / "out"), (site / "GB" / "sub" / "one.htm").string() + "\n" +
                                                 (site / "GB" / "two.htm").string() + "\n繁轉簡轉換完成\n");

    // Not on a terminal: nothing at all on standard error.
    fs::remove_all(site / "GB");
    const ToolRun run = RunConvert(args);
    EXPECT_EQ(run.ending.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST(Progress, RedrawnAtMostEveryHundredMilliseconds)
{
    const TempDir temp;
    const fs::path site = temp.path() / "site";
    fs::create_directories(site / "sub");
    WriteDictionary(temp.path(), kDictionary);
    std::string lines;
    for (int i = 0; i < 5000; ++i)
        lines += Bytes("C163C5E9C2E0B4ABA4A4 0A");
    WriteFile(site / "sub" / "long.htm", lines);
    WriteFile(site / "index.htm", Bytes("C163"));

    // A clock that moves 1 ms at each reading, however fast the run goes.
    ConsoleView::Clock::time_point clock{};
    int readings = 0;
    const int err = ::open((temp.path() / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ConsoleView::Settings settings;
    settings.errFd = err;
    settings.progress = true;
    settings.columns = [] { return 40; };
    settings.now = [&] {
        ++readings;
        return clock += std::chrono::milliseconds(1);
    };
    ConsoleView view(settings);
    const RunResult result =
        ConversionRun().Run(ConversionDirection::TraditionalToSimplified, site.string(), temp.str(), view);
    view.Finish();
    ::close(err);
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_GE(view.Redraws(), 3u);
    EXPECT_LE(view.Redraws(), static_cast<std::size_t>(readings / 100 + 2)) << readings << " clock readings";
    // Each redraw fits the 40 columns, less the last one.
    const std::string screen = ReadFile(temp.path() / "err");
    std::size_t start = 0;
    for (std::size_t next; (next = screen.find('\r', start + 1)) != std::string::npos; start = next) {
        std::size_t width = 0;
        FitToColumns(screen.substr(start + 1, next - start - 1), 1000, width);
        EXPECT_LE(width, 39u);
    }
}

TEST(Progress, FitsTheTerminalWidthWhateverTheNames)
{
    std::size_t width = 0;
    EXPECT_EQ(FitToColumns("第 12 檔案", 100, width), "第 12 檔案");
    EXPECT_EQ(width, 10u);
    EXPECT_EQ(FitToColumns("第 12 檔案", 9, width), "第 12 檔");
    EXPECT_EQ(width, 8u);
    EXPECT_EQ(FitToColumns("第 12 檔案", 7, width), "第 12 ");
    // A line break or a Big5 byte in a name would break the line: each shows as "?".
    EXPECT_EQ(FitToColumns("a\nb" + Bytes("B0EA") + "c", 100, width), "a?b??c");
    EXPECT_EQ(width, 6u);
    // Escaped, a name has nothing left a terminal obeys: no C0 or C1 control, no stray byte (國 is
    // E5 9C 8B, its 9C and 8B no C1 controls).
    EXPECT_EQ(EscapeControls("國\\a\tb\x7F" + Bytes("C29B B0EA F09F9880")),
              "國\\\\a\\x09b\\x7F\\xC2\\x9B\\xB0\\xEA" + Bytes("F09F9880"));
}

TEST(Options, GnuStyleCommandLines)
{
    const auto parse = [](std::vector<std::string> words) {
        words.insert(words.begin(), "fanjian-convert");
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        return ParseOptions(static_cast<int>(words.size()), argv.data());
    };
    Options options = parse({"site", "--to-trad", "-v"});
    EXPECT_EQ(options.direction, ConversionDirection::SimplifiedToTraditional);
    EXPECT_FALSE(options.filter);
    EXPECT_EQ(options.folder, "site");
    EXPECT_TRUE(options.verbose);

    options = parse({"-sd", "table.db"});
    EXPECT_EQ(options.direction, ConversionDirection::TraditionalToSimplified);
    EXPECT_TRUE(options.filter);
    EXPECT_EQ(options.dictionary, "table.db");
    EXPECT_TRUE(parse({"-t", "-"}).filter);
    EXPECT_EQ(parse({"-s", "--", "-v"}).folder, "-v");
    EXPECT_EQ(parse({"-s", "-s", "x"}).folder, "x");
    EXPECT_EQ(parse({"-s", "--help", "x", "y"}).action, Options::Action::Help);

    EXPECT_THROW(parse({"-s", "-t"}), UsageError);
    EXPECT_THROW(parse({"x"}), UsageError);
    EXPECT_THROW(parse({"-s", "x", "y"}), UsageError);
}
