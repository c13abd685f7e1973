#pragma once

#include "dictionary/DictionaryName.h"

#include <cstddef>
#include <string_view>

// The dictionary file's layout: written by the build (compile_dictionary), read by the program,
// made in small by the tests. Its name, kFileName, comes from the build (DictionaryName.h).
namespace fanjian::table {

// One table; one row pairs the Big5 code of a Traditional character with the GB2312 code of its
// Simplified form (lead byte * 256 + trail byte). For each code the first row in rowid order
// that holds it is the one that answers.
inline constexpr std::string_view kTableName = "MERVIK";
inline constexpr std::string_view kCreateTable = "CREATE TABLE MERVIK (big5 INTEGER NOT NULL, gb INTEGER NOT NULL)";
inline constexpr std::string_view kInsertRow = "INSERT INTO MERVIK (big5, gb) VALUES (?, ?)";
// Column 0 is big5, column 1 is gb.
inline constexpr std::string_view kSelectRows = "SELECT big5, gb FROM MERVIK ORDER BY rowid";
// A table without rowids has no such order; its own scan order stands in for it.
inline constexpr std::string_view kSelectRowsUnordered = "SELECT big5, gb FROM MERVIK";

// An optional second table of phrase pairs: the Traditional phrase in Big5 bytes and its
// Simplified form in GB2312 (or GBK) bytes, both of `length` double-byte characters (lead byte
// 0x81..0xFE, trail byte 0x40..0xFE), kMinPhraseLength to kMaxPhraseLength of them. A row holds
// one pair or several of the same length one after the other: big5 and gb are as long as each
// other, `length` * 2 bytes a pair. `direction` says which conversions the row's pairs serve
// (kPhraseToSimplified: sought by big5, answered by gb; kPhraseToTraditional: the reverse; both
// bits: both). In each direction the first pair in row order (rowid, then place in the row) that
// serves it decides a phrase. A row that breaks these rules is left out, and so is a pair that
// holds a byte pair which is no double-byte character; a file without the table converts by
// character alone. The build packs up to kPackedPhraseBytes of each side into a row, so that the
// table is read in a few dozen steps.
inline constexpr std::string_view kPhraseTableName = "PHRASES";
inline constexpr std::string_view kCreatePhraseTable =
    "CREATE TABLE PHRASES (length INTEGER NOT NULL, direction INTEGER NOT NULL, big5 BLOB NOT NULL, gb BLOB NOT NULL)";
inline constexpr std::string_view kInsertPhrases =
    "INSERT INTO PHRASES (length, direction, big5, gb) VALUES (?, ?, ?, ?)";
inline constexpr std::string_view kSelectPhrases = "SELECT length, direction, big5, gb FROM PHRASES ORDER BY rowid";
inline constexpr std::string_view kSelectPhrasesUnordered = "SELECT length, direction, big5, gb FROM PHRASES";
inline constexpr int kPhraseToSimplified = 1;
inline constexpr int kPhraseToTraditional = 2;
inline constexpr std::size_t kMinPhraseLength = 2;
// The longest phrase of OpenCC's tables that both code pages can write has 16 characters.
inline constexpr std::size_t kMaxPhraseLength = 16;
inline constexpr std::size_t kPackedPhraseBytes = 32 * 1024;
// The most codes (sources and targets together) the phrases of one direction may hold: 28 times
// what the shipped table holds, and a bound on the memory a file can ask for. A file whose table
// holds more fails to open.
inline constexpr std::size_t kMaxPhraseCodes = 8 * 1024 * 1024;

} // namespace fanjian::table
