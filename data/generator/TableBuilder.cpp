#include "TableBuilder.h"

#include <optional>
#include <queue>
#include <stdexcept>
#include <tuple>

namespace fanjian::data {

namespace {

// User-defined characters: CP950 decodes its user-defined areas into the private use area.
bool IsPrivateUse(char32_t c)
{
    return c >= 0xE000 && c <= 0xF8FF;
}

std::string Bytes(std::uint16_t code)
{
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// glibc's direct converter between GB2312 and Big5 (its GBBIG5 module), for symbols.
std::optional<std::uint16_t> BestFit(const Iconv& direct, std::uint16_t code)
{
    const auto bytes = direct.Convert(Bytes(code));
    if (!bytes || bytes->size() != 2 || static_cast<unsigned char>((*bytes)[0]) < 0x81)
        return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<unsigned char>((*bytes)[0]) << 8 |
                                      static_cast<unsigned char>((*bytes)[1]));
}

const std::vector<char32_t>* Find(const Candidates& table, char32_t c)
{
    const auto it = table.find(c);
    return it == table.end() ? nullptr : &it->second;
}

struct Choice {
    std::uint16_t code;
    const char* how;
};

class Chooser {
public:
    Chooser(const TableSources& sources, const CodeTable& big5, const CodeTable& gb)
        : sources_(sources), big5_(big5), gb_(gb), bigToGb_("EUC-CN", "BIG5"), gbToBig_("BIG5", "EUC-CN")
    {
    }

    std::optional<Choice> Simplified(std::uint16_t code, char32_t c) const
    {
        if (!IsHan(c)) {
            if (const auto same = gb_.Code(c))
                return Choice{*same, "symbol, same character"};
            if (const auto fit = BestFit(bigToGb_, code))
                return Choice{*fit, "symbol, glibc best fit"};
            return std::nullopt;
        }
        // OpenCC's candidates decide when it has any; Unihan is the fallback for what it leaves.
        const auto* opencc = Find(sources_.traditionalToSimplified, c);
        const auto* unihan = Find(sources_.unihan.simplified, c);
        if (opencc) {
            if (const auto found = FirstInGb(*opencc))
                return Choice{*found, "OpenCC"};
            if (unihan)
                if (const auto found = FirstInGb(*unihan))
                    return Choice{*found, "Unihan"};
        } else {
            // OpenCC leaves the character as it is; so does the table where GB2312 has it.
            if (const auto same = gb_.Code(c); same && IsGb2312Code(*same))
                return Choice{*same, "same character"};
            if (unihan)
                if (const auto found = FirstInGb(*unihan); found && IsGb2312Code(*found))
                    return Choice{*found, "Unihan"};
        }
        if (const auto same = gb_.Code(c))
            return Choice{*same, "same character in GBK"};
        if (unihan)
            if (const auto found = FirstInGb(*unihan))
                return Choice{*found, "Unihan"};
        return std::nullopt;
    }

    // `simplifiedFrom`: the CP950 codes whose Traditional -> Simplified pair gives this code.
    std::optional<Choice> Traditional(std::uint16_t code, char32_t c, const std::vector<std::uint16_t>* simplifiedFrom) const
    {
        if (!IsHan(c)) {
            if (const auto same = big5_.Code(c))
                return Choice{*same, "symbol, same character"};
            if (IsGb2312Code(code))
                if (const auto fit = BestFit(gbToBig_, code))
                    return Choice{*fit, "symbol, glibc best fit"};
            return std::nullopt;
        }
        const auto* opencc = Find(sources_.simplifiedToTraditional, c);
        const std::vector<char32_t> self{c};
        if (const auto found = FirstInBig5(opencc ? *opencc : self))
            return Choice{*found, opencc ? "OpenCC" : "same character"};
        if (const auto* unihan = Find(sources_.unihan.traditional, c))
            if (const auto found = FirstInBig5(*unihan))
                return Choice{*found, "Unihan"};
        if (const auto same = big5_.Code(c))
            return Choice{*same, "same character"};
        // A GBK character beyond GB2312 (mostly an old or variant form in Simplified text) takes
        // a semantic variant that CP950 has: 衞 衛, 緜 綿, 鷄 雞.
        if (!IsGb2312Code(code))
            if (const auto* semantic = Find(sources_.unihan.semantic, c))
                if (const auto found = FirstInBig5(*semantic))
                    return Choice{*found, "Unihan semantic variant"};
        if (simplifiedFrom)
            return Choice{simplifiedFrom->front(), "a CP950 character that simplifies to it"};
        return std::nullopt;
    }

    // Whether a source relates the CP950 character `big5Code` to the GB character as its
    // Traditional form: glibc's direct GB2312 -> Big5 converter gives it, or Unihan names it a
    // traditional or semantic variant of one of OpenCC's forms (the character itself when OpenCC
    // has none). Only a reviewer can tell a variant from another word (伲 -> 你), so this is the
    // evidence an override must have, not a rule of its own.
    bool NamesVariant(std::uint16_t code, char32_t c, std::uint16_t big5Code) const
    {
        if (BestFit(gbToBig_, code) == big5Code)
            return true;
        const auto* opencc = Find(sources_.simplifiedToTraditional, c);
        const std::vector<char32_t> self{c};
        for (char32_t form : opencc ? *opencc : self)
            for (const Candidates* field : {&sources_.unihan.traditional, &sources_.unihan.semantic})
                if (const auto* variants = Find(*field, form))
                    for (char32_t variant : *variants)
                        if (big5_.Code(variant) == big5Code)
                            return true;
        return false;
    }

private:
    // The first candidate GB2312 has, else the first GBK has.
    std::optional<std::uint16_t> FirstInGb(const std::vector<char32_t>& candidates) const
    {
        for (char32_t candidate : candidates)
            if (const auto code = gb_.Code(candidate); code && IsGb2312Code(*code))
                return code;
        for (char32_t candidate : candidates)
            if (const auto code = gb_.Code(candidate))
                return code;
        return std::nullopt;
    }

    // For each candidate in turn: its Taiwan form, else itself, if CP950 has it.
    std::optional<std::uint16_t> FirstInBig5(const std::vector<char32_t>& candidates) const
    {
        for (char32_t candidate : candidates) {
            if (const auto* taiwan = Find(sources_.taiwanVariants, candidate))
                if (const auto code = big5_.Code(taiwan->front()))
                    return code;
            if (const auto code = big5_.Code(candidate))
                return code;
        }
        return std::nullopt;
    }

    const TableSources& sources_;
    const CodeTable& big5_;
    const CodeTable& gb_;
    Iconv bigToGb_;
    Iconv gbToBig_;
};

// Adds `code` to the list, joining it to the last range when it follows on in `table`'s order
// with the same note.
void AddWithoutRow(std::vector<WithoutRow>& list, const CodeTable& table, std::uint16_t code,
                   const std::string& note)
{
    if (!list.empty() && list.back().note == note) {
        auto next = table.Characters().upper_bound(list.back().range.last);
        if (next != table.Characters().end() && next->first == code) {
            list.back().range.last = code;
            return;
        }
    }
    list.push_back({{code, code}, note});
}

[[noreturn]] void FailOverride(const Override& entry, const std::string& what)
{
    throw SourceError("overrides.txt", entry.line, what);
}

} // namespace

BuiltTable BuildTable(const TableSources& sources, const CodeTable& big5, const CodeTable& gb)
{
    BuiltTable built;
    const Chooser chooser(sources, big5, gb);
    std::map<std::uint16_t, std::uint16_t> toGb;
    std::map<std::uint16_t, std::uint16_t> toBig5;

    for (const auto& [code, c] : big5.Characters()) {
        if (IsPrivateUse(c))
            continue;
        if (const auto choice = chooser.Simplified(code, c)) {
            toGb.emplace(code, choice->code);
            ++built.counts[std::string("Traditional -> Simplified: ") + choice->how];
        }
    }
    std::map<std::uint16_t, std::vector<std::uint16_t>> simplifiedFrom;
    for (const auto& [big5Code, gbCode] : toGb)
        simplifiedFrom[gbCode].push_back(big5Code);
    for (const auto& [code, c] : gb.Characters()) {
        const auto from = simplifiedFrom.find(code);
        if (const auto choice = chooser.Traditional(code, c, from == simplifiedFrom.end() ? nullptr : &from->second)) {
            toBig5.emplace(code, choice->code);
            ++built.counts[std::string("Simplified -> Traditional: ") + choice->how];
        }
    }

    // An override replaces the pair the rules chose, or gives a row to a character they leave out.
    for (const Override& entry : sources.overrides) {
        const CodeTable& fromTable = entry.traditionalToSimplified ? big5 : gb;
        const CodeTable& toTable = entry.traditionalToSimplified ? gb : big5;
        auto& pairs = entry.traditionalToSimplified ? toGb : toBig5;
        const auto from = fromTable.Code(entry.from);
        const auto to = toTable.Code(entry.to);
        if (!from || !to)
            FailOverride(entry, "a character of the override is not in its code page");
        const auto [it, isNew] = pairs.emplace(*from, *to);
        if (!isNew && it->second == *to)
            FailOverride(entry, "the rules give this pair already");
        it->second = *to;
        // A Han character that the rules leave without a CP950 form takes a variant CP950 has, and
        // the variant must come from the sources: a mistyped character would otherwise slip in.
        const bool variant = !entry.traditionalToSimplified && isNew && IsHan(entry.from);
        if (variant && !chooser.NamesVariant(*from, entry.from, *to))
            FailOverride(entry, "neither glibc's GB2312 -> Big5 converter nor Unihan relates the two characters");
        ++built.counts[entry.traditionalToSimplified ? "Traditional -> Simplified: reviewed override"
                       : variant                     ? "Simplified -> Traditional: reviewed variant, OpenCC's form not in CP950"
                                                     : "Simplified -> Traditional: reviewed override"];
    }

    for (const auto& [code, c] : big5.Characters()) {
        if (IsPrivateUse(c))
            AddWithoutRow(built.big5WithoutRow, big5, code, "user-defined area");
        else if (!toGb.contains(code))
            AddWithoutRow(built.big5WithoutRow, big5, code, ToUtf8(c) + " has no GB form");
    }
    for (const auto& [code, c] : gb.Characters())
        if (IsGb2312Code(code) && !toBig5.contains(code))
            AddWithoutRow(built.gbWithoutRow, gb, code, ToUtf8(c) + " has no CP950 form");

    // A GB code whose Traditional form has no Simplified pair of its own would make that Big5 code
    // answer from a Simplified -> Traditional row; every Traditional form must have its own pair.
    for (const auto& [gbCode, big5Code] : toBig5)
        if (!toGb.contains(big5Code))
            throw std::runtime_error("CP950 " + HexCode(big5Code) + ", the Traditional form of GB " +
                                     HexCode(gbCode) + ", has no Traditional -> Simplified pair");

    built.rows = OrderRows(toGb, toBig5);
    return built;
}

std::vector<TableRow> OrderRows(const std::map<std::uint16_t, std::uint16_t>& traditionalToSimplified,
                                const std::map<std::uint16_t, std::uint16_t>& simplifiedToTraditional)
{
    // The rows, sorted by (Big5, GB).
    std::map<std::pair<std::uint16_t, std::uint16_t>, TableRow> byCodes;
    for (const auto& [big5, gb] : traditionalToSimplified) {
        TableRow& row = byCodes[{big5, gb}];
        row.big5 = big5;
        row.gb = gb;
        row.traditionalToSimplified = true;
    }
    for (const auto& [gb, big5] : simplifiedToTraditional) {
        TableRow& row = byCodes[{big5, gb}];
        row.big5 = big5;
        row.gb = gb;
        row.simplifiedToTraditional = true;
    }
    std::vector<TableRow> rows;
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::size_t> index;
    for (const auto& [codes, row] : byCodes) {
        index.emplace(codes, rows.size());
        rows.push_back(row);
    }

    // An edge a -> b: row a must come before row b.
    std::vector<std::vector<std::size_t>> after(rows.size());
    std::vector<std::size_t> waitingFor(rows.size(), 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TableRow& row = rows[i];
        if (!row.traditionalToSimplified) {
            const auto pair = traditionalToSimplified.find(row.big5);
            if (pair != traditionalToSimplified.end()) {
                after[index.at({row.big5, pair->second})].push_back(i);
                ++waitingFor[i];
            }
        }
        if (!row.simplifiedToTraditional) {
            const auto pair = simplifiedToTraditional.find(row.gb);
            if (pair != simplifiedToTraditional.end()) {
                after[index.at({pair->second, row.gb})].push_back(i);
                ++waitingFor[i];
            }
        }
    }

    // Kahn's algorithm; indices follow (Big5, GB) order, so the smallest free index goes first.
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> free;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (waitingFor[i] == 0)
            free.push(i);
    std::vector<TableRow> ordered;
    ordered.reserve(rows.size());
    while (!free.empty()) {
        const std::size_t i = free.top();
        free.pop();
        ordered.push_back(rows[i]);
        for (std::size_t next : after[i])
            if (--waitingFor[next] == 0)
                free.push(next);
    }
    if (ordered.size() != rows.size()) {
        std::string cycle;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (waitingFor[i] != 0)
                cycle += " " + HexCode(rows[i].big5) + "/" + HexCode(rows[i].gb);
        throw std::runtime_error("no row order gives every code its pair; these rows wait on each other:" + cycle);
    }
    return ordered;
}

} // namespace fanjian::data
