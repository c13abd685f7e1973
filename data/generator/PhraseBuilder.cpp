#include "PhraseBuilder.h"

#include "dictionary/TableLayout.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>

namespace fanjian::data {

namespace {

template <typename Take>
void ForEachLine(std::string_view bytes, Take take)
{
    std::size_t number = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        take(line, ++number);
        start = end + 1;
    }
}

std::optional<std::u32string> Text(std::string_view utf8)
{
    try {
        return ToCodePoints(utf8);
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

std::uint32_t Little24(std::string_view bytes)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 16;
}

// The codes of a phrase in a code page, or nothing when it cannot write every character.
std::optional<Codes> Encode(const std::u32string& text, const CodeTable& table, bool gb2312Only = false)
{
    Codes codes;
    for (char32_t c : text) {
        const auto code = table.Code(c);
        if (!code || (gb2312Only && !IsGb2312Code(*code)))
            return std::nullopt;
        codes.push_back(*code);
    }
    return codes;
}

bool Fits(const Codes& a, const Codes& b)
{
    return a.size() == b.size() && a.size() >= table::kMinPhraseLength && a.size() <= table::kMaxPhraseLength;
}

std::u32string TaiwanForms(const std::u32string& text, const Candidates& variants, const CodeTable& big5)
{
    std::u32string out;
    for (char32_t c : text) {
        const auto it = variants.find(c);
        out.push_back(it != variants.end() && big5.Code(it->second.front()) ? it->second.front() : c);
    }
    return out;
}

Codes PerCharacter(const Codes& text, const std::vector<std::uint16_t>& answers)
{
    Codes out;
    for (std::uint16_t code : text)
        out.push_back(answers[code] != 0 ? answers[code] : code);
    return out;
}

// Pairs of one direction, the first for each source, with the source each came from.
struct Chosen {
    std::map<Codes, Codes> phrases;
    std::map<Codes, std::string> origin;

    void Add(const Codes& source, const Codes& target, const std::string& from,
             std::map<std::string, std::size_t>& counts)
    {
        if (phrases.emplace(source, target).second)
            origin.emplace(source, from);
        else
            ++counts[from + ": left out, an earlier source has the phrase"];
    }
};

} // namespace

PhraseCandidates ParseOpenccPhrases(std::string_view bytes, std::string_view source)
{
    PhraseCandidates table;
    ForEachLine(bytes, [&](std::string_view line, std::size_t number) {
        if (line.empty())
            return;
        const std::size_t tab = line.find('\t');
        const auto key = tab == std::string_view::npos ? std::nullopt : Text(line.substr(0, tab));
        if (!key || key->empty())
            throw SourceError(source, number, "expected a phrase, a tab and its candidates");
        std::vector<std::u32string> candidates;
        std::string_view rest = line.substr(tab + 1);
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            const auto candidate = Text(rest.substr(0, space));
            if (!candidate)
                throw SourceError(source, number, "a candidate is no UTF-8");
            if (!candidate->empty())
                candidates.push_back(*candidate);
            rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        }
        if (candidates.empty())
            throw SourceError(source, number, "no candidate");
        if (!table.emplace(*key, std::move(candidates)).second)
            throw SourceError(source, number, "the phrase has an earlier entry");
    });
    return table;
}

std::map<std::u32string, std::uint64_t> ParseChewingPhrases(std::string_view dictionary, std::string_view tree,
                                                            std::string_view source)
{
    if (tree.size() % 8 != 0)
        throw SourceError(source, 0, "the tree is no whole number of 8-byte nodes");
    std::map<std::u32string, std::uint64_t> phrases;
    for (std::size_t node = 0; node < tree.size(); node += 8) {
        if (tree[node] != 0 || tree[node + 1] != 0)
            continue;
        const std::uint32_t offset = Little24(tree.substr(node + 2, 3));
        const std::uint32_t frequency = Little24(tree.substr(node + 5, 3));
        const std::size_t end = dictionary.find('\0', offset);
        if (offset >= dictionary.size() || end == std::string_view::npos ||
            (offset > 0 && dictionary[offset - 1] != '\0'))
            throw SourceError(source, node / 8, "a phrase node points to no phrase");
        const auto text = Text(dictionary.substr(offset, end - offset));
        if (!text)
            throw SourceError(source, node / 8, "a phrase is no UTF-8");
        if (text->size() < 2)
            continue;
        auto& kept = phrases[*text];
        kept = std::max<std::uint64_t>(kept, frequency);
    }
    return phrases;
}

PhraseMatcher::PhraseMatcher(std::map<Codes, Codes> phrases, const std::vector<std::uint16_t>& answers)
    : phrases_(std::move(phrases)), answers_(answers)
{
    for (const auto& [source, target] : phrases_)
        longest_ = std::max(longest_, source.size());
}

Codes PhraseMatcher::Convert(const Codes& text) const
{
    Codes out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = std::min(longest_, text.size() - i);
        for (; length >= 2; --length) {
            const auto it = phrases_.find(Codes(text.begin() + static_cast<std::ptrdiff_t>(i),
                                                text.begin() + static_cast<std::ptrdiff_t>(i + length)));
            if (it != phrases_.end()) {
                out.insert(out.end(), it->second.begin(), it->second.end());
                break;
            }
        }
        if (length < 2) {
            out.push_back(answers_[text[i]] != 0 ? answers_[text[i]] : text[i]);
            length = 1;
        }
        i += length;
    }
    return out;
}

CharacterAnswers AnswersOf(const std::vector<TableRow>& rows)
{
    CharacterAnswers answers;
    for (const TableRow& row : rows) {
        if (answers.toGb[row.big5] == 0)
            answers.toGb[row.big5] = row.gb;
        if (answers.toBig5[row.gb] == 0)
            answers.toBig5[row.gb] = row.big5;
    }
    return answers;
}

std::map<Codes, Codes> PhrasesThatMatter(const std::map<Codes, Codes>& phrases,
                                          const std::vector<std::uint16_t>& answers)
{
    std::set<Codes> matter;
    std::set<Codes> prefixes; // of the phrases that matter
    const auto take = [&](const Codes& source) {
        matter.insert(source);
        for (std::size_t length = 1; length <= source.size(); ++length)
            prefixes.emplace(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(length));
    };
    for (const auto& [source, target] : phrases)
        if (PerCharacter(source, answers) != target)
            take(source);
    // A phrase that keeps its characters' answers matters when one that matters could start
    // inside it (the text there reads as a start of that phrase, or that phrase ends within it),
    // or is a shorter phrase at its own start; repeated until nothing more is found.
    for (bool found = true; found;) {
        found = false;
        for (const auto& [source, target] : phrases) {
            if (matter.contains(source))
                continue;
            bool blocks = false;
            for (std::size_t at = 0; at < source.size() && !blocks; ++at) {
                const Codes rest(source.begin() + static_cast<std::ptrdiff_t>(at), source.end());
                if (at > 0 && prefixes.contains(rest))
                    blocks = true;
                const std::size_t longest = at == 0 ? rest.size() - 1 : rest.size();
                for (std::size_t length = 2; length <= longest && !blocks; ++length)
                    blocks = matter.contains(Codes(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(length)));
            }
            if (blocks) {
                take(source);
                found = true;
            }
        }
    }
    std::map<Codes, Codes> kept;
    for (const auto& [source, target] : phrases)
        if (matter.contains(source))
            kept.emplace(source, target);
    return kept;
}

BuiltPhrases BuildPhrases(const PhraseSources& sources, const std::vector<TableRow>& characters,
                          const CodeTable& big5, const CodeTable& gb)
{
    BuiltPhrases built;
    auto& counts = built.counts;
    const CharacterAnswers answers = AnswersOf(characters);

    // Traditional -> Simplified: TSPhrases.
    Chosen toGb;
    for (const auto& [traditional, candidates] : sources.traditionalToSimplified) {
        const auto big5Codes = Encode(traditional, big5);
        std::optional<Codes> gbCodes;
        for (bool gb2312Only : {true, false})
            for (const auto& candidate : candidates)
                if (!gbCodes)
                    if (const auto codes = Encode(candidate, gb, gb2312Only);
                        codes && big5Codes && Fits(*big5Codes, *codes))
                        gbCodes = codes;
        if (!gbCodes) {
            ++counts["OpenCC TSPhrases: left out, not written alike by CP950 and GB"];
            continue;
        }
        toGb.Add(*big5Codes, *gbCodes, "OpenCC TSPhrases", counts);
    }

    // Simplified -> Traditional: OpenCC's STPhrases, as the base that Taiwan's phrases correct.
    Chosen opencc;
    for (const auto& [simplified, candidates] : sources.simplifiedToTraditional) {
        const auto gbCodes = Encode(simplified, gb);
        std::optional<Codes> big5Codes;
        for (const auto& candidate : candidates)
            if (const auto codes = Encode(TaiwanForms(candidate, sources.taiwanVariants, big5), big5);
                !big5Codes && codes && gbCodes && Fits(*codes, *gbCodes))
                big5Codes = codes;
        if (!big5Codes) {
            ++counts["OpenCC STPhrases: left out, not written alike by CP950 and GB"];
            continue;
        }
        opencc.Add(*gbCodes, *big5Codes, "OpenCC STPhrases", counts);
    }

    // Taiwan's phrases, simplified as the table converts Traditional text, where the most frequent
    // Traditional phrase of a Simplified phrase clearly outnumbers the others.
    const PhraseMatcher simplify(toGb.phrases, answers.toGb);
    const PhraseMatcher openccBack(opencc.phrases, answers.toBig5);
    std::map<Codes, std::map<Codes, std::uint64_t>> bySimplified;
    for (const auto& [phrase, frequency] : sources.taiwanPhrases) {
        const auto big5Codes = Encode(TaiwanForms(phrase, sources.taiwanVariants, big5), big5);
        if (!big5Codes || big5Codes->size() > table::kMaxPhraseLength)
            continue;
        const Codes gbCodes = simplify.Convert(*big5Codes);
        bool gbOnly = true;
        for (std::uint16_t code : gbCodes)
            gbOnly = gbOnly && gb.Character(code).has_value();
        if (gbOnly)
            bySimplified[gbCodes][*big5Codes] += frequency;
    }
    Chosen toBig5;
    for (const auto& [gbCodes, traditional] : bySimplified) {
        const auto* best = &*traditional.begin();
        std::uint64_t all = 0;
        for (const auto& entry : traditional) {
            all += entry.second;
            if (entry.second > best->second)
                best = &entry;
        }
        if (best->second == 0 || best->second < 2 * (all - best->second))
            continue;
        if (openccBack.Convert(gbCodes) != best->first)
            toBig5.Add(gbCodes, best->first, "libchewing", counts);
    }
    for (const auto& [source, target] : opencc.phrases)
        toBig5.Add(source, target, opencc.origin.at(source), counts);

    // The rows, each direction's phrases that matter, merged where both directions share a pair.
    std::map<std::pair<Codes, Codes>, PhraseRow> rows;
    for (const bool traditionalToSimplified : {true, false}) {
        const Chosen& chosen = traditionalToSimplified ? toGb : toBig5;
        const auto& directionAnswers = traditionalToSimplified ? answers.toGb : answers.toBig5;
        const auto kept = PhrasesThatMatter(chosen.phrases, directionAnswers);
        for (const auto& [source, target] : chosen.phrases) {
            const std::string& from = chosen.origin.at(source);
            if (!kept.contains(source)) {
                ++counts[from + ": left out, changes nothing"];
                continue;
            }
            ++counts[from + (traditionalToSimplified ? ": Traditional -> Simplified rows"
                                                     : ": Simplified -> Traditional rows")];
            const auto key = traditionalToSimplified ? std::pair(source, target) : std::pair(target, source);
            PhraseRow& row = rows[key];
            row.big5 = key.first;
            row.gb = key.second;
            (traditionalToSimplified ? row.traditionalToSimplified : row.simplifiedToTraditional) = true;
        }
    }
    for (auto& [key, row] : rows)
        built.rows.push_back(std::move(row));
    // By direction (->, <-, <->), then length: the compile tool packs each run into few rows.
    const auto rank = [](const PhraseRow& row) {
        return std::pair(row.traditionalToSimplified ? (row.simplifiedToTraditional ? 2 : 0) : 1, row.big5.size());
    };
    std::stable_sort(built.rows.begin(), built.rows.end(),
                     [&](const PhraseRow& a, const PhraseRow& b) { return rank(a) < rank(b); });
    return built;
}

} // namespace fanjian::data
