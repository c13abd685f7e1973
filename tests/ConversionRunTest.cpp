#include "conversion/ConversionRun.h"

#include "RecordingView.h"
#include "TestSupport.h"
#include "conversion/LineConverter.h"
#include "conversion/LineWriter.h"
#include "dictionary/CharacterDictionary.h"
#include "system/Descriptor.h"
#include "system/FileError.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>

using fanjian::ConversionDirection;
using fanjian::ConversionRun;
using namespace fanjian::testing;
namespace fs = std::filesystem;

namespace {

constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

const std::vector<std::string> kFailureItems = {"系統資料已損毀！", "請重新安裝！"};

class ConversionRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // 國 <-> 国 and 中 <-> 中; Big5 C0C0 has a row without a gb value: looking it up fails.
        WriteDatabase(program_.path() / "mervik.pcx",
                      "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);"
                      "INSERT INTO MERVIK VALUES (45290, 47610);"
                      "INSERT INTO MERVIK VALUES (42148, 54992);"
                      "INSERT INTO MERVIK VALUES (49344, NULL);");
        fs::create_directory(site());
    }

    fs::path site() const { return root_.path() / "site"; }
    std::string F() const { return site().string(); }

    void Run(ConversionDirection direction, const std::string& folder)
    {
        view_.calls.clear();
        result_ = ConversionRun().Run(direction, folder, program_.str(), view_);
    }

    // The run failed for `error` on `path`, and its message says so as `message`.
    void ExpectFailure(fanjian::RunFailure::Kind kind, std::error_code error, const std::string& path,
                       const std::string& message) const
    {
        ASSERT_EQ(result_.outcome, fanjian::RunOutcome::Failed);
        ASSERT_TRUE(result_.failure.has_value());
        EXPECT_EQ(result_.failure->kind, kind);
        EXPECT_EQ(result_.failure->error, error);
        EXPECT_EQ(result_.failure->path, path);
        EXPECT_EQ(result_.failure->message, message);
    }

    std::vector<std::string> SourceItems() const { return view_.Texts("AddSourceListItem"); }
    std::vector<std::string> ResultItems() const { return view_.Texts("AddResultListItem"); }
    std::string LastStatus() const { return view_.Texts("ShowStatus").back(); }

    TempDir root_;
    TempDir program_;
    RecordingView view_;
    fanjian::RunResult result_{fanjian::RunOutcome::Completed, {}};
};

std::error_code Errno(int value)
{
    return {value, std::generic_category()};
}

TEST_F(ConversionRunTest, RejectsPathsThatNameNoFolderBelowTheRoot)
{
    for (const std::string path : {"", "site", "./site", "C:\\site", "/", "//", "/.", "/./", "/..", "/tmp/.."}) {
        Run(kToGb, path);
        EXPECT_EQ(view_.calls, (std::vector<std::string>{"ClearSourceList", "ClearResultList",
                                                         "AddSourceListItem 未輸入轉換路徑"}))
            << "'" << path << "'";
    }
    EXPECT_TRUE(fanjian::IsAcceptedFolderPath("/a"));
    EXPECT_TRUE(fanjian::IsAcceptedFolderPath("/a/"));
    EXPECT_TRUE(fanjian::IsAcceptedFolderPath("/a/b/.."));
}

TEST_F(ConversionRunTest, SelectsTheEightEndingsInAnyLetterCase)
{
    for (const char* name : {"INDEX.HTM", "a.Js", "x.PHP3", ".txt", "a.html", "b.asp", "c.jsp", "d.php"})
        EXPECT_TRUE(fanjian::IsSelectedFileName(name)) << name;
    for (const char* name : {"a.json", "a.html.bak", "a.shtml", "a.php4", "README", "txt", "a.tx"})
        EXPECT_FALSE(fanjian::IsSelectedFileName(name)) << name;
}

TEST_F(ConversionRunTest, ShortPathDropsDoubledSeparatorsAndDotPieces)
{
    EXPECT_EQ(fanjian::ShortPath("/a//b/./c.htm"), "/a/b/c.htm");
    EXPECT_EQ(fanjian::ShortPath("/./a/../b.txt"), "/a/../b.txt");
    EXPECT_EQ(fanjian::ShortPath("//x.js"), "/x.js");
}

TEST_F(ConversionRunTest, ConvertsSubfoldersFirstThenTheFolderWithEveryCallInOrder)
{
    fs::create_directories(site() / "news" / "deeper");
    WriteFile(site() / "news" / "a.htm", Bytes("B0EA 61 0A"));
    WriteFile(site() / "news" / "deeper" / "b.htm", Bytes("B0EA"));
    WriteFile(site() / "news" / "notes.doc", Bytes("B0EA"));
    WriteFile(site() / "index.htm", "<meta charset=big5>\n" + Bytes("A4A4"));
    fs::create_directory(site() / "empty");

    Run(kToGb, F());
    const std::string f = F();
    EXPECT_EQ(view_.calls, (std::vector<std::string>{
                               "ClearSourceList",
                               "ClearResultList",
                               "ShowStatus 繁轉簡轉換中",
                               "ProcessPendingEvents",
                               "AddSourceListItem " + f + "/news/a.htm",
                               "ShowFileName 檔名 a.htm",
                               "ShowFileCount 第 1 檔案",
                               "ProcessPendingEvents",
                               "ShowCharacterCount 第 1 字",
                               "ProcessPendingEvents",
                               "ShowFileReading code page",
                               "AddResultListItem " + f + "/GB/news/a.htm",
                               "ProcessPendingEvents",
                               "AddSourceListItem " + f + "/index.htm",
                               "ShowFileName 檔名 index.htm",
                               "ShowFileCount 第 2 檔案",
                               "ProcessPendingEvents",
                               "ShowCharacterCount 第 2 字",
                               "ProcessPendingEvents",
                               "ShowFileReading code page",
                               "AddResultListItem " + f + "/GB/index.htm",
                               "ProcessPendingEvents",
                               "ShowStatus 繁轉簡轉換完成",
                           }));
    EXPECT_EQ(ReadFile(site() / "GB" / "news" / "a.htm"), Bytes("B9FA 61 0D0A"));
    EXPECT_EQ(ReadFile(site() / "GB" / "index.htm"), "<meta charset=gb2312>\r\n" + Bytes("D6D0 0D0A"));
    // Inputs untouched; one level mirrored; only folders that received a file exist.
    EXPECT_EQ(ReadFile(site() / "news" / "a.htm"), Bytes("B0EA 61 0A"));
    EXPECT_FALSE(fs::exists(site() / "GB" / "news" / "deeper"));
    EXPECT_FALSE(fs::exists(site() / "GB" / "news" / "notes.doc"));
    EXPECT_FALSE(fs::exists(site() / "GB" / "empty"));

    // The other direction goes into BIG5 and brings the characters back.
    fs::rename(site() / "GB" / "index.htm", site() / "index.htm");
    Run(kToBig5, F());
    EXPECT_EQ(view_.Texts("ShowStatus"), (std::vector<std::string>{"簡轉繁轉換中", "簡轉繁轉換完成"}));
    EXPECT_EQ(ReadFile(site() / "BIG5" / "index.htm"), "<meta charset=big5>\r\n" + Bytes("A4A4 0D0A"));
}

TEST_F(ConversionRunTest, EndsEveryLineWithCrLfWhateverEndedItInTheInput)
{
    WriteFile(site() / "lines.txt", "a\r\nb\rc\n\nd");
    WriteFile(site() / "empty.txt", "");
    WriteFile(site() / "cr.txt", "\r");
    Run(kToGb, F());
    EXPECT_EQ(ReadFile(site() / "GB" / "lines.txt"), "a\r\nb\r\nc\r\n\r\nd\r\n");
    EXPECT_EQ(ReadFile(site() / "GB" / "empty.txt"), "");
    EXPECT_EQ(ReadFile(site() / "GB" / "cr.txt"), "\r\n");
    EXPECT_EQ(SourceItems().size(), 3u);
    EXPECT_EQ(ResultItems().size(), 3u);
    EXPECT_EQ(LastStatus(), "繁轉簡轉換完成");
}

TEST_F(ConversionRunTest, KeepsTheFolderPathAsTypedInOutputPaths)
{
    fs::create_directory(site() / "s");
    WriteFile(site() / "s" / "a.txt", "x");
    Run(kToGb, F() + "/");
    EXPECT_EQ(SourceItems(), (std::vector<std::string>{F() + "/s/a.txt"}));
    EXPECT_EQ(ResultItems(), (std::vector<std::string>{F() + "//GB/s/a.txt"}));
}

TEST_F(ConversionRunTest, ASecondRunConvertsNothingTwiceButTheOtherDirectionsOutputIsASubfolder)
{
    fs::create_directory(site() / "s");
    WriteFile(site() / "s" / "a.htm", Bytes("A4A4"));
    WriteFile(site() / "index.htm", Bytes("B0EA"));
    Run(kToGb, F());
    Run(kToGb, F());
    EXPECT_EQ(ResultItems(), (std::vector<std::string>{F() + "/GB/s/a.htm", F() + "/GB/index.htm"}));
    EXPECT_FALSE(fs::exists(site() / "GB" / "GB"));
    EXPECT_EQ(ReadFile(site() / "GB" / "index.htm"), Bytes("B9FA 0D0A"));
    Run(kToBig5, F());
    EXPECT_EQ(ReadFile(site() / "BIG5" / "GB" / "index.htm"), Bytes("B0EA 0D0A"));
    EXPECT_FALSE(fs::exists(site() / "BIG5" / "BIG5"));
    EXPECT_EQ(LastStatus(), "簡轉繁轉換完成");
}

TEST_F(ConversionRunTest, ConvertsEachFileInTheEncodingItHas)
{
    // 國 B0EA / U+570B, 中 A4A4 / U+4E2D. Big5, UTF-8 with and without a byte order mark, ASCII
    // only, UTF-8 up to its last bytes, a declaration that says UTF-8 over Big5, UTF-16 and UTF-32,
    // and UTF-8 that turns out not to be after a whole read block of it has been converted.
    const std::string longUtf8 = std::string(300 * 1024, 'x') + "\n國中\n" + std::string(300 * 1024, 'y');
    const struct {
        const char* name;
        std::string in;
        std::string out; // empty: left out
        const char* reading;
    } files[] = {
        {"a-big5.htm", "<meta charset=big5>" + Bytes("B0EA A4A4"), "<meta charset=gb2312>" + Bytes("B9FA D6D0 0D0A"), "code page"},
        {"b-utf8.htm", "<meta charset=utf-8>國中𠀀", "<meta charset=utf-8>国中𠀀\r\n", "UTF-8"},
        {"c-bom.txt", "\xEF\xBB\xBF國\n", "\xEF\xBB\xBF国\r\n", "UTF-8"},
        {"d-ascii.htm", "content=\"zh-tw\" charset=big5", "content=\"zh-cn\" charset=gb2312\r\n", "code page"},
        {"e-almost.txt", "國中\n" + Bytes("B0EA"), Bytes("E5 9C 8B E4 B8 AD 0D0A B9FA 0D0A"), "code page"},
        {"f-declared.htm", "<meta charset=\"UTF-8\">" + Bytes("B0EA"), "<meta charset=\"UTF-8\">" + Bytes("B9FA 0D0A"),
         "declared UTF-8"},
        {"g-utf16.txt", "\xFF\xFE\x0B\x57", "", nullptr},
        {"h-utf32.txt", std::string("\x00\x00\xFE\xFF\x00\x00\x57\x0B", 8), "", nullptr},
        {"i-long.txt", longUtf8 + Bytes("B0EA"), "", "code page"},
    };
    for (const auto& f : files)
        WriteFile(site() / f.name, f.in);
    Run(kToGb, F());
    ASSERT_EQ(LastStatus(), "繁轉簡轉換完成");
    // How each file was read comes right before its result item.
    std::map<std::string, std::string> readings;
    for (std::size_t i = 0; i + 1 < view_.calls.size(); ++i) {
        if (view_.calls[i].starts_with("ShowFileReading "))
            readings[view_.calls[i + 1]] = view_.calls[i].substr(16);
    }
    for (const auto& f : files) {
        if (f.reading == nullptr) {
            EXPECT_FALSE(fs::exists(site() / "GB" / f.name)) << f.name;
            continue;
        }
        EXPECT_EQ(readings["AddResultListItem " + F() + "/GB/" + f.name], f.reading) << f.name;
        if (!f.out.empty()) {
            EXPECT_EQ(ReadFile(site() / "GB" / f.name), f.out) << f.name;
        }
    }
    // Read as Big5 after all: its 國中 in UTF-8 bytes are Big5 pairs, with no row here. What was
    // written of it as UTF-8, behind the conversion too, is gone.
    EXPECT_EQ(ReadFile(site() / "GB" / "i-long.txt"), std::string(300 * 1024, 'x') +
                                                          "\r\n\xE5\x9C\x8B\xE4\xB8\xAD\r\n" +
                                                          std::string(300 * 1024, 'y') + Bytes("B9FA 0D0A"));
    std::vector<std::string> skipped = view_.Texts("AddSkippedItem");
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped,
              (std::vector<std::string>{"略過 UTF-16 檔案 " + F() + "/g-utf16.txt\nleft out " + F() +
                                            "/g-utf16.txt: UTF-16 text (it starts with a byte order mark), which is not converted",
                                        "略過 UTF-32 檔案 " + F() + "/h-utf32.txt\nleft out " + F() +
                                            "/h-utf32.txt: UTF-32 text (it starts with a byte order mark), which is not converted"}));
    // The file read again counts its second reading only.
    EXPECT_EQ(view_.Texts("ShowCharacterCount").back(), "第 8 字");
}

TEST_F(ConversionRunTest, AFolderWithoutSelectedFilesCompletesWithoutOutput)
{
    WriteFile(site() / "a.json", "{}");
    ASSERT_EQ(::mkfifo((site() / "pipe.txt").c_str(), 0600), 0);
    Run(kToGb, F());
    EXPECT_TRUE(SourceItems().empty());
    EXPECT_TRUE(ResultItems().empty());
    EXPECT_FALSE(fs::exists(site() / "GB"));
    EXPECT_EQ(view_.Texts("ShowStatus"), (std::vector<std::string>{"繁轉簡轉換中", "繁轉簡轉換完成"}));

    // Listing a big folder, selected files or not, lets the window handle its events on the way.
    fs::create_directory(site() / "s");
    for (int i = 0; i < 600; ++i)
        WriteFile(site() / "s" / (std::to_string(i) + ".dat"), "");
    Run(kToGb, F());
    EXPECT_EQ(std::count(view_.calls.begin(), view_.calls.end(), "ProcessPendingEvents"), 1 + 2);
    EXPECT_TRUE(SourceItems().empty());
}

TEST_F(ConversionRunTest, AFailingLookupEndsTheRunKeepingWhatWasWritten)
{
    fs::create_directory(site() / "s");
    WriteFile(site() / "s" / "first.htm", Bytes("B0EA 0A"));
    WriteFile(site() / "second.htm", Bytes("A4A4 0A B0EA C0C0 0A 61"));
    Run(kToGb, F());
    EXPECT_EQ(view_.Texts("ShowStatus"), (std::vector<std::string>{"繁轉簡轉換中", "系統資料已損毀"}));
    EXPECT_EQ(SourceItems(), (std::vector<std::string>{F() + "/s/first.htm", F() + "/second.htm", kFailureItems[0],
                                                       kFailureItems[1]}));
    EXPECT_EQ(ResultItems(), (std::vector<std::string>{F() + "/GB/s/first.htm"}));
    EXPECT_EQ(ReadFile(site() / "GB" / "s" / "first.htm"), Bytes("B9FA 0D0A"));
    // The line before the failure is written; nothing of the failing line is.
    EXPECT_EQ(ReadFile(site() / "GB" / "second.htm"), Bytes("D6D0 0D0A"));
    // The counts stay where the failure left them.
    EXPECT_EQ(view_.Texts("ShowCharacterCount").back(), "第 3 字");
}

TEST_F(ConversionRunTest, FailsWithTheFailureTextsWhenTheDictionaryOrFolderIsMissing)
{
    WriteFile(site() / "a.txt", "x");
    view_.calls.clear();
    result_ = ConversionRun().Run(kToGb, F(), (root_.path() / "nowhere").string(), view_);
    const std::string dictionary = (root_.path() / "nowhere" / "mervik.pcx").string();
    ExpectFailure(fanjian::RunFailure::Kind::Dictionary, {}, dictionary,
                  dictionary + ": cannot open: No such file or directory");
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"ClearSourceList", "ClearResultList", "ShowStatus 繁轉簡轉換中",
                                                     "ProcessPendingEvents", "ShowStatus 系統資料已損毀",
                                                     "AddSourceListItem 系統資料已損毀！",
                                                     "AddSourceListItem 請重新安裝！"}));
    EXPECT_FALSE(fs::exists(site() / "GB"));
    EXPECT_FALSE(fs::exists(root_.path() / "nowhere" / "mervik.pcx"));

    Run(kToGb, F() + "/missing");
    EXPECT_EQ(SourceItems(), kFailureItems);
    ExpectFailure(fanjian::RunFailure::Kind::File, Errno(ENOENT), F() + "/missing",
                  "cannot read folder " + F() + "/missing: No such file or directory");
    WriteFile(site() / "file", "");
    Run(kToGb, F() + "/file");
    EXPECT_EQ(SourceItems(), kFailureItems);
    ExpectFailure(fanjian::RunFailure::Kind::File, Errno(ENOTDIR), F() + "/file",
                  "cannot read folder " + F() + "/file: Not a directory");
}

TEST_F(ConversionRunTest, NeverWritesIntoItsInputThroughLinks)
{
    const std::string input = Bytes("B0EA 0A") + "second line\n";
    WriteFile(site() / "index.htm", input);

    // The output folder is a link back to the folder itself.
    fs::create_directory_symlink(site(), site() / "GB");
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_EQ(ReadFile(site() / "index.htm"), input);
    fs::remove(site() / "GB");

    // A link planted at the output path.
    fs::create_directory(site() / "GB");
    fs::create_symlink(site() / "index.htm", site() / "GB" / "index.htm");
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_EQ(ReadFile(site() / "index.htm"), input);
    fs::remove(site() / "GB" / "index.htm");

    // A hard link.
    fs::create_hard_link(site() / "index.htm", site() / "GB" / "index.htm");
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_EQ(ReadFile(site() / "index.htm"), input);
    EXPECT_TRUE(ResultItems().empty());
}

TEST_F(ConversionRunTest, FailsWhenTheOutputCannotBeCreatedOrWritten)
{
    WriteFile(site() / "a.txt", "x\n");
    // A file stands where the output folder would be.
    WriteFile(site() / "GB", "");
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_EQ(SourceItems(), (std::vector<std::string>{F() + "/a.txt", kFailureItems[0], kFailureItems[1]}));
    ExpectFailure(fanjian::RunFailure::Kind::File, Errno(ENOTDIR), F() + "/GB",
                  "cannot create folder " + F() + "/GB: Not a directory");
    fs::remove(site() / "GB");

    // A link to a device (one that is always full) where the output goes: never written through.
    fs::create_directory(site() / "GB");
    fs::create_symlink("/dev/full", site() / "GB" / "a.txt");
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_TRUE(ResultItems().empty());
    ExpectFailure(fanjian::RunFailure::Kind::File, fanjian::FileProblem::LinkAtPath, F() + "/GB/a.txt",
                  "cannot create " + F() + "/GB/a.txt: a symbolic link stands there");
    fs::remove(site() / "GB" / "a.txt");

    // A FIFO at the output path fails at once instead of waiting for a reader.
    ASSERT_EQ(::mkfifo((site() / "GB" / "a.txt").c_str(), 0600), 0);
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_EQ(ReadFile(site() / "a.txt"), "x\n");
}

// The descriptor every file of the core is held by: closed once, wherever it was moved, and a
// failure names the path.
TEST_F(ConversionRunTest, DescriptorsCloseOnceAndNameTheirPathInFailures)
{
    EXPECT_THROW(fanjian::Descriptor::Open("cannot open", F() + "/missing.txt", O_RDONLY), fanjian::FileError);
    WriteFile(site() / "a.txt", "x");
    int fd = -1;
    {
        fanjian::Descriptor first = fanjian::Descriptor::Open("cannot open", F() + "/a.txt", O_RDONLY);
        fd = first.Get();
        const fanjian::Descriptor second = std::move(first);
        EXPECT_FALSE(first.IsOpen());
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "still open after its owner went";
    // A close the system refuses is reported, with the path.
    fanjian::Descriptor held = fanjian::Descriptor::Open("cannot open", F() + "/a.txt", O_RDONLY);
    ASSERT_EQ(::close(held.Get()), 0);
    try {
        held.Close();
        ADD_FAILURE() << "no failure reported";
    } catch (const fanjian::FileError& error) {
        EXPECT_EQ(error.path(), F() + "/a.txt");
        EXPECT_EQ(error.code(), Errno(EBADF));
    }
}

// A sink with room for so many bytes, as a disk that fills up; it can take bytes back.
class FillingSink : public fanjian::LineSink {
public:
    explicit FillingSink(std::size_t room) : room_(room) {}
    std::string bytes;
    void Write(std::string_view more, std::uint64_t& written) override
    {
        const std::size_t taken = std::min(more.size(), room_ - bytes.size());
        bytes.append(more.substr(0, taken));
        written += taken;
        if (taken < more.size())
            throw fanjian::FileError("cannot write", "/out", ENOSPC);
    }
    void TakeBack(std::uint64_t count) noexcept override { bytes.resize(bytes.size() - count); }

private:
    std::size_t room_;
};

// Whatever stops it, the output ends after a complete line: after a disk that fills up at any byte
// (as a run writes: in batches; as the filter does: line by line), after a row of the dictionary
// that cannot be used (the run still writes the lines before it, the filter leaves them).
TEST_F(ConversionRunTest, TheLineWriterEndsAStoppedOutputAfterItsLastCompleteLine)
{
    fanjian::CharacterDictionary dictionary;
    dictionary.Open(program_.str());
    const auto write = [&](const std::string& text, fanjian::LineWriter::Settings settings, FillingSink& sink) {
        RecordingView quiet;
        fanjian::LineConverter converter(kToGb, dictionary, quiet);
        fanjian::LineWriter writer(settings);
        writer.Start(sink);
        try {
            // The bytes the converter leaves at the end of a block come again in the next.
            for (std::size_t at = 0;;) {
                const std::string_view block = std::string_view(text).substr(at, settings.block);
                const bool atEnd = at + block.size() == text.size();
                at += writer.Convert(converter, block, atEnd);
                if (atEnd)
                    break;
            }
        } catch (...) {
            writer.KeepFinishedLines();
        }
    };
    // Every kind of line end, a declaration, a lead byte before a line end, a long line.
    const std::string text = "a\r\n" + Bytes("B0EA A4A4 0D") + "<meta charset=big5>\n" + Bytes("B1 0A") +
                             std::string(300, 'x') + Bytes("B0EA") + "\r\n\r" + Bytes("A4A4") + "last";
    FillingSink unlimited(1 << 20);
    write(text, {.collect = 64, .block = 32}, unlimited);
    const std::string whole = unlimited.bytes;
    ASSERT_EQ(whole, "a\r\n" + Bytes("B9FA D6D0 0D0A") + "<meta charset=gb2312>\r\n" + Bytes("B1 0D0A") +
                         std::string(300, 'x') + Bytes("B9FA") + "\r\n\r\n" + Bytes("D6D0") + "last\r\n");
    // ... and writing behind the next block, as a run does, whose failure shows a block later.
    const fanjian::LineWriter::Settings ways[] = {{.collect = 64, .block = 32},
                                                  {.collect = 64, .block = 32, .eager = true},
                                                  {.collect = 32, .block = 32, .writeBehind = true}};
    for (const auto& settings : ways) {
        for (std::size_t room = 0; room < whole.size(); ++room) {
            FillingSink sink(room);
            write(text, settings, sink);
            const std::size_t end = room == 0 ? std::string::npos : whole.rfind('\n', room - 1);
            EXPECT_EQ(sink.bytes, end == std::string::npos ? "" : whole.substr(0, end + 1))
                << room << " bytes of room" << (settings.eager ? ", line by line" : "")
                << (settings.writeBehind ? ", behind" : "");
        }
    }
    // Blocks long enough for two threads, the write behind going out on the second: a disk that
    // fills up in the middle of the first block, of the second, and never.
    std::string longText;
    for (int line = 0; longText.size() < 3 * fanjian::LineConverter::kSplitSize; ++line)
        longText += std::to_string(line) + Bytes(" B0EA A4A4 ") + std::string(line % 97, 'x') + "\n";
    FillingSink longWhole(1 << 30);
    write(longText,
          {.collect = 2 * fanjian::LineConverter::kSplitSize,
           .block = 2 * fanjian::LineConverter::kSplitSize,
           .writeBehind = true},
          longWhole);
    ASSERT_EQ(longWhole.bytes.size(), longText.size() + std::count(longText.begin(), longText.end(), '\n'));
    for (const std::size_t room : {std::size_t{100'000}, std::size_t{300'000}, longWhole.bytes.size()}) {
        FillingSink sink(room);
        write(longText,
              {.collect = 2 * fanjian::LineConverter::kSplitSize,
               .block = 2 * fanjian::LineConverter::kSplitSize,
               .writeBehind = true},
              sink);
        EXPECT_EQ(sink.bytes, longWhole.bytes.substr(0, longWhole.bytes.rfind('\n', room - 1) + 1)) << room;
    }
    const std::string badRow = "one\ntwo\n" + Bytes("C0C0") + "\n";
    FillingSink run(1 << 20), filter(1 << 20), behind(1 << 20);
    write(badRow, {.collect = 64, .block = 64}, run);
    write(badRow, {.collect = 64, .block = 64, .eager = true, .finishAfterFailure = false}, filter);
    write(badRow, {.collect = 4, .block = 4, .writeBehind = true}, behind);
    EXPECT_EQ(run.bytes, "one\r\ntwo\r\n");
    EXPECT_EQ(filter.bytes, "");
    EXPECT_EQ(behind.bytes, "one\r\ntwo\r\n");
}

TEST_F(ConversionRunTest, AViewThatThrowsLeavesTheRunWithFinishedLinesOnDisk)
{
    WriteFile(site() / "a.txt", Bytes("B0EA 0A A4A4 A4A4 0A B0EA 0A"));
    int counts = 0;
    view_.onCall = [&counts](std::string_view operation, std::string_view) {
        if (operation == "ShowCharacterCount" && ++counts == 3)
            throw std::runtime_error("window closed");
    };
    EXPECT_THROW(ConversionRun().Run(kToGb, F(), program_.str(), view_), std::runtime_error);
    EXPECT_EQ(ReadFile(site() / "GB" / "a.txt"), Bytes("B9FA 0D0A"));
    EXPECT_TRUE(view_.Texts("AddResultListItem").empty());
    EXPECT_EQ(view_.Texts("ShowStatus"), (std::vector<std::string>{"繁轉簡轉換中"}));
    EXPECT_EQ(view_.Texts("AddSourceListItem").size(), 1u);
}

// Lines far longer than the blocks the run reads convert as whole lines do.
TEST_F(ConversionRunTest, ConvertsLongLinesAcrossReadBlocksExactly)
{
    constexpr std::size_t kBlock = 256 * 1024;
    std::string line;
    while (line.size() < 3 * kBlock)
        line += Bytes("B0EA") + "ab charset=big5 " + Bytes("A4A4 C1") + "content=\"zh-tw ";
    std::string text = line + "\n";
    // Put a CR LF, a double-byte character and a declaration across block boundaries.
    std::string second(kBlock - text.size() % kBlock - 1, 'x');
    text += second + "\r\n";
    std::string third(kBlock - 1 - 5, 'y');
    third += "chars" + std::string("et=big5") + Bytes("B0EA");
    text += third;
    std::string fourth = std::string(kBlock - (text.size() % kBlock) - 1, 'z') + Bytes("A4A4");
    text += "\n" + fourth;
    WriteFile(site() / "long.txt", text);

    Run(kToGb, F());
    ASSERT_EQ(LastStatus(), "繁轉簡轉換完成");
    fanjian::CharacterDictionary dictionary;
    dictionary.Open(program_.str());
    RecordingView quiet;
    fanjian::LineConverter converter(kToGb, dictionary, quiet);
    const std::string expected = converter.ConvertLine(line) + "\r\n" + second + "\r\n" +
                                 converter.ConvertLine(third) + "\r\n" + converter.ConvertLine(fourth) + "\r\n";
    EXPECT_EQ(ReadFile(site() / "GB" / "long.txt"), expected);
}

TEST_F(ConversionRunTest, AFailureInsideALongLineWritesNothingOfThatLine)
{
    std::string text = "first\n" + std::string(3 * 1024 * 1024, 'a') + Bytes("C0C0") + "tail\nlast\n";
    WriteFile(site() / "long.txt", text);
    Run(kToGb, F());
    EXPECT_EQ(LastStatus(), "系統資料已損毀");
    EXPECT_EQ(ReadFile(site() / "GB" / "long.txt"), "first\r\n");
}

} // namespace

namespace {

// A view that keeps the count text without copying it, as the window does, and reads it when the
// run shows its last texts.
class KeepingView : public RecordingView {
public:
    std::string_view kept;
    std::vector<std::string> readAtStatus;
    void ShowCharacterCount(std::string_view text) override { kept = text; }
    // A new run: what the last one left is gone.
    void ClearSourceList() override
    {
        kept = {};
        RecordingView::ClearSourceList();
    }
    void ShowStatus(std::string_view text) override
    {
        readAtStatus.emplace_back(kept);
        RecordingView::ShowStatus(text);
    }
};

TEST_F(ConversionRunTest, TheCountTextStaysValidUntilTheRunReturns)
{
    WriteFile(site() / "a.txt", Bytes("B0EA A4A4 0A B0EA"));
    KeepingView view;
    ConversionRun().Run(kToGb, F(), program_.str(), view);
    EXPECT_EQ(view.readAtStatus.back(), "第 3 字");

    // Also when the run fails after its last count.
    WriteFile(site() / "a.txt", Bytes("B0EA 0A C0C0"));
    ConversionRun().Run(kToGb, F(), program_.str(), view);
    EXPECT_EQ(view.Texts("ShowStatus").back(), "系統資料已損毀");
    EXPECT_EQ(view.readAtStatus.back(), "第 1 字");
}

} // namespace
