#include "Sources.h"

#include "CodePages.h"

#include <charconv>
#include <optional>

namespace fanjian::data {

SourceError::SourceError(std::string_view source, std::size_t line, const std::string& what)
    : std::runtime_error(std::string(source) + ":" + std::to_string(line) + ": " + what)
{
}

namespace {

// Calls `take(line, number)` for every line; the last line may lack its line end.
template <typename Take>
void ForEachLine(std::string_view bytes, Take take)
{
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
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

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end != start)
            parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return parts;
}

// The single character of `text`, or nothing when it holds none or several (or is no UTF-8).
std::optional<char32_t> SingleCharacter(std::string_view text)
{
    try {
        const std::u32string chars = ToCodePoints(text);
        if (chars.size() == 1)
            return chars[0];
    } catch (const std::invalid_argument&) {
    }
    return std::nullopt;
}

// "U+4E7E" or "U+4E7E<kMatthews" -> U+4E7E.
std::optional<char32_t> ParseUnihanCodePoint(std::string_view text)
{
    text = text.substr(0, text.find('<'));
    if (!text.starts_with("U+") || text.size() < 6 || text.size() > 8)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<char32_t>(value);
}

} // namespace

Candidates ParseOpenccCharacters(std::string_view bytes, std::string_view source)
{
    Candidates table;
    ForEachLine(bytes, [&](std::string_view line, std::size_t number) {
        if (line.empty())
            return;
        const std::size_t tab = line.find('\t');
        const auto key = SingleCharacter(line.substr(0, tab));
        if (tab == std::string_view::npos || !key)
            throw SourceError(source, number, "expected one character, a tab and its candidates");
        std::vector<char32_t> candidates;
        for (std::string_view part : Split(line.substr(tab + 1), ' ')) {
            const auto candidate = SingleCharacter(part);
            if (!candidate)
                throw SourceError(source, number, "a candidate is not a single character");
            candidates.push_back(*candidate);
        }
        if (candidates.empty())
            throw SourceError(source, number, "no candidate");
        if (!table.emplace(*key, std::move(candidates)).second)
            throw SourceError(source, number, "the character has an earlier entry");
    });
    return table;
}

UnihanVariants ParseUnihanVariants(std::string_view bytes, std::string_view source)
{
    UnihanVariants variants;
    ForEachLine(bytes, [&](std::string_view line, std::size_t number) {
        if (line.empty() || line.starts_with('#'))
            return;
        const auto fields = Split(line, '\t');
        if (fields.size() != 3)
            throw SourceError(source, number, "expected code point, field and value");
        Candidates* target = fields[1] == "kSimplifiedVariant"    ? &variants.simplified
                             : fields[1] == "kTraditionalVariant" ? &variants.traditional
                             : fields[1] == "kSemanticVariant"    ? &variants.semantic
                                                                  : nullptr;
        if (!target)
            return;
        const auto key = ParseUnihanCodePoint(fields[0]);
        if (!key)
            throw SourceError(source, number, "malformed code point");
        auto& values = (*target)[*key];
        for (std::string_view value : Split(fields[2], ' ')) {
            const auto c = ParseUnihanCodePoint(value);
            if (!c)
                throw SourceError(source, number, "malformed variant");
            values.push_back(*c);
        }
    });
    return variants;
}

std::vector<Override> ParseOverrides(std::string_view bytes, std::string_view source)
{
    std::vector<Override> overrides;
    ForEachLine(bytes, [&](std::string_view line, std::size_t number) {
        if (line.empty() || line.starts_with('#'))
            return;
        const auto fields = Split(line, ' ');
        Override entry;
        entry.line = number;
        if (fields.size() < 4 || (fields[0] != "T2S" && fields[0] != "S2T"))
            throw SourceError(source, number, "expected T2S or S2T, two characters and the reason");
        entry.traditionalToSimplified = fields[0] == "T2S";
        const auto from = SingleCharacter(fields[1]);
        const auto to = SingleCharacter(fields[2]);
        if (!from || !to)
            throw SourceError(source, number, "expected two single characters");
        entry.from = *from;
        entry.to = *to;
        entry.reason = std::string(line.substr(static_cast<std::size_t>(fields[3].data() - line.data())));
        overrides.push_back(std::move(entry));
    });
    return overrides;
}

} // namespace fanjian::data
