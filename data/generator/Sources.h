#pragma once

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::data {

// For each character, its candidate forms in the order the source gives them.
using Candidates = std::map<char32_t, std::vector<char32_t>>;

// A source file the generator cannot read as expected; the message names file and line.
class SourceError : public std::runtime_error {
public:
    SourceError(std::string_view source, std::size_t line, const std::string& what);
};

// An OpenCC character table dumped as text ("opencc_dict -f ocd2 -t text"): one character, a tab,
// and its candidates separated by spaces. Entries whose key is longer than one character are
// phrases and are refused: a character table has none.
Candidates ParseOpenccCharacters(std::string_view bytes, std::string_view source);

// The Unihan variant fields the table falls back on.
struct UnihanVariants {
    Candidates simplified;  // kSimplifiedVariant
    Candidates traditional; // kTraditionalVariant
    Candidates semantic;    // kSemanticVariant
};
// Unihan_Variants.txt: "U+4E7E<TAB>kSimplifiedVariant<TAB>U+5E72 U+4E7E".
UnihanVariants ParseUnihanVariants(std::string_view bytes, std::string_view source);

// A reviewed exception to the rules, from data/overrides.txt:
//   T2S 乾 乾 reason ...     (Traditional -> Simplified row of 乾 goes to 乾)
//   S2T 后 後 reason ...     (Simplified -> Traditional row of 后 goes to 後)
struct Override {
    bool traditionalToSimplified = false;
    char32_t from = 0;
    char32_t to = 0;
    std::string reason;
    std::size_t line = 0;
};
std::vector<Override> ParseOverrides(std::string_view bytes, std::string_view source);

} // namespace fanjian::data
