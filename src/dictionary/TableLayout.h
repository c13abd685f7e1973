#pragma once

#include "dictionary/DictionaryName.h"

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

} // namespace fanjian::table
