#pragma once

#include "CodePages.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::data {

// The table as committed text (data/mervik.txt). Lines starting with '#' are the header and notes;
// every other line is one row, in row order:
//
//   B0EA 國 B9FA 国 <->
//
// the Big5 code and its character, the GB code and its character, and which lookups the row is
// meant to answer: "->" Traditional -> Simplified (it must be the first row holding its Big5
// code), "<-" Simplified -> Traditional (the first row holding its GB code), "<->" both.
// Codes without a row are listed in the header, one a line:
//
//   #   no-row big5 C6A1..C8FE user-defined area
//   #   no-row gb A1A4 ・ no CP950 form
struct TableRow {
    std::uint16_t big5 = 0;
    std::uint16_t gb = 0;
    bool traditionalToSimplified = false;
    bool simplifiedToTraditional = false;
};

struct CodeRange {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
};

struct TableText {
    std::vector<TableRow> rows;
    std::vector<CodeRange> big5WithoutRow;
    std::vector<CodeRange> gbWithoutRow;
};

// A malformed table text; the message names the line: "mervik.txt:12: ...".
class TableTextError : public std::runtime_error {
public:
    TableTextError(std::string_view source, std::size_t line, const std::string& what);
};

// Parses and checks the whole text: every row well formed, its characters those of its codes in
// CP950 and GB, no row twice, and each marked row the first to hold its code.
TableText ParseTableText(std::string_view bytes, std::string_view source, const CodeTable& big5,
                         const CodeTable& gb);

// The fields of a line of either text, between single spaces.
std::vector<std::string_view> Fields(std::string_view line);
// Four upper-case hex digits, as both texts write a code.
std::optional<std::uint16_t> ParseHexCode(std::string_view hex);

// One row line, without its line end.
std::string FormatRow(const TableRow& row, const CodeTable& big5, const CodeTable& gb);
// One no-row line, without its line end ("#   no-row big5 C6A1..C8FE user-defined area").
std::string FormatWithoutRow(std::string_view column, CodeRange range, std::string_view note);

} // namespace fanjian::data
