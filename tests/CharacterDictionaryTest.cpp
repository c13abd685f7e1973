#include "dictionary/CharacterDictionary.h"

#include "TestSupport.h"

#include "dictionary/TableLayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <vector>

using fanjian::CharacterDictionary;
using fanjian::ConversionDirection;
using fanjian::DictionaryError;
using namespace fanjian::testing;

namespace {

constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

TEST(CharacterDictionary, AnswersTheWorkedExampleInBothDirections)
{
    TempDir dir;
    WriteDictionary(dir.path(), {{45290, 47610}});
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47610);
    EXPECT_EQ(dictionary.Lookup(kToBig5, 47610), 45290);
    // Asked twice, the same answer.
    EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47610);
    // A code held by no row, in either column.
    EXPECT_EQ(dictionary.Lookup(kToGb, 47610), std::nullopt);
    EXPECT_EQ(dictionary.Lookup(kToBig5, 45290), std::nullopt);
    EXPECT_EQ(dictionary.Lookup(kToGb, 0xFFFF), std::nullopt);
}

TEST(CharacterDictionary, TheFirstRowInTableOrderDecidesDuplicates)
{
    TempDir dir;
    // Two Traditional characters share one Simplified form; the first row written wins.
    WriteDictionary(dir.path(), {{0xC5E7, 0xB7A2}, {0xB56F, 0xB7A2}, {0xB56F, 0xB0A1}, {0xA4A4, 0xD6D0}});
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(kToBig5, 0xB7A2), 0xC5E7);
    EXPECT_EQ(dictionary.Lookup(kToGb, 0xB56F), 0xB7A2);
    EXPECT_EQ(dictionary.Lookup(kToBig5, 0xB0A1), 0xB56F);
    EXPECT_EQ(dictionary.Lookup(kToGb, 0xA4A4), 0xD6D0);
}

TEST(CharacterDictionary, RowOrderIsRowidOrderNotInsertionOrKeyOrder)
{
    TempDir dir;
    // Rows inserted with explicit rowids out of order, and an index that would order by gb.
    WriteDatabase(dir.path() / "mervik.pcx",
                  "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);"
                  "CREATE INDEX by_gb ON MERVIK (gb, big5);"
                  "INSERT INTO MERVIK (rowid, big5, gb) VALUES (5, 40000, 50000);"
                  "INSERT INTO MERVIK (rowid, big5, gb) VALUES (2, 40000, 60000);"
                  "INSERT INTO MERVIK (rowid, big5, gb) VALUES (9, 30000, 50000);");
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(kToGb, 40000), 60000);
    EXPECT_EQ(dictionary.Lookup(kToBig5, 50000), 40000);
}

TEST(CharacterDictionary, AFirstRowWithoutAUsableValueFailsThatLookupOnly)
{
    TempDir dir;
    WriteDatabase(dir.path() / "mervik.pcx",
                  "CREATE TABLE MERVIK (big5 NUMERIC, gb NUMERIC);"
                  "INSERT INTO MERVIK VALUES (41000, NULL);"      // empty value
                  "INSERT INTO MERVIK VALUES (41000, 47610);"     // later row never read
                  "INSERT INTO MERVIK VALUES (41001, 'abc');"     // not a number
                  "INSERT INTO MERVIK VALUES (41002, 47610.5);"   // not a whole number
                  "INSERT INTO MERVIK VALUES (41003, 97);"        // no double-byte character
                  "INSERT INTO MERVIK VALUES (41004, 70000);"     // beyond 16 bits
                  "INSERT INTO MERVIK VALUES (41005, 47611.0);"   // a whole number after all
                  "INSERT INTO MERVIK VALUES (41006, 47612);");
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    for (int code : {41000, 41001, 41002, 41003, 41004})
        EXPECT_THROW(dictionary.Lookup(kToGb, static_cast<std::uint16_t>(code)), DictionaryError) << code;
    EXPECT_EQ(dictionary.Lookup(kToGb, 41005), 47611);
    EXPECT_EQ(dictionary.Lookup(kToGb, 41006), 47612);
    // The other direction over the same rows: 47610 is first held by the row with 41000.
    EXPECT_EQ(dictionary.Lookup(kToBig5, 47610), 41000);
}

TEST(CharacterDictionary, OpenFailsOnMissingEmptyOrBrokenFilesAndCreatesNothing)
{
    TempDir dir;
    CharacterDictionary dictionary;
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "mervik.pcx"));
    EXPECT_FALSE(dictionary.IsOpen());

    WriteFile(dir.path() / "mervik.pcx", "");
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "mervik.pcx"), 0u);

    WriteFile(dir.path() / "mervik.pcx", std::string(4096, 'x'));
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);

    std::filesystem::remove(dir.path() / "mervik.pcx");
    WriteDatabase(dir.path() / "mervik.pcx", "CREATE TABLE OTHER (big5 INTEGER, gb INTEGER);");
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);

    std::filesystem::remove(dir.path() / "mervik.pcx");
    WriteDatabase(dir.path() / "mervik.pcx", "CREATE TABLE MERVIK (big5 INTEGER, simplified INTEGER);");
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
}

TEST(CharacterDictionary, FindsItsFileByJoiningWithASeparatorUnnormalised)
{
    EXPECT_EQ(CharacterDictionary::FilePath("/opt/fanjian"), "/opt/fanjian/mervik.pcx");
    EXPECT_EQ(CharacterDictionary::FilePath("/opt/fanjian/"), "/opt/fanjian//mervik.pcx");
    EXPECT_EQ(CharacterDictionary::FilePath("/"), "//mervik.pcx");

    TempDir dir;
    WriteDictionary(dir.path(), {{45290, 47610}});
    CharacterDictionary dictionary;
    dictionary.Open(dir.str() + "/");
    EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47610);
}

TEST(CharacterDictionary, NoLookupAfterClose)
{
    TempDir dir;
    WriteDictionary(dir.path(), {{45290, 47610}});
    CharacterDictionary dictionary;
    EXPECT_THROW(dictionary.Lookup(kToGb, 45290), DictionaryError);
    EXPECT_THROW(dictionary.Phrases(kToGb), DictionaryError);
    dictionary.Open(dir.str());
    dictionary.Close();
    EXPECT_THROW(dictionary.Lookup(kToGb, 45290), DictionaryError);
    EXPECT_THROW(dictionary.Phrases(kToBig5), DictionaryError);
}

std::vector<std::uint16_t> Codes(std::span<const std::uint16_t> codes)
{
    return {codes.begin(), codes.end()};
}

TEST(CharacterDictionary, PhrasesOfEachDirectionInRowOrderTheFirstRowOfEachSourceOnly)
{
    TempDir dir;
    WriteDatabase(dir.path() / "mervik.pcx",
                  std::string(fanjian::table::kCreateTable) + ";" + std::string(fanjian::table::kCreatePhraseTable) +
                      ";INSERT INTO MERVIK VALUES (45290, 47610);"
                      "INSERT INTO PHRASES VALUES (2, 2, x'BDC6BB73', x'B8B4D6C6');" // 複製 <- 复制
                      "INSERT INTO PHRASES VALUES (2, 3, x'B0AEB6A9', x'C7ACC2A1');" // 乾隆 <-> 乾隆
                      "INSERT INTO PHRASES VALUES (2, 1, x'B0AEB6A9', x'B8C9C2A1');" // a second 乾隆 ->: out
                      // Two pairs in one row: a second 复制 (out), then 恢復 <- 恢复.
                      "INSERT INTO PHRASES VALUES (2, 2, x'ABECB45FABECB45F', x'B8B4D6C6BBD6B8B4');"
                      "INSERT INTO PHRASES VALUES (3, 1, x'B5F9A555B5F9', x'D7A2B2E1D7A2');"); // 註冊註 -> 注册注
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    const auto& toBig5 = dictionary.Phrases(kToBig5);
    ASSERT_EQ(toBig5.size(), 3u);
    EXPECT_EQ(Codes(toBig5.Source(0)), (std::vector<std::uint16_t>{0xB8B4, 0xD6C6}));
    EXPECT_EQ(Codes(toBig5.Target(0)), (std::vector<std::uint16_t>{0xBDC6, 0xBB73}));
    EXPECT_EQ(Codes(toBig5.Source(1)), (std::vector<std::uint16_t>{0xC7AC, 0xC2A1}));
    EXPECT_EQ(Codes(toBig5.Source(2)), (std::vector<std::uint16_t>{0xBBD6, 0xB8B4}));
    EXPECT_EQ(Codes(toBig5.Target(2)), (std::vector<std::uint16_t>{0xABEC, 0xB45F}));
    EXPECT_EQ(toBig5.LongestSource(), 2u);
    const auto& toGb = dictionary.Phrases(kToGb);
    ASSERT_EQ(toGb.size(), 2u);
    EXPECT_EQ(Codes(toGb.Target(0)), (std::vector<std::uint16_t>{0xC7AC, 0xC2A1}));
    EXPECT_EQ(Codes(toGb.Source(1)), (std::vector<std::uint16_t>{0xB5F9, 0xA555, 0xB5F9}));
    EXPECT_EQ(Codes(toGb.Target(1)), (std::vector<std::uint16_t>{0xD7A2, 0xB2E1, 0xD7A2}));
    EXPECT_EQ(toGb.LongestSource(), 3u);
    EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47610);

    // A file without the table has no phrases, and converts by character as before.
    std::filesystem::create_directory(dir.path() / "plain");
    WriteDictionary(dir.path() / "plain", {{45290, 47610}});
    dictionary.Open((dir.path() / "plain").string());
    EXPECT_TRUE(dictionary.Phrases(kToGb).empty());
    EXPECT_EQ(dictionary.Phrases(kToBig5).LongestSource(), 0u);
    EXPECT_EQ(dictionary.Lookup(kToBig5, 47610), 45290);
}

TEST(PhraseTable, KeepsTheFirstPhraseOfEachSourceByHashingAsBySorting)
{
    // Sources that repeat, one that begins another, and targets that tell the phrases apart.
    const std::vector<std::vector<std::uint16_t>> sources{{0xA440, 0xA441}, {0xA441, 0xA440},
                                                          {0xA440, 0xA441}, {0xA440, 0xA441, 0xA442},
                                                          {0xA441, 0xA440}, {0xA442, 0xA443}};
    fanjian::PhraseTable hashed, sorted;
    for (std::uint16_t n = 0; n < sources.size(); ++n) {
        const std::vector<std::uint16_t> target(sources[n].size(), static_cast<std::uint16_t>(0xB000 + n));
        hashed.Add(sources[n], target);
        sorted.Add(sources[n], target);
    }
    hashed.KeepFirstOfEachSource();
    sorted.KeepFirstOfEachSource(0); // no comparison allowed: it sorts
    for (const fanjian::PhraseTable* table : {&hashed, &sorted}) {
        ASSERT_EQ(table->size(), 4u);
        const std::uint16_t kept[] = {0xB000, 0xB001, 0xB003, 0xB005};
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(table->Target(i)[0], kept[i]) << i;
            EXPECT_EQ(Codes(table->Source(i)), sources[kept[i] - 0xB000]) << i;
        }
        EXPECT_EQ(table->LongestSource(), 3u);
    }
}

} // namespace
