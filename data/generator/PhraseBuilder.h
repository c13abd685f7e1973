#pragma once

#include "CodePages.h"
#include "PhraseText.h"
#include "Sources.h"
#include "TableText.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::data {

using Codes = std::vector<std::uint16_t>;
// For each phrase, its candidate forms in the order the source gives them.
using PhraseCandidates = std::map<std::u32string, std::vector<std::u32string>>;

// An OpenCC phrase table dumped as text ("opencc_dict -f ocd2 -t text"): a phrase, a tab, and its
// candidates separated by spaces.
PhraseCandidates ParseOpenccPhrases(std::string_view bytes, std::string_view source);

// libchewing's compiled phrase list (Debian libchewing3-data): dictionary.dat holds the phrases in
// UTF-8, each ended by a NUL byte; index_tree.dat is a tree of 8-byte nodes, and a node whose first
// two bytes are zero is a phrase: three bytes of its offset in dictionary.dat and three of its
// frequency, little-endian. Phrases of one character are left out; a phrase listed under several
// readings keeps its highest frequency.
std::map<std::u32string, std::uint64_t> ParseChewingPhrases(std::string_view dictionary, std::string_view tree,
                                                            std::string_view source);

struct PhraseSources {
    PhraseCandidates simplifiedToTraditional; // OpenCC STPhrases
    PhraseCandidates traditionalToSimplified; // OpenCC TSPhrases
    std::map<std::u32string, std::uint64_t> taiwanPhrases; // libchewing, with frequencies
    Candidates taiwanVariants;                // OpenCC TWVariants
};

struct BuiltPhrases {
    // By direction (->, <-, <->), then length, then Big5 and GB codes; in each direction no two
    // rows share the side it seeks.
    std::vector<PhraseRow> rows;
    // Where the rows came from and what was left out, for the header.
    std::map<std::string, std::size_t> counts;
};

// Greedy forward maximum matching, as the converter does it: at each place the longest phrase that
// starts there, else the character's own answer (the character itself when it has none).
class PhraseMatcher {
public:
    PhraseMatcher(std::map<Codes, Codes> phrases, const std::vector<std::uint16_t>& answers);
    Codes Convert(const Codes& text) const;

private:
    std::map<Codes, Codes> phrases_;
    const std::vector<std::uint16_t>& answers_;
    std::size_t longest_ = 0;
};

// The per-character answers of a table, indexed by code (0: no row): the first row holding a code.
struct CharacterAnswers {
    std::vector<std::uint16_t> toGb = std::vector<std::uint16_t>(65536, 0);
    std::vector<std::uint16_t> toBig5 = std::vector<std::uint16_t>(65536, 0);
};
CharacterAnswers AnswersOf(const std::vector<TableRow>& rows);

// Of the phrases of one direction (source -> target), those that can change what the converter
// writes: a phrase whose target differs from its characters' own answers, and a phrase that keeps
// them but, being longer, stops another such phrase from matching (one that starts inside it, or
// a shorter one at its start). The others make no difference to any text and are left out.
std::map<Codes, Codes> PhrasesThatMatter(const std::map<Codes, Codes>& phrases,
                                          const std::vector<std::uint16_t>& answers);

// The phrase table, by these rules:
//   Simplified -> Traditional: libchewing's phrases first, where Taiwan writes a word otherwise than
//     OpenCC's phrases and characters convert it: each phrase in its Taiwan forms (TWVariants),
//     simplified as the table converts Traditional text; for each Simplified phrase the most frequent
//     such phrase, when its frequency is at least twice that of all others together and above 0.
//     Then OpenCC's STPhrases: the first candidate that both code pages can write, in Taiwan forms.
//   Traditional -> Simplified: OpenCC's TSPhrases, the first candidate in GB2312, else in GBK.
// Only pairs that both code pages write with double-byte characters, of the same length, 2 to 16
// characters; in each direction the first pair for a phrase wins; then only PhrasesThatMatter.
BuiltPhrases BuildPhrases(const PhraseSources& sources, const std::vector<TableRow>& characters,
                          const CodeTable& big5, const CodeTable& gb);

} // namespace fanjian::data
