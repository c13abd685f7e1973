#include "TableText.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

namespace fanjian::data {

TableTextError::TableTextError(std::string_view source, std::size_t line, const std::string& what)
    : std::runtime_error(std::string(source) + ":" + std::to_string(line) + ": " + what)
{
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

std::optional<std::uint16_t> ParseHexCode(std::string_view hex)
{
    if (hex.size() != 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : hex) {
        if (c >= '0' && c <= '9')
            value = value * 16 + static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            value = value * 16 + static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

namespace {

constexpr std::string_view kNoRowPrefix = "#   no-row ";

std::optional<std::uint16_t> ParseCode(std::string_view hex)
{
    const std::optional<std::uint16_t> value = ParseHexCode(hex);
    // Both code pages begin their double-byte characters with a lead byte of 0x81 or above.
    if (!value || *value < 0x8140)
        return std::nullopt;
    return value;
}

std::optional<CodeRange> ParseRange(std::string_view text)
{
    const std::size_t dots = text.find("..");
    const auto first = ParseCode(text.substr(0, dots));
    const auto last = dots == std::string_view::npos ? first : ParseCode(text.substr(dots + 2));
    if (!first || !last || *last < *first)
        return std::nullopt;
    return CodeRange{*first, *last};
}

} // namespace

TableText ParseTableText(std::string_view bytes, std::string_view source, const CodeTable& big5,
                         const CodeTable& gb)
{
    TableText table;
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::size_t> seen;
    std::map<std::uint16_t, std::size_t> firstBig5Row;
    std::map<std::uint16_t, std::size_t> firstGbRow;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    if (!bytes.empty() && bytes.back() != '\n')
        throw TableTextError(source, std::count(bytes.begin(), bytes.end(), '\n') + 1,
                             "the last line has no line end");
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        const std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        auto fail = [&](const std::string& what) { throw TableTextError(source, lineNumber, what); };

        if (line.starts_with(kNoRowPrefix)) {
            const auto fields = Fields(line.substr(kNoRowPrefix.size()));
            const auto range = fields.size() >= 2 ? ParseRange(fields[1]) : std::nullopt;
            if (!range || (fields[0] != "big5" && fields[0] != "gb"))
                fail("malformed no-row line");
            (fields[0] == "big5" ? table.big5WithoutRow : table.gbWithoutRow).push_back(*range);
            continue;
        }
        if (line.starts_with('#'))
            continue;
        if (line.empty())
            fail("empty line");

        const auto fields = Fields(line);
        if (fields.size() != 5)
            fail("a row has five fields separated by single spaces");
        TableRow row;
        const auto big5Code = ParseCode(fields[0]);
        const auto gbCode = ParseCode(fields[2]);
        if (!big5Code || !gbCode)
            fail("a code is four upper-case hex digits from 8140 to FFFF");
        row.big5 = *big5Code;
        row.gb = *gbCode;
        const auto big5Char = big5.Character(row.big5);
        if (!big5Char)
            fail(std::string(fields[0]) + " is no CP950 character");
        if (fields[1] != ToUtf8(*big5Char))
            fail("the character beside " + std::string(fields[0]) + " is not " + ToUtf8(*big5Char));
        const auto gbChar = gb.Character(row.gb);
        if (!gbChar)
            fail(std::string(fields[2]) + " is no GB2312 or GBK character");
        if (fields[3] != ToUtf8(*gbChar))
            fail("the character beside " + std::string(fields[2]) + " is not " + ToUtf8(*gbChar));
        if (fields[4] == "->" || fields[4] == "<->")
            row.traditionalToSimplified = true;
        if (fields[4] == "<-" || fields[4] == "<->")
            row.simplifiedToTraditional = true;
        if (!row.traditionalToSimplified && !row.simplifiedToTraditional)
            fail("the last field is ->, <- or <->");

        const auto [previous, isNew] = seen.emplace(std::pair(row.big5, row.gb), lineNumber);
        if (!isNew)
            fail("the same row stands on line " + std::to_string(previous->second));
        const auto [firstBig5, big5IsNew] = firstBig5Row.emplace(row.big5, lineNumber);
        if (row.traditionalToSimplified && !big5IsNew)
            fail("a -> row must be the first to hold its Big5 code; line " +
                 std::to_string(firstBig5->second) + " holds it already");
        const auto [firstGb, gbIsNew] = firstGbRow.emplace(row.gb, lineNumber);
        if (row.simplifiedToTraditional && !gbIsNew)
            fail("a <- row must be the first to hold its GB code; line " + std::to_string(firstGb->second) +
                 " holds it already");
        table.rows.push_back(row);
    }
    return table;
}

std::string FormatRow(const TableRow& row, const CodeTable& big5, const CodeTable& gb)
{
    const auto big5Char = big5.Character(row.big5);
    const auto gbChar = gb.Character(row.gb);
    if (!big5Char || !gbChar)
        throw std::invalid_argument("no character for " + HexCode(row.big5) + " or " + HexCode(row.gb));
    const char* mark = row.traditionalToSimplified ? (row.simplifiedToTraditional ? "<->" : "->") : "<-";
    return HexCode(row.big5) + " " + ToUtf8(*big5Char) + " " + HexCode(row.gb) + " " + ToUtf8(*gbChar) + " " + mark;
}

std::string FormatWithoutRow(std::string_view column, CodeRange range, std::string_view note)
{
    std::string line(kNoRowPrefix);
    line += column;
    line += ' ';
    line += HexCode(range.first);
    if (range.last != range.first)
        line += ".." + HexCode(range.last);
    if (!note.empty()) {
        line += ' ';
        line += note;
    }
    return line;
}

} // namespace fanjian::data
