#pragma once

#include "dictionary/ConversionDirection.h"
#include "dictionary/Errors.h"
#include "dictionary/PhraseTable.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fanjian {

// The Big5 <-> GB2312 code table, read from the SQLite file "mervik.pcx" in the program
// directory (table MERVIK, numeric columns big5 and gb; dictionary/TableLayout.h). One table serves both directions:
// Traditional -> Simplified seeks big5 and takes gb, Simplified -> Traditional the reverse.
//
// The file may also hold a table PHRASES of phrase pairs (TableLayout.h); Phrases gives those of
// one direction. A row that breaks the table's rules (a length outside 2..16, an unknown
// direction, sides that are no BLOBs, of different sizes or no whole number of pairs) is left out
// as if it were not there, and so is a pair holding a byte pair that is no double-byte character
// and a later pair for a phrase an earlier one gives. A PHRASES that is no table, lacks a column,
// or holds more than kMaxPhraseCodes codes of phrases in a direction fails Open.
//
// The whole table is read once at Open; each Lookup then answers what
//   Select big5,gb from MERVIK Where Big5=<code>   (or Where gb=<code>)
// would give as its first row, rows taken in rowid order.
class CharacterDictionary {
public:
    CharacterDictionary();
    ~CharacterDictionary();
    CharacterDictionary(const CharacterDictionary&) = delete;
    CharacterDictionary& operator=(const CharacterDictionary&) = delete;

    // Opens programDirectory + "/" + "mervik.pcx". Throws DictionaryError when the file is
    // missing, is no regular file, no SQLite database, cut short or damaged, or lacks the table or
    // its columns, and when reading it takes longer than a moment (SqliteDatabase::OpenSnapshot).
    // Reads the file once and never writes or creates a file.
    void Open(std::string_view programDirectory);
    // The same with the dictionary file named directly.
    void OpenFile(const std::string& file);

    // The code of the other script for a character code, or nothing when no row holds it.
    // Throws DictionaryError when the first matching row holds no usable value (NULL, not a
    // whole number, outside 256..65535), or when the dictionary is not open.
    std::optional<std::uint16_t> Lookup(ConversionDirection direction, std::uint16_t code) const
    {
        return Answers(direction).Lookup(code);
    }

    // The answers of one direction, for callers that look up many codes in a row. Valid while
    // the dictionary stays open.
    class DirectionAnswers {
    public:
        std::optional<std::uint16_t> Lookup(std::uint16_t code) const
        {
            const std::uint16_t answer = table_[code];
            if (answer >= kFirstDoubleByteCode) [[likely]]
                return answer;
            if (answer == kNoRow)
                return std::nullopt;
            ThrowBadRow(direction_, code);
        }
        // Whether Lookup throws for the code: its first row holds no usable value.
        bool IsBadRow(std::uint16_t code) const
        {
            const std::uint16_t answer = table_[code];
            return answer != kNoRow && answer < kFirstDoubleByteCode;
        }

    private:
        friend class CharacterDictionary;
        DirectionAnswers(ConversionDirection direction, const std::uint16_t* table)
            : direction_(direction), table_(table)
        {
        }
        ConversionDirection direction_;
        const std::uint16_t* table_;
    };

    // The phrases of one direction, in row order, the first row of each source only: Traditional
    // -> Simplified seeks the big5 side and takes gb, Simplified -> Traditional the reverse. Empty
    // when the file has none. Throws DictionaryError when the dictionary is not open.
    const PhraseTable& Phrases(ConversionDirection direction) const
    {
        if (!open_)
            ThrowNotOpen();
        return direction == ConversionDirection::TraditionalToSimplified ? toGbPhrases_ : toBig5Phrases_;
    }

    // Throws DictionaryError when the dictionary is not open.
    DirectionAnswers Answers(ConversionDirection direction) const
    {
        if (!open_)
            ThrowNotOpen();
        return DirectionAnswers(direction, direction == ConversionDirection::TraditionalToSimplified
                                               ? toGb_.data()
                                               : toBig5_.data());
    }

    void Close();
    bool IsOpen() const noexcept { return open_; }
    // Device and inode number of the file the open dictionary was read from.
    std::pair<std::uint64_t, std::uint64_t> FileId() const noexcept { return fileId_; }

    // The path Open reads for a program directory.
    static std::string FilePath(std::string_view programDirectory);

private:
    static constexpr std::uint16_t kNoRow = 0;
    static constexpr std::uint16_t kBadRow = 1;
    static constexpr std::uint16_t kFirstDoubleByteCode = 256;

    [[noreturn]] static void ThrowNotOpen();
    [[noreturn]] static void ThrowBadRow(ConversionDirection direction, std::uint16_t code);

    // Indexed by the code sought; kNoRow, kBadRow or the code taken from the first matching row.
    std::vector<std::uint16_t> toGb_;
    std::vector<std::uint16_t> toBig5_;
    PhraseTable toGbPhrases_;
    PhraseTable toBig5Phrases_;
    std::pair<std::uint64_t, std::uint64_t> fileId_{};
    bool open_ = false;
};

} // namespace fanjian
