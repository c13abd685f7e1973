#include "dictionary/CharacterDictionary.h"

#include "dictionary/SqliteDatabase.h"
#include "dictionary/TableLayout.h"

#include <algorithm>
#include <array>
#include <limits>

namespace fanjian {

namespace {

constexpr std::size_t kCodeCount = std::numeric_limits<std::uint16_t>::max() + std::size_t{1};

// Rows in the order the per-code query meets them: a plain table is scanned in rowid order.
SqliteDatabase::Statement SelectRows(const SqliteDatabase& db)
{
    try {
        return db.Prepare(table::kSelectRows);
    } catch (const DictionaryError&) {
        return db.Prepare(table::kSelectRowsUnordered);
    }
}

// One side of a pair: `length` double-byte characters, lead byte 0x81..0xFE and trail byte
// 0x40..0xFE. False when a byte pair is none.
bool PhraseCodes(const unsigned char* bytes, std::size_t length, std::uint16_t* codes)
{
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned lead = bytes[2 * i];
        const unsigned trail = bytes[2 * i + 1];
        if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE)
            return false;
        codes[i] = static_cast<std::uint16_t>(lead << 8 | trail);
    }
    return true;
}

[[noreturn]] void ThrowTooManyPhrases(const std::string& file)
{
    throw DictionaryError(file, "its " + std::string(table::kPhraseTableName) + " holds more than " +
                                    std::to_string(table::kMaxPhraseCodes) + " codes of phrases in one direction");
}

// Reads the phrase table, if the file has one, into the tables of both directions, within the
// snapshot's deadline.
void ReadPhrases(const SqliteDatabase& db, const std::string& file, PhraseTable& toGb, PhraseTable& toBig5)
{
    if (!db.HasSchemaEntry(table::kPhraseTableName))
        return;
    if (!db.HasPlainTable(table::kPhraseTableName))
        throw DictionaryError(file, "its " + std::string(table::kPhraseTableName) + " is no table");
    auto rows = [&db] {
        try {
            return db.Prepare(table::kSelectPhrases);
        } catch (const DictionaryError&) {
            return db.Prepare(table::kSelectPhrasesUnordered);
        }
    }();
    // Room for the pairs of each direction before they are read: a pair's codes take as many
    // bytes as its two sides in the file.
    auto sizes = db.Prepare("SELECT total(CASE WHEN direction & 1 THEN length(big5) END),"
                            " total(CASE WHEN direction & 2 THEN length(big5) END) FROM PHRASES");
    std::int64_t toGbBytes = 0, toBig5Bytes = 0;
    if (sizes.Step() && sizes.WholeNumber(0, toGbBytes) && sizes.WholeNumber(1, toBig5Bytes)) {
        // Each byte of a side is a code of the pair's source or target: more bytes, more codes.
        if (toGbBytes > static_cast<std::int64_t>(table::kMaxPhraseCodes) ||
            toBig5Bytes > static_cast<std::int64_t>(table::kMaxPhraseCodes))
            ThrowTooManyPhrases(file);
        const auto codes = [](std::int64_t bytes) { return std::min<std::size_t>(bytes, table::kMaxPhraseCodes); };
        toGb.Reserve(codes(toGbBytes) / 4, codes(toGbBytes));
        toBig5.Reserve(codes(toBig5Bytes) / 4, codes(toBig5Bytes));
    }
    std::size_t toGbCodes = 0, toBig5Codes = 0;
    std::array<std::uint16_t, table::kMaxPhraseLength> big5{}, gb{};
    while (rows.Step()) {
        db.CheckTime();
        std::int64_t length = 0, direction = 0;
        std::string_view big5Bytes, gbBytes;
        if (!rows.WholeNumber(0, length) || length < static_cast<std::int64_t>(table::kMinPhraseLength) ||
            length > static_cast<std::int64_t>(table::kMaxPhraseLength) || !rows.WholeNumber(1, direction) ||
            direction < 1 || direction > (table::kPhraseToSimplified | table::kPhraseToTraditional) ||
            !rows.Bytes(2, big5Bytes) || !rows.Bytes(3, gbBytes) || big5Bytes.size() != gbBytes.size() ||
            big5Bytes.empty() || big5Bytes.size() % (2 * static_cast<std::size_t>(length)) != 0)
            continue;
        const auto characters = static_cast<std::size_t>(length);
        const auto* big5Pair = reinterpret_cast<const unsigned char*>(big5Bytes.data());
        const auto* gbPair = reinterpret_cast<const unsigned char*>(gbBytes.data());
        for (std::size_t at = 0; at < big5Bytes.size(); at += 2 * characters) {
            if (!PhraseCodes(big5Pair + at, characters, big5.data()) ||
                !PhraseCodes(gbPair + at, characters, gb.data()))
                continue;
            const std::span<const std::uint16_t> big5Side(big5.data(), characters), gbSide(gb.data(), characters);
            if (direction & table::kPhraseToSimplified) {
                toGbCodes += 2 * characters;
                if (toGbCodes > table::kMaxPhraseCodes)
                    ThrowTooManyPhrases(file);
                toGb.Add(big5Side, gbSide);
            }
            if (direction & table::kPhraseToTraditional) {
                toBig5Codes += 2 * characters;
                if (toBig5Codes > table::kMaxPhraseCodes)
                    ThrowTooManyPhrases(file);
                toBig5.Add(gbSide, big5Side);
            }
        }
    }
    toGb.KeepFirstOfEachSource();
    db.CheckTime();
    toBig5.KeepFirstOfEachSource();
    db.CheckTime();
}

} // namespace

CharacterDictionary::CharacterDictionary() = default;
CharacterDictionary::~CharacterDictionary() = default;

std::string CharacterDictionary::FilePath(std::string_view programDirectory)
{
    std::string path(programDirectory);
    path += '/';
    path += table::kFileName;
    return path;
}

void CharacterDictionary::Open(std::string_view programDirectory)
{
    OpenFile(FilePath(programDirectory));
}

void CharacterDictionary::OpenFile(const std::string& file)
{
    Close();
    const SqliteDatabase db = SqliteDatabase::OpenSnapshot(file);
    if (!db.HasPlainTable(table::kTableName))
        throw DictionaryError(file, "it holds no table " + std::string(table::kTableName));
    auto rows = SelectRows(db);

    std::vector<std::uint16_t> toGb(kCodeCount, kNoRow);
    std::vector<std::uint16_t> toBig5(kCodeCount, kNoRow);
    std::vector<bool> gbTaken(kCodeCount), big5Taken(kCodeCount);

    // The first row that holds a code decides its answer, usable or not.
    const auto settle = [](std::vector<std::uint16_t>& table, std::vector<bool>& taken, bool hasKey,
                           std::int64_t key, bool hasValue, std::int64_t value) {
        if (!hasKey || key < 0 || key >= static_cast<std::int64_t>(kCodeCount) || taken[key])
            return;
        taken[key] = true;
        const bool usable = hasValue && value >= kFirstDoubleByteCode &&
                            value < static_cast<std::int64_t>(kCodeCount);
        table[key] = usable ? static_cast<std::uint16_t>(value) : kBadRow;
    };

    while (rows.Step()) {
        std::int64_t big5 = 0, gb = 0;
        const bool hasBig5 = rows.WholeNumber(0, big5);
        const bool hasGb = rows.WholeNumber(1, gb);
        settle(toGb, big5Taken, hasBig5, big5, hasGb, gb);
        settle(toBig5, gbTaken, hasGb, gb, hasBig5, big5);
    }

    PhraseTable toGbPhrases, toBig5Phrases;
    ReadPhrases(db, file, toGbPhrases, toBig5Phrases);

    toGb_ = std::move(toGb);
    toBig5_ = std::move(toBig5);
    toGbPhrases_ = std::move(toGbPhrases);
    toBig5Phrases_ = std::move(toBig5Phrases);
    fileId_ = db.FileId();
    open_ = true;
}

void CharacterDictionary::Close()
{
    open_ = false;
    toGb_.clear();
    toBig5_.clear();
    toGbPhrases_.Clear();
    toBig5Phrases_.Clear();
}

void CharacterDictionary::ThrowNotOpen()
{
    throw DictionaryError("the dictionary is not open");
}

void CharacterDictionary::ThrowBadRow(ConversionDirection direction, std::uint16_t code)
{
    const bool toGb = direction == ConversionDirection::TraditionalToSimplified;
    throw DictionaryError(std::string("the dictionary row for ") + (toGb ? "big5=" : "gb=") + std::to_string(code) +
                          " holds no usable " + (toGb ? "gb" : "big5") + " code");
}

} // namespace fanjian
