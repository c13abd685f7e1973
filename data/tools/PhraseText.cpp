#include "PhraseText.h"

#include "dictionary/TableLayout.h"

#include <algorithm>
#include <map>
#include <optional>

namespace fanjian::data {

namespace {

std::optional<std::vector<std::uint16_t>> ParseCodes(std::string_view hex)
{
    if (hex.empty() || hex.size() % 4 != 0)
        return std::nullopt;
    std::vector<std::uint16_t> codes;
    for (std::size_t i = 0; i < hex.size(); i += 4) {
        const std::optional<std::uint16_t> code = ParseHexCode(hex.substr(i, 4));
        if (!code)
            return std::nullopt;
        codes.push_back(*code);
    }
    return codes;
}

// The characters of `codes` in `table`, or nothing when one is no character there.
std::optional<std::string> Characters(const std::vector<std::uint16_t>& codes, const CodeTable& table)
{
    std::u32string text;
    for (std::uint16_t code : codes) {
        const auto c = table.Character(code);
        if (!c)
            return std::nullopt;
        text.push_back(*c);
    }
    return ToUtf8(text);
}

} // namespace

std::string HexCodes(const std::vector<std::uint16_t>& codes)
{
    std::string hex;
    for (std::uint16_t code : codes)
        hex += HexCode(code);
    return hex;
}

std::string CodeBytes(const std::vector<std::uint16_t>& codes)
{
    std::string bytes;
    for (std::uint16_t code : codes) {
        bytes.push_back(static_cast<char>(code >> 8));
        bytes.push_back(static_cast<char>(code & 0xFF));
    }
    return bytes;
}

std::vector<PhraseRow> ParsePhraseText(std::string_view bytes, std::string_view source, const CodeTable& big5,
                                       const CodeTable& gb)
{
    std::vector<PhraseRow> rows;
    std::map<std::vector<std::uint16_t>, std::size_t> toGbLine;
    std::map<std::vector<std::uint16_t>, std::size_t> toBig5Line;
    if (!bytes.empty() && bytes.back() != '\n')
        throw TableTextError(source, std::count(bytes.begin(), bytes.end(), '\n') + 1, "the last line has no line end");
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find('\n', start);
        const std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        auto fail = [&](const std::string& what) { throw TableTextError(source, lineNumber, what); };
        if (line.starts_with('#'))
            continue;
        const std::vector<std::string_view> fields = Fields(line);
        if (fields.size() != 5)
            fail("a row has five fields separated by single spaces");
        PhraseRow row;
        const auto big5Codes = ParseCodes(fields[0]);
        const auto gbCodes = ParseCodes(fields[2]);
        if (!big5Codes || !gbCodes)
            fail("codes are groups of four upper-case hex digits");
        row.big5 = *big5Codes;
        row.gb = *gbCodes;
        if (row.big5.size() != row.gb.size())
            fail("the two sides hold different numbers of characters");
        if (row.big5.size() < table::kMinPhraseLength || row.big5.size() > table::kMaxPhraseLength)
            fail("a phrase has " + std::to_string(table::kMinPhraseLength) + " to " +
                 std::to_string(table::kMaxPhraseLength) + " characters");
        const auto big5Text = Characters(row.big5, big5);
        const auto gbText = Characters(row.gb, gb);
        if (!big5Text)
            fail(std::string(fields[0]) + " holds a code that is no CP950 character");
        if (!gbText)
            fail(std::string(fields[2]) + " holds a code that is no GB2312 or GBK character");
        if (fields[1] != *big5Text)
            fail("the characters beside " + std::string(fields[0]) + " are not " + *big5Text);
        if (fields[3] != *gbText)
            fail("the characters beside " + std::string(fields[2]) + " are not " + *gbText);
        row.traditionalToSimplified = fields[4] == "->" || fields[4] == "<->";
        row.simplifiedToTraditional = fields[4] == "<-" || fields[4] == "<->";
        if (!row.traditionalToSimplified && !row.simplifiedToTraditional)
            fail("the last field is ->, <- or <->");
        if (row.traditionalToSimplified) {
            const auto [first, isNew] = toGbLine.emplace(row.big5, lineNumber);
            if (!isNew)
                fail("line " + std::to_string(first->second) + " holds this Traditional phrase already");
        }
        if (row.simplifiedToTraditional) {
            const auto [first, isNew] = toBig5Line.emplace(row.gb, lineNumber);
            if (!isNew)
                fail("line " + std::to_string(first->second) + " holds this Simplified phrase already");
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string FormatPhraseRow(const PhraseRow& row, const CodeTable& big5, const CodeTable& gb)
{
    const auto big5Text = Characters(row.big5, big5);
    const auto gbText = Characters(row.gb, gb);
    if (!big5Text || !gbText)
        throw std::invalid_argument("no characters for " + HexCodes(row.big5) + " or " + HexCodes(row.gb));
    const char* mark = row.traditionalToSimplified ? (row.simplifiedToTraditional ? "<->" : "->") : "<-";
    return HexCodes(row.big5) + " " + *big5Text + " " + HexCodes(row.gb) + " " + *gbText + " " + mark;
}

} // namespace fanjian::data
