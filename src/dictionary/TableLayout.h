#pragma once

#include <cstddef>
#include <string_view>

// The dictionary file's layout: written by the build (compile_dictionary), read by the program,
// made in small by the tests. data/CMakeLists.txt takes the file name from here too.
namespace fanjian::table {

inline constexpr std::string_view kFileName = "mervik.pcx";

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

// An optional second table of phrases: a row pairs a Traditional phrase in Big5 bytes with its
// Simplified form in GB2312 (or GBK) bytes, the same number of double-byte characters on both
// sides (lead byte 0x81..0xFE, trail byte 0x40..0xFE), kMinPhraseLength to kMaxPhraseLength of
// them; `direction` says which conversions the row serves (kPhraseToSimplified: sought by big5,
// answered by gb; kPhraseToTraditional: the reverse; both bits: both). In each direction the first
// row in rowid order that serves it decides a phrase. Rows that break these rules are left out as
// if they were not there; a file without the table converts by character alone.
inline constexpr std::string_view kPhraseTableName = "PHRASES";
inline constexpr std::string_view kCreatePhraseTable =
    "CREATE TABLE PHRASES (big5 BLOB NOT NULL, gb BLOB NOT NULL, direction INTEGER NOT NULL)";
inline constexpr std::string_view kInsertPhrase = "INSERT INTO PHRASES (big5, gb, direction) VALUES (?, ?, ?)";
inline constexpr std::string_view kSelectPhrases = "SELECT big5, gb, direction FROM PHRASES ORDER BY rowid";
inline constexpr std::string_view kSelectPhrasesUnordered = "SELECT big5, gb, direction FROM PHRASES";
inline constexpr int kPhraseToSimplified = 1;
inline constexpr int kPhraseToTraditional = 2;
inline constexpr std::size_t kMinPhraseLength = 2;
// The longest phrase of OpenCC's tables that both code pages can write has 16 characters.
inline constexpr std::size_t kMaxPhraseLength = 16;

} // namespace fanjian::table
