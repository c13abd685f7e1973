// The dictionary the build ships: mervik.pcx beside the program, read through CharacterDictionary
// and held against the committed text it was compiled from and against glibc's code pages.

#include "dictionary/CharacterDictionary.h"

#include "CodePages.h"
#include "Files.h"
#include "PhraseText.h"
#include "TableText.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using fanjian::CharacterDictionary;
using fanjian::ConversionDirection;
using namespace fanjian::data;

namespace {

constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

bool Listed(const std::vector<CodeRange>& ranges, std::uint16_t code)
{
    for (const CodeRange& range : ranges)
        if (code >= range.first && code <= range.last)
            return true;
    return false;
}

class ShippedDictionary : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        big5_ = new CodeTable(LoadBig5());
        gb_ = new CodeTable(LoadGb());
        const std::string file = FANJIAN_SOURCE_DIR "/data/mervik.txt";
        text_ = new TableText(ParseTableText(ReadFile(file), file, *big5_, *gb_));
        dictionary_ = new CharacterDictionary;
        dictionary_->Open(FANJIAN_PROGRAM_DIR);
    }
    static void TearDownTestSuite()
    {
        delete dictionary_;
        delete text_;
        delete gb_;
        delete big5_;
    }

    static const CodeTable* big5_;
    static const CodeTable* gb_;
    static const TableText* text_;
    static CharacterDictionary* dictionary_;
};

const CodeTable* ShippedDictionary::big5_ = nullptr;
const CodeTable* ShippedDictionary::gb_ = nullptr;
const TableText* ShippedDictionary::text_ = nullptr;
CharacterDictionary* ShippedDictionary::dictionary_ = nullptr;

TEST_F(ShippedDictionary, AnswersTheWorkedExample)
{
    EXPECT_EQ(dictionary_->Lookup(kToGb, 45290), 47610); // 國 -> 国
    EXPECT_EQ(dictionary_->Lookup(kToBig5, 47610), 45290); // 国 -> 國
}

TEST_F(ShippedDictionary, EveryCodeAnswersWithThePairMeantForIt)
{
    std::map<std::uint16_t, std::uint16_t> toGb;
    std::map<std::uint16_t, std::uint16_t> toBig5;
    for (const TableRow& row : text_->rows) {
        if (row.traditionalToSimplified)
            toGb.emplace(row.big5, row.gb);
        if (row.simplifiedToTraditional)
            toBig5.emplace(row.gb, row.big5);
    }
    ASSERT_GT(toGb.size(), 13000u);
    ASSERT_GT(toBig5.size(), 13000u);
    for (const TableRow& row : text_->rows) {
        // Each code held by any row has its own pair; otherwise it would answer from a row meant
        // for another code.
        ASSERT_TRUE(toGb.contains(row.big5)) << HexCode(row.big5) << " has no Traditional -> Simplified row";
        ASSERT_TRUE(toBig5.contains(row.gb)) << HexCode(row.gb) << " has no Simplified -> Traditional row";
    }
    for (const auto& [big5, gb] : toGb)
        ASSERT_EQ(dictionary_->Lookup(kToGb, big5), gb) << "Big5 " << HexCode(big5);
    for (const auto& [gb, big5] : toBig5)
        ASSERT_EQ(dictionary_->Lookup(kToBig5, gb), big5) << "GB " << HexCode(gb);
    // Pairs that share a code with an earlier or later row, named in the table's rules.
    EXPECT_EQ(dictionary_->Lookup(kToBig5, gb_->Code(U'昵').value()), big5_->Code(U'暱'));
    EXPECT_EQ(dictionary_->Lookup(kToGb, big5_->Code(U'昵').value()), gb_->Code(U'昵'));
    EXPECT_EQ(dictionary_->Lookup(kToBig5, gb_->Code(U'里').value()), big5_->Code(U'裡'));
    EXPECT_EQ(dictionary_->Lookup(kToGb, big5_->Code(U'里').value()), gb_->Code(U'里'));
    // 垅 takes the variant 壟 (CP950 lacks OpenCC's 壠), which keeps simplifying to 垄.
    EXPECT_EQ(dictionary_->Lookup(kToBig5, gb_->Code(U'垅').value()), big5_->Code(U'壟'));
    EXPECT_EQ(dictionary_->Lookup(kToGb, big5_->Code(U'壟').value()), gb_->Code(U'垄'));
}

TEST_F(ShippedDictionary, EveryCp950CharacterHasARowUnlessListed)
{
    std::size_t listed = 0;
    for (const auto& [code, c] : big5_->Characters()) {
        const auto answer = dictionary_->Lookup(kToGb, code);
        if (Listed(text_->big5WithoutRow, code)) {
            ++listed;
            EXPECT_EQ(answer, std::nullopt) << HexCode(code) << " is listed without a row";
            // Only the user-defined area and characters without a GB form may lack a row.
            EXPECT_TRUE((c >= 0xE000 && c <= 0xF8FF) || !gb_->Code(c)) << HexCode(code) << " has a GB form";
            continue;
        }
        ASSERT_TRUE(answer.has_value()) << "CP950 " << HexCode(code) << " " << ToUtf8(c) << " has no row";
        const auto target = gb_->Character(*answer);
        ASSERT_TRUE(target.has_value()) << HexCode(code) << " answers " << HexCode(*answer) << ", no GB code";
        // A Han character stays a Han character, a symbol a symbol.
        EXPECT_EQ(IsHan(c), IsHan(*target)) << HexCode(code) << " -> " << HexCode(*answer);
        // Text that GB2312 can hold stays in GB2312: a character GB2312 has is never answered
        // with a code beyond it.
        if (const auto own = gb_->Code(c); own && IsGb2312Code(*own)) {
            EXPECT_TRUE(IsGb2312Code(*answer)) << HexCode(code) << " -> " << HexCode(*answer);
        }
    }
    EXPECT_GE(listed, 408u); // C6A1..C8FE at least
}

TEST_F(ShippedDictionary, EveryGb2312CharacterWithACp950FormHasARow)
{
    std::size_t gb2312 = 0;
    std::size_t hanWithoutRow = 0;
    for (const auto& [code, c] : gb_->Characters()) {
        if (!IsGb2312Code(code))
            continue;
        ++gb2312;
        const auto answer = dictionary_->Lookup(kToBig5, code);
        if (Listed(text_->gbWithoutRow, code)) {
            hanWithoutRow += IsHan(c) ? 1 : 0;
            EXPECT_EQ(answer, std::nullopt) << HexCode(code) << " is listed without a row";
            EXPECT_FALSE(big5_->Code(c).has_value()) << HexCode(code) << " " << ToUtf8(c) << " is in CP950";
            continue;
        }
        ASSERT_TRUE(answer.has_value()) << "GB2312 " << HexCode(code) << " " << ToUtf8(c) << " has no row";
        const auto target = big5_->Character(*answer);
        ASSERT_TRUE(target.has_value()) << HexCode(code) << " answers " << HexCode(*answer) << ", no CP950 code";
        EXPECT_EQ(IsHan(c), IsHan(*target)) << HexCode(code) << " -> " << HexCode(*answer);
    }
    EXPECT_EQ(gb2312, 7445u);
    // Of the 242 Han characters none of whose forms CP950 has, 13 take a variant it has (钎 釬,
    // 垅 壟, 疃 畽, ...); the others, such as 吲, 伲 and the radicals 亻 氵, find only other words.
    EXPECT_EQ(hanWithoutRow, 229u);
    for (char32_t c : {U'吲', U'哌', U'凼', U'伲', U'亻', U'氵'})
        EXPECT_TRUE(Listed(text_->gbWithoutRow, gb_->Code(c).value())) << ToUtf8(c);
}

TEST_F(ShippedDictionary, EveryGbkAnswerIsACp950Character)
{
    // GBK codes beyond GB2312 (Traditional characters in GB pages) are answered where CP950 has
    // a form; a character CP950 has itself is never left without a row.
    for (const auto& [code, c] : gb_->Characters()) {
        if (IsGb2312Code(code))
            continue;
        const auto answer = dictionary_->Lookup(kToBig5, code);
        if (answer) {
            ASSERT_TRUE(big5_->Character(*answer).has_value()) << HexCode(code);
        } else {
            ASSERT_FALSE(big5_->Code(c).has_value()) << "GBK " << HexCode(code) << " " << ToUtf8(c) << " has no row";
        }
    }
}

TEST_F(ShippedDictionary, HoldsThePhrasesOfItsTextInBothDirections)
{
    const std::string file = FANJIAN_SOURCE_DIR "/data/phrases.txt";
    const auto rows = ParsePhraseText(ReadFile(file), file, *big5_, *gb_);
    for (const ConversionDirection direction : {kToGb, kToBig5}) {
        const bool toGb = direction == kToGb;
        std::map<std::vector<std::uint16_t>, std::vector<std::uint16_t>> expected;
        for (const PhraseRow& row : rows)
            if (toGb ? row.traditionalToSimplified : row.simplifiedToTraditional)
                expected.emplace(toGb ? row.big5 : row.gb, toGb ? row.gb : row.big5);
        const auto& phrases = dictionary_->Phrases(direction);
        ASSERT_EQ(phrases.size(), expected.size());
        std::size_t longest = 0;
        for (std::size_t i = 0; i < phrases.size(); ++i) {
            const std::vector<std::uint16_t> source(phrases.Source(i).begin(), phrases.Source(i).end());
            const auto it = expected.find(source);
            ASSERT_NE(it, expected.end()) << HexCode(source.front());
            ASSERT_TRUE(std::equal(it->second.begin(), it->second.end(), phrases.Target(i).begin(),
                                   phrases.Target(i).end()));
            longest = std::max(longest, source.size());
        }
        EXPECT_EQ(phrases.LongestSource(), longest);
    }
    // The phrases the figures rest on: 复制 and 恢复 apart, Taiwan's 游標, and script only.
    EXPECT_GT(dictionary_->Phrases(kToBig5).size(), 40000u);
    const auto text = [](const std::vector<std::uint16_t>& codes, const CodeTable& table) {
        std::u32string characters;
        for (std::uint16_t code : codes)
            characters.push_back(table.Character(code).value());
        return characters;
    };
    const auto contains = [&](std::u32string_view traditional, std::u32string_view simplified, bool toGb) {
        for (const PhraseRow& row : rows)
            if ((toGb ? row.traditionalToSimplified : row.simplifiedToTraditional) &&
                text(row.big5, *big5_) == traditional && text(row.gb, *gb_) == simplified)
                return true;
        return false;
    };
    EXPECT_TRUE(contains(U"複製", U"复制", false));
    EXPECT_TRUE(contains(U"游標", U"游标", false));
    EXPECT_TRUE(contains(U"乾隆", U"乾隆", true));
    EXPECT_FALSE(contains(U"軟體", U"软件", false));
}

} // namespace
