// The generator's rules and its row order, on small hand-made sources over the real code pages.

#include "CodePages.h"
#include "PhraseBuilder.h"
#include "Sources.h"
#include "TableBuilder.h"

#include "CodePageTables.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

using namespace fanjian::data;

namespace {

using fanjian::testing::Big5;
using fanjian::testing::Gb;

std::uint16_t B(char32_t c)
{
    return Big5().Code(c).value();
}

std::uint16_t G(char32_t c)
{
    return Gb().Code(c).value();
}

// The pair meant for each code, read off the built rows.
struct Pairs {
    std::map<std::uint16_t, std::uint16_t> toGb;
    std::map<std::uint16_t, std::uint16_t> toBig5;
    std::map<std::uint16_t, std::uint16_t> firstToGb; // what a first-row lookup answers
    std::map<std::uint16_t, std::uint16_t> firstToBig5;
};

Pairs Read(const std::vector<TableRow>& rows)
{
    Pairs pairs;
    for (const TableRow& row : rows) {
        if (row.traditionalToSimplified)
            pairs.toGb.emplace(row.big5, row.gb);
        if (row.simplifiedToTraditional)
            pairs.toBig5.emplace(row.gb, row.big5);
        pairs.firstToGb.emplace(row.big5, row.gb);
        pairs.firstToBig5.emplace(row.gb, row.big5);
    }
    return pairs;
}

bool ListedWithoutRow(const BuiltTable& built, std::uint16_t gb)
{
    for (const WithoutRow& entry : built.gbWithoutRow)
        if (gb >= entry.range.first && gb <= entry.range.last)
            return true;
    return false;
}

TableSources Sources(const std::string& ts, const std::string& st, const std::string& tw = "",
                     const std::string& unihan = "", const std::string& overrides = "")
{
    TableSources sources;
    sources.traditionalToSimplified = ParseOpenccCharacters(ts, "TS");
    sources.simplifiedToTraditional = ParseOpenccCharacters(st, "ST");
    sources.taiwanVariants = ParseOpenccCharacters(tw, "TW");
    sources.unihan = ParseUnihanVariants(unihan, "Unihan");
    sources.overrides = ParseOverrides(overrides, "overrides.txt");
    return sources;
}

TEST(TableGenerator, TraditionalToSimplifiedPrefersGb2312AndKeepsWhatOpenccKeeps)
{
    const BuiltTable built = BuildTable(Sources("祇\t祇 只\n國\t国\n", "",
                                                "", "U+8457\tkSimplifiedVariant\tU+7740\n"
                                                    "U+7CA7\tkSimplifiedVariant\tU+5986\n"),
                                        Big5(), Gb());
    const Pairs pairs = Read(built.rows);
    EXPECT_EQ(pairs.toGb.at(B(U'國')), G(U'国'));
    // 祇 is GBK only; OpenCC's second candidate 只 is in GB2312.
    EXPECT_EQ(pairs.toGb.at(B(U'祇')), G(U'只'));
    // OpenCC has no entry for 著, which GB2312 holds: it stays, whatever Unihan says.
    EXPECT_EQ(pairs.toGb.at(B(U'著')), G(U'著'));
    // 粧 is GBK only and OpenCC has no entry: Unihan's simplified variant 妆 is in GB2312.
    EXPECT_EQ(pairs.toGb.at(B(U'粧')), G(U'妆'));
    // A symbol without a GB form takes glibc's best fit; one without any has no row.
    EXPECT_EQ(pairs.toGb.at(B(U'\u2027')), 0xA1A4);
    EXPECT_FALSE(pairs.toGb.contains(B(U'€')));
    ASSERT_FALSE(built.big5WithoutRow.empty());
    EXPECT_EQ(built.big5WithoutRow.back().range.first, 0xC6A1);
    EXPECT_EQ(built.big5WithoutRow.back().range.last, 0xC8FE);
}

TEST(TableGenerator, SimplifiedToTraditionalTakesTheTaiwanForm)
{
    const BuiltTable built = BuildTable(Sources("鶿\t鹚\n", "里\t裏 里\n为\t爲\n钟\t鍾 鐘\n鹚\t鷀\n",
                                                "裏\t裡\n爲\t為\n",
                                                "U+885E\tkSemanticVariant\tU+885B<kMatthews\n"),
                                        Big5(), Gb());
    const Pairs pairs = Read(built.rows);
    EXPECT_EQ(pairs.toBig5.at(G(U'里')), B(U'裡'));
    EXPECT_EQ(pairs.toBig5.at(G(U'为')), B(U'為'));
    EXPECT_EQ(pairs.toBig5.at(G(U'钟')), B(U'鍾'));
    // GBK's Traditional characters go to themselves, or through the Taiwan variants.
    EXPECT_EQ(pairs.toBig5.at(G(U'國')), B(U'國'));
    EXPECT_EQ(pairs.toBig5.at(G(U'裏')), B(U'裡'));
    // A GBK-only variant takes its semantic variant that CP950 has.
    EXPECT_EQ(pairs.toBig5.at(G(U'衞')), B(U'衛'));
    // 鷀 is not in CP950; the CP950 character that simplifies to 鹚 stands in.
    EXPECT_EQ(pairs.toBig5.at(G(U'鹚')), B(U'鶿'));
}

TEST(TableGenerator, RowOrderGivesEveryCodeItsOwnPair)
{
    // 暱 and 昵 share 昵; 裡 and 里 share 里; 乾, 幹 and 干 share 干 both ways.
    const BuiltTable built = BuildTable(Sources("乾\t干 乾\n幹\t干\n", "昵\t暱\n里\t裏 里\n干\t幹 乾 干\n", "裏\t裡\n"),
                                        Big5(), Gb());
    const Pairs pairs = Read(built.rows);
    for (const auto& [big5, gb] : pairs.toGb)
        ASSERT_EQ(pairs.firstToGb.at(big5), gb) << HexCode(big5);
    for (const auto& [gb, big5] : pairs.toBig5)
        ASSERT_EQ(pairs.firstToBig5.at(gb), big5) << HexCode(gb);
    EXPECT_EQ(pairs.firstToBig5.at(G(U'昵')), B(U'暱'));
    EXPECT_EQ(pairs.firstToGb.at(B(U'昵')), G(U'昵'));
    EXPECT_EQ(pairs.firstToBig5.at(G(U'干')), B(U'幹'));
    EXPECT_EQ(pairs.firstToGb.at(B(U'干')), G(U'干'));
    // The same sources give the same rows in the same order.
    const BuiltTable again = BuildTable(Sources("乾\t干 乾\n幹\t干\n", "昵\t暱\n里\t裏 里\n干\t幹 乾 干\n", "裏\t裡\n"),
                                        Big5(), Gb());
    ASSERT_EQ(again.rows.size(), built.rows.size());
    for (std::size_t i = 0; i < built.rows.size(); ++i)
        ASSERT_TRUE(again.rows[i].big5 == built.rows[i].big5 && again.rows[i].gb == built.rows[i].gb) << i;
}

TEST(TableGenerator, OrderRowsRefusesACycle)
{
    // b1 -> g1, g1 -> b2, b2 -> g2, g2 -> b1: each pair needs another before it.
    const std::map<std::uint16_t, std::uint16_t> toGb{{0xA440, 0xB0A1}, {0xA441, 0xB0A2}};
    const std::map<std::uint16_t, std::uint16_t> toBig5{{0xB0A1, 0xA441}, {0xB0A2, 0xA440}};
    EXPECT_THROW(OrderRows(toGb, toBig5), std::runtime_error);
}

TEST(TableGenerator, OverridesReplaceOrAddPairsAndRefuseNoOps)
{
    const BuiltTable built = BuildTable(Sources("", "钟\t鍾 鐘\n", "", "", "S2T 钟 鐘 the clock\nS2T 叁 參 financial three\n"),
                                        Big5(), Gb());
    const Pairs pairs = Read(built.rows);
    EXPECT_EQ(pairs.toBig5.at(G(U'钟')), B(U'鐘'));
    EXPECT_EQ(pairs.toBig5.at(G(U'叁')), B(U'參'));
    EXPECT_THROW(BuildTable(Sources("", "钟\t鍾 鐘\n", "", "", "S2T 钟 鍾 no change\n"), Big5(), Gb()), SourceError);
    EXPECT_THROW(ParseOverrides("S2T 钟 鐘\n", "overrides.txt"), SourceError); // no reason
    EXPECT_THROW(ParseOpenccCharacters("中文\t中文\n", "TS"), SourceError);    // a phrase
}

TEST(TableGenerator, AVariantInCp950NeedsAReviewedOverrideThatASourceBacks)
{
    // None of these has an OpenCC form in CP950. glibc's converter gives 釬 for 钎 and 你 for 伲,
    // Unihan gives 畽 for 疃, 哂 for 吲 and 飆 for OpenCC's 飈: the rules take none of them.
    const std::string st = "钎\t釺\n飚\t飈\n";
    const std::string unihan = "U+7583\tkSemanticVariant\tU+757D<kMatthews\n"
                               "U+5432\tkSemanticVariant\tU+54C2<kMatthews\n"
                               "U+98C8\tkSemanticVariant\tU+98C6\n";
    const BuiltTable bare = BuildTable(Sources("", st, "", unihan), Big5(), Gb());
    for (char32_t c : {U'钎', U'伲', U'疃', U'吲', U'飚'}) {
        EXPECT_FALSE(Read(bare.rows).toBig5.contains(G(c))) << ToUtf8(c);
        EXPECT_TRUE(ListedWithoutRow(bare, G(c))) << ToUtf8(c);
    }
    // Reviewed, each is backed: glibc (钎), Unihan on the character OpenCC keeps (疃), Unihan on
    // OpenCC's form (飚). 釬 still simplifies to itself.
    const BuiltTable built = BuildTable(Sources("", st, "", unihan, "S2T 钎 釬 r\nS2T 疃 畽 r\nS2T 飚 飆 r\n"),
                                        Big5(), Gb());
    const Pairs pairs = Read(built.rows);
    EXPECT_EQ(pairs.toBig5.at(G(U'钎')), B(U'釬'));
    EXPECT_EQ(pairs.toBig5.at(G(U'疃')), B(U'畽'));
    EXPECT_EQ(pairs.toBig5.at(G(U'飚')), B(U'飆'));
    EXPECT_EQ(pairs.firstToGb.at(B(U'釬')), G(U'釬'));
    // A variant that no source names is refused: Unihan without 疃's line, or a mistyped 钎.
    EXPECT_THROW(BuildTable(Sources("", st, "", "", "S2T 疃 畽 r\n"), Big5(), Gb()), SourceError);
    EXPECT_THROW(BuildTable(Sources("", st, "", unihan, "S2T 钎 銲 r\n"), Big5(), Gb()), SourceError);
}

// A character row of the table, by its characters.
TableRow Row(char32_t traditional, char32_t simplified, bool toGb, bool toBig5)
{
    return {B(traditional), G(simplified), toGb, toBig5};
}

Codes Big5Codes(std::u32string_view text)
{
    Codes codes;
    for (char32_t c : text)
        codes.push_back(B(c));
    return codes;
}

Codes GbCodes(std::u32string_view text)
{
    Codes codes;
    for (char32_t c : text)
        codes.push_back(G(c));
    return codes;
}

const PhraseRow* FindPhrase(const BuiltPhrases& built, std::u32string_view traditional, std::u32string_view simplified)
{
    for (const PhraseRow& row : built.rows)
        if (row.big5 == Big5Codes(traditional) && row.gb == GbCodes(simplified))
            return &row;
    return nullptr;
}

TEST(PhraseGenerator, TakesTaiwansPhrasesFirstAndKeepsOnlyThoseThatChangeSomething)
{
    const std::vector<TableRow> characters{
        Row(U'控', U'控', true, true), Row(U'程', U'程', true, true), Row(U'式', U'式', true, true),
        Row(U'面', U'面', true, true), Row(U'隆', U'隆', true, true), Row(U'頭', U'头', true, true),
        Row(U'標', U'标', true, true), Row(U'恢', U'恢', true, true), Row(U'里', U'里', true, true),
        // As in mervik.txt, the row that answers for a GB code comes first.
        Row(U'制', U'制', true, true), Row(U'製', U'制', true, false), Row(U'復', U'复', true, true),
        Row(U'複', U'复', true, false), Row(U'遊', U'游', true, true), Row(U'游', U'游', true, false),
        Row(U'干', U'干', true, true), Row(U'乾', U'干', true, false), Row(U'發', U'发', true, true),
        Row(U'髮', U'发', true, false)};
    PhraseSources sources;
    sources.simplifiedToTraditional =
        ParseOpenccPhrases("制程\t製程\n控制\t控制\n程式\t程式\n复制\t複製\n恢复\t恢復\n游标\t遊標\n"
                           "里面\t裏面\n头发\t頭髮\nab\tab\n一一\t一\n",
                           "ST");
    sources.traditionalToSimplified = ParseOpenccPhrases("乾隆\t乾隆\n", "TS");
    sources.taiwanVariants = ParseOpenccCharacters("裏\t裡\n", "TW");
    sources.taiwanPhrases = {{U"游標", 599}, {U"遊標", 0}, {U"頭髮", 10}, {U"頭發", 8}, {U"複製", 2291}};
    const BuiltPhrases built = BuildPhrases(sources, characters, Big5(), Gb());

    const auto simplifiedOnly = [&](std::u32string_view traditional, std::u32string_view simplified) {
        const PhraseRow* row = FindPhrase(built, traditional, simplified);
        return row && row->simplifiedToTraditional && !row->traditionalToSimplified;
    };
    EXPECT_TRUE(simplifiedOnly(U"製程", U"制程"));
    EXPECT_TRUE(simplifiedOnly(U"複製", U"复制"));
    EXPECT_TRUE(simplifiedOnly(U"頭髮", U"头发"));
    // Taiwan's 游標 wins over OpenCC's 遊標; its 頭髮 (10) does not outnumber 頭發 (8) twice, and
    // OpenCC gives it anyway.
    EXPECT_TRUE(simplifiedOnly(U"游標", U"游标"));
    EXPECT_EQ(FindPhrase(built, U"遊標", U"游标"), nullptr);
    // Taiwan's form of OpenCC's 裏面.
    EXPECT_TRUE(simplifiedOnly(U"裡面", U"里面"));
    // 控制 and 恢復 keep their characters' answers but stop 制程 and 复制 from matching inside them;
    // 程式 stops nothing.
    EXPECT_TRUE(simplifiedOnly(U"控制", U"控制"));
    EXPECT_TRUE(simplifiedOnly(U"恢復", U"恢复"));
    EXPECT_EQ(FindPhrase(built, U"程式", U"程式"), nullptr);
    const PhraseRow* qianlong = FindPhrase(built, U"乾隆", U"乾隆");
    ASSERT_NE(qianlong, nullptr);
    EXPECT_TRUE(qianlong->traditionalToSimplified && !qianlong->simplifiedToTraditional);
    EXPECT_EQ(built.rows.size(), 8u);

    EXPECT_EQ(built.counts.at("libchewing: Simplified -> Traditional rows"), 1u);
    EXPECT_EQ(built.counts.at("OpenCC STPhrases: Simplified -> Traditional rows"), 6u);
    EXPECT_EQ(built.counts.at("OpenCC STPhrases: left out, an earlier source has the phrase"), 1u);
    EXPECT_EQ(built.counts.at("OpenCC STPhrases: left out, changes nothing"), 1u);
    EXPECT_EQ(built.counts.at("OpenCC STPhrases: left out, not written alike by CP950 and GB"), 2u);
    EXPECT_EQ(built.counts.at("OpenCC TSPhrases: Traditional -> Simplified rows"), 1u);
}

TEST(PhraseGenerator, MatchesTheLongestPhraseFirstAndKeepsTheBlockersOfBlockers)
{
    const std::uint16_t a = 0xA441, b = 0xA442, c = 0xA443, d = 0xA444, e = 0xA445, f = 0xA446, g = 0xA447;
    std::vector<std::uint16_t> answers(65536, 0);
    answers[d] = e;
    // CD changes; BC stops it at offset 1, AB stops BC, EA stops AB; FG stops nothing.
    const std::map<Codes, Codes> phrases{{{a, b}, {a, b}}, {{b, c}, {b, c}}, {{c, d}, {f, g}},
                                         {{e, a}, {e, a}}, {{f, g}, {f, g}}, {{a, b, c, d}, {a, b, c, e}}};
    const auto kept = PhrasesThatMatter(phrases, answers);
    EXPECT_EQ(kept.size(), 5u);
    EXPECT_FALSE(kept.contains({f, g}));
    // ABCD changes D only as its characters would: it matters as the longer match at A's place.
    EXPECT_TRUE(kept.contains({a, b, c, d}));

    const PhraseMatcher matcher(phrases, answers);
    EXPECT_EQ(matcher.Convert({c, d, d}), (Codes{f, g, e}));
    EXPECT_EQ(matcher.Convert({b, c, d}), (Codes{b, c, e}));
    EXPECT_EQ(matcher.Convert({a, b, c, d, a}), (Codes{a, b, c, e, a}));
    EXPECT_EQ(PhraseMatcher(kept, answers).Convert({e, a, b, c, d}), matcher.Convert({e, a, b, c, d}));
}

TEST(PhraseGenerator, ReadsLibchewingsPhrasesAndOpenccsPhraseTables)
{
    using namespace std::string_literals;
    const std::string dictionary = "游標\0遊標\0一\0"s;
    const auto node = [](std::uint32_t offset, std::uint32_t frequency) {
        std::string bytes(2, '\0');
        for (std::uint32_t value : {offset, frequency})
            for (int i = 0; i < 3; ++i)
                bytes.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
        return bytes;
    };
    // An inner node (its key is not zero), then the phrases; 游標 twice, under two readings.
    const std::string tree = "\x01\x02\x03\x04\x05\x06\x07\x08"s + node(0, 599) + node(7, 0) + node(0, 3) + node(14, 5);
    const auto phrases = ParseChewingPhrases(dictionary, tree, "index_tree.dat");
    EXPECT_EQ(phrases, (std::map<std::u32string, std::uint64_t>{{U"游標", 599}, {U"遊標", 0}}));
    EXPECT_THROW(ParseChewingPhrases(dictionary, tree + node(3, 1), "t"), SourceError); // inside a phrase
    EXPECT_THROW(ParseChewingPhrases(dictionary, tree + node(99, 1), "t"), SourceError);
    EXPECT_THROW(ParseChewingPhrases(dictionary, tree + "\0"s, "t"), SourceError);

    const auto opencc = ParseOpenccPhrases("复制\t複製 覆製\n", "ST");
    EXPECT_EQ(opencc.at(U"复制"), (std::vector<std::u32string>{U"複製", U"覆製"}));
    EXPECT_THROW(ParseOpenccPhrases("复制 複製\n", "ST"), SourceError);
    EXPECT_THROW(ParseOpenccPhrases("复制\t複製\n复制\t覆製\n", "ST"), SourceError);
}

} // namespace
