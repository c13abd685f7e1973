// The table text's parser and the tool that compiles the text into mervik.pcx.

#include "dictionary/CharacterDictionary.h"

#include "CodePages.h"
#include "PhraseText.h"
#include "TableText.h"
#include "TestSupport.h"

#include "CodePageTables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/wait.h>

using fanjian::CharacterDictionary;
using fanjian::ConversionDirection;
using namespace fanjian::data;
using fanjian::testing::TempDir;

namespace {

using fanjian::testing::Big5;
using fanjian::testing::Gb;

TableText Parse(const std::string& text)
{
    return ParseTableText(text, "t.txt", Big5(), Gb());
}

// The message of the TableTextError that parsing `text` throws, or "" when it parses.
std::string ParseError(const std::string& text)
{
    try {
        Parse(text);
    } catch (const TableTextError& e) {
        return e.what();
    }
    return "";
}

TEST(TableText, ReadsRowsMarksAndListsOfCodesWithoutRow)
{
    const TableText table = Parse("# header\n"
                                  "#   no-row big5 C6A1..C8FE user-defined area\n"
                                  "#   no-row gb A1A9 々 has no CP950 form\n"
                                  "B0EA 國 B9FA 国 <->\n"
                                  "B0EA 國 87F8 國 <-\n"
                                  "A8BD 里 C0EF 里 ->\n");
    ASSERT_EQ(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[0].big5, 0xB0EA);
    EXPECT_EQ(table.rows[0].gb, 0xB9FA);
    EXPECT_TRUE(table.rows[0].traditionalToSimplified && table.rows[0].simplifiedToTraditional);
    EXPECT_TRUE(!table.rows[1].traditionalToSimplified && table.rows[1].simplifiedToTraditional);
    EXPECT_TRUE(table.rows[2].traditionalToSimplified && !table.rows[2].simplifiedToTraditional);
    ASSERT_EQ(table.big5WithoutRow.size(), 1u);
    EXPECT_EQ(table.big5WithoutRow[0].first, 0xC6A1);
    EXPECT_EQ(table.big5WithoutRow[0].last, 0xC8FE);
    ASSERT_EQ(table.gbWithoutRow.size(), 1u);
    EXPECT_EQ(table.gbWithoutRow[0].first, 0xA1A9);
    EXPECT_EQ(table.gbWithoutRow[0].last, 0xA1A9);
}

TEST(TableText, FormatsWhatItParses)
{
    const TableRow row{0xB0EA, 0xB9FA, true, true};
    EXPECT_EQ(FormatRow(row, Big5(), Gb()), "B0EA 國 B9FA 国 <->");
    EXPECT_EQ(FormatRow({0xA8BD, 0xC0EF, true, false}, Big5(), Gb()), "A8BD 里 C0EF 里 ->");
    EXPECT_EQ(FormatWithoutRow("big5", {0xC6A1, 0xC8FE}, "user-defined area"),
              "#   no-row big5 C6A1..C8FE user-defined area");
    const TableText table = Parse(FormatRow(row, Big5(), Gb()) + "\n" +
                                  FormatWithoutRow("gb", {0xA1A9, 0xA1A9}, "") + "\n");
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0].gb, 0xB9FA);
    ASSERT_EQ(table.gbWithoutRow.size(), 1u);
}

TEST(TableText, RefusesMalformedLinesNamingTheLine)
{
    const std::string good = "B0EA 國 B9FA 国 <->\n";
    EXPECT_EQ(ParseError(good + "b0ea 國 B9FA 国 <-\n"), "t.txt:2: a code is four upper-case hex digits from 8140 to FFFF");
    EXPECT_EQ(ParseError(good + "0041 A B9FA 国 <-\n"), "t.txt:2: a code is four upper-case hex digits from 8140 to FFFF");
    EXPECT_EQ(ParseError("B0EA 國  B9FA 国 <->\n"), "t.txt:1: a row has five fields separated by single spaces");
    EXPECT_EQ(ParseError("B0EA 國 B9FA 国\n"), "t.txt:1: a row has five fields separated by single spaces");
    EXPECT_EQ(ParseError("B0EA 国 B9FA 国 <->\n"), "t.txt:1: the character beside B0EA is not 國");
    EXPECT_EQ(ParseError("B0EA 國 B9FA 國 <->\n"), "t.txt:1: the character beside B9FA is not 国");
    EXPECT_EQ(ParseError("C6A0 國 B9FA 国 <->\n"), "t.txt:1: C6A0 is no CP950 character");
    EXPECT_EQ(ParseError("B0EA 國 B9FA 国 =>\n"), "t.txt:1: the last field is ->, <- or <->");
    EXPECT_EQ(ParseError(good + "\n"), "t.txt:2: empty line");
    EXPECT_EQ(ParseError("B0EA 國 B9FA 国 <->"), "t.txt:1: the last line has no line end");
    EXPECT_EQ(ParseError("#   no-row big5 C8FE..C6A1 reversed\n"), "t.txt:1: malformed no-row line");
    EXPECT_EQ(ParseError(good + "B0EA 國 B9FA 国 <-\n"), "t.txt:2: the same row stands on line 1");
}

TEST(TableText, RefusesMarkedRowsThatAnEarlierRowShadows)
{
    // The lookups answer from the first row holding a code, so a marked row must be that row.
    EXPECT_EQ(ParseError("B0EA 國 87F8 國 <-\nB0EA 國 B9FA 国 ->\n"),
              "t.txt:2: a -> row must be the first to hold its Big5 code; line 1 holds it already");
    EXPECT_EQ(ParseError("A8BD 里 C0EF 里 ->\nB8CC 裡 C0EF 里 <->\n"),
              "t.txt:2: a <- row must be the first to hold its GB code; line 1 holds it already");
    EXPECT_EQ(ParseError("B8CC 裡 C0EF 里 <->\nA8BD 里 C0EF 里 ->\n"), "");
}

// The message of the TableTextError that parsing a phrase text throws, or "" when it parses.
std::string PhraseError(const std::string& text)
{
    try {
        ParsePhraseText(text, "p.txt", Big5(), Gb());
    } catch (const TableTextError& e) {
        return e.what();
    }
    return "";
}

TEST(PhraseText, ReadsAndFormatsRowsOfBothDirections)
{
    const auto rows = ParsePhraseText("# header\n"
                                      "BDC6BB73 複製 B8B4D6C6 复制 <-\n"
                                      "B0AEB6A9 乾隆 C7ACC2A1 乾隆 <->\n"
                                      "B5F9A555 註冊 D7A2B2E1 注册 ->\n",
                                      "p.txt", Big5(), Gb());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].big5, (std::vector<std::uint16_t>{0xBDC6, 0xBB73}));
    EXPECT_EQ(rows[0].gb, (std::vector<std::uint16_t>{0xB8B4, 0xD6C6}));
    EXPECT_TRUE(!rows[0].traditionalToSimplified && rows[0].simplifiedToTraditional);
    EXPECT_TRUE(rows[1].traditionalToSimplified && rows[1].simplifiedToTraditional);
    EXPECT_TRUE(rows[2].traditionalToSimplified && !rows[2].simplifiedToTraditional);
    EXPECT_EQ(FormatPhraseRow(rows[1], Big5(), Gb()), "B0AEB6A9 乾隆 C7ACC2A1 乾隆 <->");
    EXPECT_EQ(CodeBytes(rows[0].gb), "\xB8\xB4\xD6\xC6");
}

TEST(PhraseText, RefusesMalformedRowsNamingTheLine)
{
    const std::string good = "BDC6BB73 複製 B8B4D6C6 复制 <-\n";
    const std::pair<std::string, std::string> cases[] = {
        {"BDC6BB7 複製 B8B4D6C6 复制 <-\n", "p.txt:1: codes are groups of four upper-case hex digits"},
        {"BDC6 複 B8B4D6C6 复制 <-\n", "p.txt:1: the two sides hold different numbers of characters"},
        {"BDC6 複 B8B4 复 <-\n", "p.txt:1: a phrase has 2 to 16 characters"},
        {"BDC6BB73 複制 B8B4D6C6 复制 <-\n", "p.txt:1: the characters beside BDC6BB73 are not 複製"},
        {"BDC68140 複 B8B4D6C6 复制 <-\n", "p.txt:1: BDC68140 holds a code that is no CP950 character"},
        {"BDC6BB73 複製 B8B4D6C6 复制 <=\n", "p.txt:1: the last field is ->, <- or <->"},
        {"BDC6BB73 複製 B8B4D6C6 复制\n", "p.txt:1: a row has five fields separated by single spaces"},
        {good + "ABECB45F 恢復 B8B4D6C6 复制 <->\n", "p.txt:2: line 1 holds this Simplified phrase already"},
        {"BDC6BB73 複製 B8B4D6C6 复制 ->\nBDC6BB73 複製 BBD6B8B4 恢复 <->\n",
         "p.txt:2: line 1 holds this Traditional phrase already"},
        {good.substr(0, good.size() - 1), "p.txt:1: the last line has no line end"},
        // The same phrase sought in different directions is two phrases, not one twice.
        {good + "BDC6BB73 複製 BBD6B8B4 恢复 ->\n", ""},
    };
    for (const auto& [text, error] : cases)
        EXPECT_EQ(PhraseError(text), error) << text;
    std::string big5, gb, characters;
    for (int i = 0; i < 17; ++i) {
        big5 += "A440";
        gb += "D2BB";
        characters += "一";
    }
    EXPECT_EQ(PhraseError(big5 + " " + characters + " " + gb + " " + characters + " <-\n"),
              "p.txt:1: a phrase has 2 to 16 characters");
}

// Runs the compile tool, with a phrase text when one is given; its exit status.
int Compile(const std::filesystem::path& text, const std::filesystem::path& output,
            const std::filesystem::path& phrases = {})
{
    const std::string command = std::string("'") + FANJIAN_COMPILE_DICTIONARY + "' '" + text.string() + "' " +
                                (phrases.empty() ? "" : "'" + phrases.string() + "' ") + "'" + output.string() +
                                "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CompileDictionary, WritesTheRowsInTextOrder)
{
    TempDir dir;
    fanjian::testing::WriteFile(dir.path() / "t.txt", "# two rows share 里\n"
                                                      "B8CC 裡 C0EF 里 <->\n"
                                                      "A8BD 里 C0EF 里 ->\n");
    ASSERT_EQ(Compile(dir.path() / "t.txt", dir.path() / "mervik.pcx"), 0);
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(ConversionDirection::SimplifiedToTraditional, 0xC0EF), 0xB8CC);
    EXPECT_EQ(dictionary.Lookup(ConversionDirection::TraditionalToSimplified, 0xA8BD), 0xC0EF);
    EXPECT_EQ(dictionary.Lookup(ConversionDirection::TraditionalToSimplified, 0xB8CC), 0xC0EF);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(entry.path().filename() == "t.txt" || entry.path().filename() == "mervik.pcx")
            << "left behind: " << entry.path();
}

TEST(CompileDictionary, WritesThePhrasesOfEachDirectionAndNoneWithoutTheirText)
{
    TempDir dir;
    fanjian::testing::WriteFile(dir.path() / "t.txt", "B0EA 國 B9FA 国 <->\n");
    fanjian::testing::WriteFile(dir.path() / "p.txt", "BDC6BB73 複製 B8B4D6C6 复制 <-\n"
                                                      "B0AEB6A9 乾隆 C7ACC2A1 乾隆 <->\n");
    ASSERT_EQ(Compile(dir.path() / "t.txt", dir.path() / "mervik.pcx", dir.path() / "p.txt"), 0);
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    const auto& toBig5 = dictionary.Phrases(ConversionDirection::SimplifiedToTraditional);
    ASSERT_EQ(toBig5.size(), 2u);
    EXPECT_EQ(std::vector<std::uint16_t>(toBig5.Source(0).begin(), toBig5.Source(0).end()),
              (std::vector<std::uint16_t>{0xB8B4, 0xD6C6}));
    EXPECT_EQ(std::vector<std::uint16_t>(toBig5.Target(0).begin(), toBig5.Target(0).end()),
              (std::vector<std::uint16_t>{0xBDC6, 0xBB73}));
    const auto& toGb = dictionary.Phrases(ConversionDirection::TraditionalToSimplified);
    ASSERT_EQ(toGb.size(), 1u);
    EXPECT_EQ(toGb.Source(0)[0], 0xB0AE);
    EXPECT_EQ(toGb.Target(0)[0], 0xC7AC);

    ASSERT_EQ(Compile(dir.path() / "t.txt", dir.path() / "mervik.pcx"), 0);
    dictionary.Open(dir.str());
    EXPECT_TRUE(dictionary.Phrases(ConversionDirection::SimplifiedToTraditional).empty());
    EXPECT_EQ(dictionary.Lookup(ConversionDirection::TraditionalToSimplified, 0xB0EA), 0xB9FA);
    // A malformed phrase text fails the build like a malformed table text.
    fanjian::testing::WriteFile(dir.path() / "p.txt", "BDC6BB73 複製 B8B4 复 <-\n");
    EXPECT_NE(Compile(dir.path() / "t.txt", dir.path() / "mervik.pcx", dir.path() / "p.txt"), 0);
}

TEST(CompileDictionary, AMalformedLineFailsAndLeavesTheOldFileAlone)
{
    TempDir dir;
    fanjian::testing::WriteFile(dir.path() / "good.txt", "B0EA 國 B9FA 国 <->\n");
    ASSERT_EQ(Compile(dir.path() / "good.txt", dir.path() / "mervik.pcx"), 0);
    const std::string before = fanjian::testing::ReadFile(dir.path() / "mervik.pcx");

    fanjian::testing::WriteFile(dir.path() / "bad.txt", "B0EA 國 B9FA 国 <->\nA8BD 里 C0EF\n");
    EXPECT_NE(Compile(dir.path() / "bad.txt", dir.path() / "mervik.pcx"), 0);
    EXPECT_EQ(fanjian::testing::ReadFile(dir.path() / "mervik.pcx"), before);
    EXPECT_NE(Compile(dir.path() / "missing.txt", dir.path() / "mervik.pcx"), 0);
    EXPECT_EQ(fanjian::testing::ReadFile(dir.path() / "mervik.pcx"), before);
    // No temporary file stays behind.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 3u);
}

} // namespace
