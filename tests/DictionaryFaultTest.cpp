// Damaged, odd and busy dictionary files: each fails Open or the one lookup it concerns, with a
// DictionaryError, never a hang, a crash or a wrong answer.
#include "dictionary/CharacterDictionary.h"

#include "TestSupport.h"

#include "dictionary/TableLayout.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <span>
#include <string>
#include <vector>

using fanjian::CharacterDictionary;
using fanjian::ConversionDirection;
using fanjian::DictionaryError;
using namespace fanjian::testing;
namespace fs = std::filesystem;

namespace {

constexpr auto kToGb = ConversionDirection::TraditionalToSimplified;
constexpr auto kToBig5 = ConversionDirection::SimplifiedToTraditional;

// A table of `count` rows pairing 40000 + i with 50000 + i, big enough to span many pages.
std::string ManyRows(int count)
{
    std::string sql = "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER); BEGIN;";
    for (int i = 0; i < count; ++i)
        sql += "INSERT INTO MERVIK VALUES (" + std::to_string(40000 + i) + "," + std::to_string(50000 + i) + ");";
    return sql + "COMMIT;";
}

TEST(DictionaryFaults, ADamagedFileFailsOpen)
{
    TempDir dir;
    const fs::path file = dir.path() / "mervik.pcx";
    WriteDatabase(file, ManyRows(3000));
    const std::string whole = ReadFile(file);
    ASSERT_GT(whole.size(), 8 * 4096u);

    // Cut at the header, inside the first page, at a page boundary and inside the last pages:
    // the rows are not all there, so the table must not open as if they were.
    for (std::size_t size : {std::size_t{50}, std::size_t{1000}, std::size_t{4096}, whole.size() / 2,
                             whole.size() - 4096, whole.size() - 1}) {
        WriteFile(file, std::string_view(whole).substr(0, size));
        CharacterDictionary dictionary;
        EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError) << "cut to " << size << " bytes";
        EXPECT_FALSE(dictionary.IsOpen());
    }

    // Pages overwritten with zeros in the middle of the table.
    std::string zeroed = whole;
    std::fill(zeroed.begin() + 2 * 4096, zeroed.begin() + 4 * 4096, '\0');
    WriteFile(file, zeroed);
    CharacterDictionary dictionary;
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);

    // The intact file opens: the failures above come from the damage.
    WriteFile(file, whole);
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(kToGb, 40000 + 2999), 50000 + 2999);
}

TEST(DictionaryFaults, AWalModeFileIsReadAsItsMainFileAndMustBeWhole)
{
    TempDir dir;
    const fs::path file = dir.path() / "mervik.pcx";
    // The log is copied back and removed when the writer closes; the header stays in WAL mode.
    WriteDatabase(file, "PRAGMA journal_mode = WAL;" + ManyRows(3000));
    const std::string whole = ReadFile(file);
    ASSERT_EQ(whole[18], 2) << "not in WAL mode";
    ASSERT_FALSE(fs::exists(dir.path() / "mervik.pcx-wal"));

    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(kToGb, 40000 + 2999), 50000 + 2999);
    // Reading it left nothing beside it and changed nothing in it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadFile(file), whole);

    for (std::size_t cut : {std::size_t{1}, std::size_t{100}, std::size_t{2000}}) {
        WriteFile(file, std::string_view(whole).substr(0, whole.size() - cut));
        EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError) << "cut by " << cut << " bytes";
    }
}

TEST(DictionaryFaults, MervikMustBeATable)
{
    TempDir dir;
    // A view over a query without end: reading it would never return.
    WriteDatabase(dir.path() / "mervik.pcx",
                  "CREATE VIEW MERVIK AS WITH RECURSIVE r(big5, gb) AS (SELECT 256, 256 UNION ALL "
                  "SELECT big5 + 1, gb FROM r) SELECT big5, gb FROM r ORDER BY gb, big5;");
    CharacterDictionary dictionary;
    const auto start = std::chrono::steady_clock::now();
    try {
        dictionary.Open(dir.str());
        ADD_FAILURE() << "a view opened as the dictionary";
    } catch (const DictionaryError& error) {
        EXPECT_EQ(std::string(error.what()), (dir.path() / "mervik.pcx").string() + ": it holds no table MERVIK");
        EXPECT_EQ(error.path(), (dir.path() / "mervik.pcx").string());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));

    // A table without rowids is a table all the same.
    fs::remove(dir.path() / "mervik.pcx");
    WriteDatabase(dir.path() / "mervik.pcx",
                  "CREATE TABLE MERVIK (big5 INTEGER PRIMARY KEY, gb INTEGER) WITHOUT ROWID;"
                  "INSERT INTO MERVIK VALUES (45290, 47610);");
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47610);
}

TEST(DictionaryFaults, SomethingOtherThanAFileFailsOpenWithoutWaiting)
{
    TempDir dir;
    const fs::path file = dir.path() / "mervik.pcx";
    CharacterDictionary dictionary;

    fs::create_directory(file);
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
    fs::remove(file);

    fs::create_symlink("/dev/zero", file);
    EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
    fs::remove(file);

    // Opening a FIFO for reading waits for a writer; the dictionary must refuse it instead.
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] {
        CharacterDictionary fifoDictionary;
        try {
            fifoDictionary.Open(dir.str());
        } catch (const DictionaryError&) {
            return true;
        }
        return false;
    });
    if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "Open waited on a FIFO";
        // Let the waiting open go on so that the thread can end.
        const int writer = ::open(file.c_str(), O_WRONLY);
        if (writer >= 0)
            ::close(writer);
    }
    EXPECT_TRUE(opening.get());
}

TEST(DictionaryFaults, ValuesThatNameNoCharacterFailOnlyTheirLookup)
{
    TempDir dir;
    WriteDatabase(dir.path() / "mervik.pcx",
                  "CREATE TABLE MERVIK (big5, gb);"
                  "INSERT INTO MERVIK VALUES (41000, -20246);"    // a signed form of 45290
                  "INSERT INTO MERVIK VALUES (41001, 65536);"
                  "INSERT INTO MERVIK VALUES (41002, 255);"
                  "INSERT INTO MERVIK VALUES (41003, '');"
                  "INSERT INTO MERVIK VALUES (41004, x'B9FA');"   // bytes, not a number
                  "INSERT INTO MERVIK VALUES (41005, ' 47610');"
                  "INSERT INTO MERVIK VALUES (41006, 256);"
                  "INSERT INTO MERVIK VALUES (41007, 65535);"
                  "INSERT INTO MERVIK VALUES (41008, '47613');"
                  // Keys that no code can equal: they hold no row for any code.
                  "INSERT INTO MERVIK VALUES (-20246, 47620);"
                  "INSERT INTO MERVIK VALUES (45290.5, 47621);"
                  "INSERT INTO MERVIK VALUES ('B0EA', 47622);"
                  "INSERT INTO MERVIK VALUES (110826, 47623);"
                  "INSERT INTO MERVIK VALUES (NULL, 47624);");
    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    for (int code = 41000; code <= 41005; ++code)
        EXPECT_THROW(dictionary.Lookup(kToGb, static_cast<std::uint16_t>(code)), DictionaryError) << code;
    EXPECT_EQ(dictionary.Lookup(kToGb, 41006), 256);
    EXPECT_EQ(dictionary.Lookup(kToGb, 41007), 65535);
    EXPECT_EQ(dictionary.Lookup(kToGb, 41008), 47613);

    // 45290 = 0xB0EA; 110826 - 65536 = 45290: neither wraps onto a real code.
    EXPECT_EQ(dictionary.Lookup(kToGb, 45290), std::nullopt);
    // The other direction reads the same rows: their gb values hold keys with unusable big5.
    for (int code = 47620; code <= 47624; ++code)
        EXPECT_THROW(dictionary.Lookup(kToBig5, static_cast<std::uint16_t>(code)), DictionaryError) << code;
}

TEST(DictionaryFaults, AMillionRowsOpenAndTheFirstRowStillWins)
{
    TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / "mervik.pcx").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER); BEGIN;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO MERVIK VALUES (?, ?)", -1, &insert, nullptr), SQLITE_OK);
    // Sixteen passes over every code from 256 up: pass p pairs code c with the code p places on.
    constexpr int kPasses = 16;
    constexpr int kCodes = 65536 - 256;
    for (int pass = 0; pass < kPasses; ++pass) {
        for (int i = 0; i < kCodes; ++i) {
            sqlite3_bind_int(insert, 1, 256 + i);
            sqlite3_bind_int(insert, 2, 256 + (i + pass) % kCodes);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ASSERT_GE(kPasses * kCodes, 1'000'000);

    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    // Only the first pass, the identity, answers.
    for (int code : {256, 257, 45290, 47610, 65535}) {
        EXPECT_EQ(dictionary.Lookup(kToGb, static_cast<std::uint16_t>(code)), code);
        EXPECT_EQ(dictionary.Lookup(kToBig5, static_cast<std::uint16_t>(code)), code);
    }
}

std::vector<std::uint16_t> Codes(std::span<const std::uint16_t> codes)
{
    return {codes.begin(), codes.end()};
}

TEST(DictionaryFaults, PhraseRowsAndPairsThatBreakTheRulesAreLeftOutOneByOne)
{
    TempDir dir;
    std::string sql = "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER); INSERT INTO MERVIK VALUES (45290, 47610);"
                      "CREATE TABLE PHRASES (length, direction, big5, gb);";
    std::string seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen += "A440";
    // Whole rows that go: their length, direction or sides break the rules.
    const std::string badRows[] = {
        "NULL, 3, x'A440A440', x'D2BBD2BB'",   "1, 3, x'A440', x'D2BB'",
        "17, 3, x'" + seventeen + "', x'" + seventeen + "'", "2.5, 3, x'A440A440', x'D2BBD2BB'",
        "2, 0, x'A440A440', x'D2BBD2BB'",      "2, 4, x'A440A440', x'D2BBD2BB'",
        "2, -1, x'A440A440', x'D2BBD2BB'",     "2, NULL, x'A440A440', x'D2BBD2BB'",
        "2, 'x', x'A440A440', x'D2BBD2BB'",    "2, 3, NULL, x'D2BBD2BB'",
        "2, 3, x'A440A440', NULL",             "2, 3, 'A440A440', x'D2BBD2BB'",
        "2, 3, 41024, x'D2BBD2BB'",            "2, 3, x'', x''",
        "2, 3, x'A440A4', x'D2BBD2'",          "2, 3, x'A440A440A440', x'D2BBD2BBD2BB'",
        "2, 3, x'A440A440', x'D2BB'",
    };
    // Pairs that go, the row's next pair staying: a byte pair that is no double-byte character.
    const std::pair<std::string, std::string> badPairs[] = {
        {"8040A440", "D2BBD2BB"}, {"A43FA440", "D2BBD2BB"}, {"FF40A440", "D2BBD2BB"},
        {"A4FFA440", "D2BBD2BB"}, {"A440A440", "D2BB0A0A"},
    };
    // Each case is followed by a good pair whose first code counts the cases (A441, A442, ...).
    const auto goodPair = [](int n, bool big5) {
        char hex[16];
        std::snprintf(hex, sizeof hex, big5 ? "%04XA440" : "%04XD2BB", (big5 ? 0xA440 : 0xD2A0) + n);
        return std::string(hex);
    };
    int good = 0;
    for (const std::string& row : badRows) {
        ++good;
        sql += "INSERT INTO PHRASES VALUES (" + row + "); INSERT INTO PHRASES VALUES (2, 3, x'" + goodPair(good, true) +
               "', x'" + goodPair(good, false) + "');";
    }
    for (const auto& [big5, gb] : badPairs) {
        ++good;
        sql += "INSERT INTO PHRASES VALUES (2, 3, x'" + big5 + goodPair(good, true) + "', x'" + gb +
               goodPair(good, false) + "');";
    }
    // Sixteen characters is the longest phrase taken; a later pair of the same source is left out.
    sql += "INSERT INTO PHRASES VALUES (16, 3, x'" + seventeen.substr(4) + "', x'" + seventeen.substr(4) + "');";
    sql += "INSERT INTO PHRASES VALUES (2, 3, x'A441A440', x'C0EFC0EF');";
    WriteDatabase(dir.path() / "mervik.pcx", sql);

    CharacterDictionary dictionary;
    dictionary.Open(dir.str());
    ASSERT_EQ(good, static_cast<int>(std::size(badRows) + std::size(badPairs)));
    for (const auto direction : {kToGb, kToBig5}) {
        const auto& phrases = dictionary.Phrases(direction);
        ASSERT_EQ(phrases.size(), static_cast<std::size_t>(good) + 1 + (direction == kToBig5 ? 1 : 0));
        for (int i = 0; i < good; ++i) {
            const std::vector<std::uint16_t> big5{static_cast<std::uint16_t>(0xA441 + i), 0xA440};
            const std::vector<std::uint16_t> gb{static_cast<std::uint16_t>(0xD2A1 + i), 0xD2BB};
            EXPECT_EQ(Codes(phrases.Source(i)), direction == kToGb ? big5 : gb) << i;
            EXPECT_EQ(Codes(phrases.Target(i)), direction == kToGb ? gb : big5) << i;
        }
        EXPECT_EQ(phrases.Source(good).size(), 16u);
        EXPECT_EQ(phrases.LongestSource(), 16u);
    }
    // The last row's gb side is new: Simplified -> Traditional takes it.
    EXPECT_EQ(Codes(dictionary.Phrases(kToBig5).Source(good + 1)), (std::vector<std::uint16_t>{0xC0EF, 0xC0EF}));

    // A PHRASES that is no table, or lacks a column, fails the open with its reason.
    for (const char* phrases : {"CREATE VIEW PHRASES AS SELECT 2 AS length, 3 AS direction, x'A440A440' AS big5,"
                                " x'D2BBD2BB' AS gb",
                                "CREATE TABLE PHRASES (length INTEGER, big5 BLOB, gb BLOB)"}) {
        fs::remove(dir.path() / "mervik.pcx");
        WriteDatabase(dir.path() / "mervik.pcx",
                      "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);" + std::string(phrases));
        EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError) << phrases;
        EXPECT_FALSE(dictionary.IsOpen());
    }
    try {
        dictionary.Open(dir.str());
    } catch (const DictionaryError& error) {
        EXPECT_NE(std::string(error.what()).find("direction"), std::string::npos) << error.what();
    }
    // A table without rowids is read in its own order.
    fs::remove(dir.path() / "mervik.pcx");
    WriteDatabase(dir.path() / "mervik.pcx",
                  "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);"
                  "CREATE TABLE PHRASES (length INTEGER, direction INTEGER, big5 BLOB PRIMARY KEY, gb BLOB)"
                  " WITHOUT ROWID;"
                  "INSERT INTO PHRASES VALUES (2, 1, x'A440A440', x'D2BBD2BB');");
    dictionary.Open(dir.str());
    EXPECT_EQ(dictionary.Phrases(kToGb).size(), 1u);
    EXPECT_TRUE(dictionary.Phrases(kToBig5).empty());
}

TEST(DictionaryFaults, AMillionPhrasesOpenOrFailInTimeAndTheFirstRowStillWins)
{
    TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / "mervik.pcx").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER); CREATE TABLE PHRASES (length INTEGER,"
                           " direction INTEGER, big5 BLOB, gb BLOB); BEGIN;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO PHRASES VALUES (2, 3, ?, ?)", -1, &insert, nullptr), SQLITE_OK);
    // 16 passes over 72,198 sources of two characters; pass p pairs source k with the character p
    // places on (among those with the same second character), so the first pass, the identity,
    // answers in both directions.
    const auto code = [](int n) { return std::pair<unsigned char, unsigned char>(0x81 + n / 191, 0x40 + n % 191); };
    constexpr int kCharacters = 126 * 191;
    constexpr int kSources = 3 * kCharacters;
    for (int pass = 0; pass < 16; ++pass) {
        for (int k = 0; k < kSources; ++k) {
            const auto [lead, trail] = code(k % kCharacters);
            const auto [lead2, trail2] = code(k / kCharacters);
            const auto [targetLead, targetTrail] = code((k % kCharacters + pass) % kCharacters);
            const unsigned char source[] = {lead, trail, lead2, trail2};
            const unsigned char target[] = {targetLead, targetTrail, lead2, trail2};
            sqlite3_bind_blob(insert, 1, source, 4, SQLITE_STATIC);
            sqlite3_bind_blob(insert, 2, target, 4, SQLITE_STATIC);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ASSERT_GE(16 * kSources, 1'000'000);

    CharacterDictionary dictionary;
    const auto start = std::chrono::steady_clock::now();
    try {
        dictionary.Open(dir.str());
    } catch (const DictionaryError& error) {
        // A slow machine (or a sanitizer) may take longer than the dictionary's deadline.
        EXPECT_NE(std::string(error.what()).find("too long"), std::string::npos) << error.what();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
        return;
    }
    const auto& toGb = dictionary.Phrases(kToGb);
    ASSERT_EQ(toGb.size(), std::size_t{kSources});
    for (std::size_t i : {std::size_t{0}, std::size_t{12345}, std::size_t{kSources - 1}})
        EXPECT_EQ(Codes(toGb.Source(i)), Codes(toGb.Target(i))) << i;
    const auto& toBig5 = dictionary.Phrases(kToBig5);
    EXPECT_EQ(toBig5.size(), std::size_t{kSources});
    EXPECT_EQ(Codes(toBig5.Source(kSources - 1)), Codes(toBig5.Target(kSources - 1)));
}

TEST(DictionaryFaults, PhrasesBeyondTheirBoundFailTheOpenWithItsReason)
{
    TempDir dir;
    // Rows of 8,192 pairs of two characters, both directions: 32,768 codes a row and direction.
    const std::string side = [] {
        std::string bytes;
        for (int i = 0; i < 8192; ++i)
            bytes += "\xA4\x40\xA4\x40";
        return bytes;
    }();
    constexpr std::size_t kRowsAtTheBound = fanjian::table::kMaxPhraseCodes / 32768;
    for (const std::size_t rows : {kRowsAtTheBound, kRowsAtTheBound + 1}) {
        fs::remove(dir.path() / "mervik.pcx");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir.path() / "mervik.pcx").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER); BEGIN;", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, std::string(fanjian::table::kCreatePhraseTable).c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* insert = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO PHRASES VALUES (2, 3, ?1, ?1)", -1, &insert, nullptr), SQLITE_OK);
        for (std::size_t row = 0; row < rows; ++row) {
            sqlite3_bind_blob(insert, 1, side.data(), static_cast<int>(side.size()), SQLITE_STATIC);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        ASSERT_EQ(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        CharacterDictionary dictionary;
        try {
            dictionary.Open(dir.str());
            EXPECT_EQ(rows, kRowsAtTheBound);
            EXPECT_EQ(dictionary.Phrases(kToGb).size(), 1u);
        } catch (const DictionaryError& error) {
            const std::string what = error.what();
            // Past the bound; at it, only a machine too slow for the deadline may fail.
            EXPECT_TRUE(rows > kRowsAtTheBound ? what.find("codes of phrases") != std::string::npos
                                               : what.find("too long") != std::string::npos)
                << rows << ": " << what;
        }
    }
}

// Another process that takes hold of the dictionary file (`take`, in that process), keeps it for
// `hold`, then lets go (`release`). Returns once it has taken hold, or failed to.
class OtherProcess {
public:
    OtherProcess(const std::function<bool()>& take, std::chrono::milliseconds hold,
                 const std::function<bool()>& release)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            bool ok = take();
            const char answer = ok ? 'y' : 'n';
            ok = ::write(ready[1], &answer, 1) == 1 && ok;
            ::usleep(static_cast<useconds_t>(hold.count() * 1000));
            ::_exit(ok && release() ? 0 : 1);
        }
        ::close(ready[1]);
        char answer = 0;
        held_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;
    ~OtherProcess() { Finished(); }

    bool Held() const { return held_; }
    // Waits for the other process; true when it let go as it should.
    bool Finished()
    {
        if (pid_ <= 0)
            return finished_;
        int status = 0;
        finished_ = ::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        pid_ = -1;
        return finished_;
    }

private:
    pid_t pid_ = -1;
    bool held_ = false;
    bool finished_ = false;
};

// A write lease, kept against the kernel's request to let go: opening a leased file waits for the
// lease for the kernel's lease-break time (45 s).
OtherProcess LeaseHolder(const fs::path& file, std::chrono::milliseconds hold)
{
    static int fd = -1;
    return OtherProcess(
        [&file] {
            ::signal(SIGIO, SIG_IGN);
            fd = ::open(file.c_str(), O_RDONLY);
            return fd >= 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
        },
        hold, [] { return ::fcntl(fd, F_SETLEASE, F_UNLCK) == 0; });
}

// A writer in the middle of a transaction that changes every row.
OtherProcess Writer(const fs::path& file, std::chrono::milliseconds hold)
{
    static sqlite3* db = nullptr;
    return OtherProcess(
        [&file] {
            return sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                   sqlite3_exec(db, "BEGIN EXCLUSIVE; UPDATE MERVIK SET gb = 47611;", nullptr, nullptr, nullptr) ==
                       SQLITE_OK;
        },
        hold, [] {
            return sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK && sqlite3_close(db) == SQLITE_OK;
        });
}

TEST(DictionaryFaults, ALeaseIsWaitedForBriefly)
{
    TempDir dir;
    WriteDictionary(dir.path(), {{45290, 47610}});
    const fs::path file = dir.path() / "mervik.pcx";
    CharacterDictionary dictionary;
    {
        OtherProcess holder = LeaseHolder(file, std::chrono::milliseconds(300));
        if (!holder.Held())
            GTEST_SKIP() << "no leases on this file system";
        dictionary.Open(dir.str());
        EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47610);
    }
    {
        OtherProcess holder = LeaseHolder(file, std::chrono::milliseconds(5000));
        ASSERT_TRUE(holder.Held());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    }
}

TEST(DictionaryFaults, AWriterInTheMiddleOfATransactionIsWaitedForBriefly)
{
    TempDir dir;
    WriteDictionary(dir.path(), {{45290, 47610}});
    const fs::path file = dir.path() / "mervik.pcx";
    CharacterDictionary dictionary;

    {
        // A short write: Open waits for it and reads the table as committed, never half-written.
        OtherProcess writer = Writer(file, std::chrono::milliseconds(300));
        ASSERT_TRUE(writer.Held());
        dictionary.Open(dir.str());
        EXPECT_EQ(dictionary.Lookup(kToGb, 45290), 47611);
        EXPECT_TRUE(writer.Finished());
    }
    {
        // A writer that keeps the table far longer: Open gives up within a bounded time.
        OtherProcess writer = Writer(file, std::chrono::milliseconds(5000));
        ASSERT_TRUE(writer.Held());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(dictionary.Open(dir.str()), DictionaryError);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
        EXPECT_FALSE(dictionary.IsOpen());
    }
}

} // namespace
