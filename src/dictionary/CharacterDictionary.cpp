#include "dictionary/CharacterDictionary.h"

#include "dictionary/SqliteDatabase.h"
#include "dictionary/TableLayout.h"

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

    toGb_ = std::move(toGb);
    toBig5_ = std::move(toBig5);
    fileId_ = db.FileId();
    open_ = true;
}

void CharacterDictionary::Close()
{
    open_ = false;
    toGb_.clear();
    toBig5_.clear();
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
