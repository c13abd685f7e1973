#pragma once

#include "CodePages.h"
#include "TableText.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::data {

// The phrase table as committed text (data/phrases.txt). Lines starting with '#' are the header;
// every other line is one row:
//
//   B4A3BBBB 複製 B8B4D6C6 复制 <-
//
// the Big5 codes of the Traditional phrase (four hex digits a character) and its characters, the
// GB codes of the Simplified phrase and its characters, and the directions the row serves: "->"
// Traditional -> Simplified (sought by its Big5 side), "<-" Simplified -> Traditional (sought by
// its GB side), "<->" both. Both sides hold the same number of characters, 2 to kMaxPhraseLength,
// and in each direction no two rows share the side that direction seeks.
struct PhraseRow {
    std::vector<std::uint16_t> big5;
    std::vector<std::uint16_t> gb;
    bool traditionalToSimplified = false;
    bool simplifiedToTraditional = false;
};

// Parses and checks the whole text; throws TableTextError naming the line.
std::vector<PhraseRow> ParsePhraseText(std::string_view bytes, std::string_view source, const CodeTable& big5,
                                       const CodeTable& gb);

// One row line, without its line end.
std::string FormatPhraseRow(const PhraseRow& row, const CodeTable& big5, const CodeTable& gb);

// The codes as the text writes them: "B4A3BBBB"; the bytes as the dictionary file stores them.
std::string HexCodes(const std::vector<std::uint16_t>& codes);
std::string CodeBytes(const std::vector<std::uint16_t>& codes);

} // namespace fanjian::data
