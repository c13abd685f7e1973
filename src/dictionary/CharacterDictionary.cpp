#include "dictionary/CharacterDictionary.h"

#include "dictionary/SqliteDatabase.h"
#include "dictionary/TableLayout.h"

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

// A side of a phrase row: 2 to kMaxPhraseLength double-byte characters, lead byte 0x81..0xFE and
// trail byte 0x40..0xFE. Returns the number of characters, 0 for a side that is none.
std::size_t PhraseCodes(std::string_view bytes, std::array<std::uint16_t, table::kMaxPhraseLength>& codes)
{
    if (bytes.size() % 2 != 0 || bytes.size() < 2 * table::kMinPhraseLength || bytes.size() > 2 * table::kMaxPhraseLength)
        return 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const auto trail = static_cast<unsigned char>(bytes[i + 1]);
        if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE)
            return 0;
        codes[i / 2] = static_cast<std::uint16_t>(lead << 8 | trail);
    }
    return bytes.size() / 2;
}

// Reads the phrase table, if the file has one, into the tables of both directions.
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
    // Room for every row, and for phrases of three characters, before they are read.
    auto count = db.Prepare("SELECT count(*) FROM " + std::string(table::kPhraseTableName));
    std::int64_t rowCount = 0;
    if (count.Step() && count.WholeNumber(0, rowCount))
        for (PhraseTable* phrases : {&toGb, &toBig5})
            phrases->Reserve(static_cast<std::size_t>(rowCount), static_cast<std::size_t>(rowCount) * 6);
    std::array<std::uint16_t, table::kMaxPhraseLength> big5{}, gb{};
    while (rows.Step()) {
        std::string_view big5Bytes, gbBytes;
        std::int64_t direction = 0;
        if (!rows.Bytes(0, big5Bytes) || !rows.Bytes(1, gbBytes) || !rows.WholeNumber(2, direction) ||
            direction < 1 || direction > (table::kPhraseToSimplified | table::kPhraseToTraditional))
            continue;
        const std::size_t length = PhraseCodes(big5Bytes, big5);
        if (length == 0 || PhraseCodes(gbBytes, gb) != length)
            continue;
        const std::span<const std::uint16_t> big5Side(big5.data(), length), gbSide(gb.data(), length);
        if (direction & table::kPhraseToSimplified)
            toGb.Add(big5Side, gbSide);
        if (direction & table::kPhraseToTraditional)
            toBig5.Add(gbSide, big5Side);
    }
    toGb.KeepFirstOfEachSource();
    toBig5.KeepFirstOfEachSource();
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
