// The quality report of the shipped dictionary: converts real Traditional and Simplified running
// text through mervik.pcx with the program's own LineConverter and holds every Han character of
// the result against OpenCC's conversion of the same text (t2s for Traditional -> Simplified,
// s2tw for Simplified -> Traditional). Prints the share that agrees, the characters left
// unconverted and the most frequent disagreements. The corpus comes from bench/make_corpus.sh.
//
// Usage: quality_report <program folder holding mervik.pcx> <corpus folder>
// Exits 1 when a figure misses its target.

#include "conversion/LineConverter.h"
#include "conversion/ProgressView.h"
#include "dictionary/CharacterDictionary.h"

#include "CodePages.h"
#include "Files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

using namespace fanjian;
using namespace fanjian::data;

namespace {


std::vector<std::string_view> Lines(std::string_view bytes)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

struct Figures {
    std::uint64_t lines = 0;
    std::uint64_t linesSkipped = 0;       // OpenCC changed the line's length
    std::uint64_t hanSkipped = 0;         // Han characters in those lines
    std::uint64_t hanOutsideSource = 0;   // Han characters the source code page cannot hold
    std::uint64_t han = 0;
    std::uint64_t agreeing = 0;
    std::uint64_t referenceOutsideTarget = 0; // disagreements where OpenCC's form is not in the target code page
    std::map<char32_t, std::uint64_t> unconverted;
    std::map<std::tuple<char32_t, char32_t, char32_t>, std::uint64_t> disagreements;
};

struct Direction {
    ConversionDirection direction;
    const char* title;
    const char* source;
    const char* reference;
    const char* openccName;
    double target; // per cent
};

Figures Measure(const Direction& how, const std::string& corpus, const CharacterDictionary& dictionary,
                const CodeTable& sourcePage, const CodeTable& targetPage)
{
    const std::string sourceText = ReadFile(corpus + "/" + how.source);
    const std::string referenceText = ReadFile(corpus + "/" + how.reference);
    const auto sourceLines = Lines(sourceText);
    const auto referenceLines = Lines(referenceText);
    if (sourceLines.size() != referenceLines.size())
        throw std::runtime_error(std::string(how.reference) + " has not as many lines as " + how.source);

    SilentProgressView view;
    LineConverter converter(how.direction, dictionary, view);
    Figures figures;
    for (std::size_t n = 0; n < sourceLines.size(); ++n) {
        ++figures.lines;
        const std::u32string chars = ToCodePoints(sourceLines[n]);
        const std::u32string reference = ToCodePoints(referenceLines[n]);
        const auto hanCount = static_cast<std::uint64_t>(std::count_if(chars.begin(), chars.end(), IsHan));
        if (chars.size() != reference.size()) {
            ++figures.linesSkipped;
            figures.hanSkipped += hanCount;
            continue;
        }
        // The line in the source code page, one character for each character; what the code
        // page cannot hold becomes '?' and is left out of the figures.
        std::string bytes;
        std::vector<bool> measured(chars.size(), false);
        for (std::size_t i = 0; i < chars.size(); ++i) {
            const char32_t c = chars[i];
            if (c < 0x80) {
                bytes.push_back(static_cast<char>(c));
            } else if (const auto code = sourcePage.Code(c)) {
                bytes.push_back(static_cast<char>(*code >> 8));
                bytes.push_back(static_cast<char>(*code & 0xFF));
                measured[i] = IsHan(c);
            } else {
                bytes.push_back('?');
                if (IsHan(c))
                    ++figures.hanOutsideSource;
            }
        }
        const std::string converted = converter.ConvertLine(bytes);
        // Back into characters, through the target code page.
        std::u32string result;
        for (std::size_t i = 0; i < converted.size(); ++i) {
            const auto lead = static_cast<unsigned char>(converted[i]);
            if (lead >= 0x81 && i + 1 < converted.size()) {
                const auto code = static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(converted[++i]));
                result.push_back(targetPage.Character(code).value_or(U'\uFFFD'));
            } else {
                result.push_back(lead);
            }
        }
        if (result.size() != chars.size()) { // a rewritten declaration changed the length
            ++figures.linesSkipped;
            figures.hanSkipped += hanCount;
            continue;
        }
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (!measured[i])
                continue;
            ++figures.han;
            if (!dictionary.Lookup(how.direction, *sourcePage.Code(chars[i])))
                ++figures.unconverted[chars[i]];
            if (result[i] == reference[i]) {
                ++figures.agreeing;
                continue;
            }
            ++figures.disagreements[{chars[i], result[i], reference[i]}];
            if (!targetPage.Code(reference[i]))
                ++figures.referenceOutsideTarget;
        }
    }
    return figures;
}

bool Report(const Direction& how, const Figures& f)
{
    const double share = f.han ? 100.0 * static_cast<double>(f.agreeing) / static_cast<double>(f.han) : 0.0;
    const bool meets = share >= how.target;
    std::printf("\n%s (%s against OpenCC %s)\n", how.title, how.source, how.openccName);
    std::printf("  lines: %llu; left out: %llu lines whose length OpenCC changed (%llu Han characters),"
                " %llu Han characters the source code page lacks\n",
                static_cast<unsigned long long>(f.lines), static_cast<unsigned long long>(f.linesSkipped),
                static_cast<unsigned long long>(f.hanSkipped), static_cast<unsigned long long>(f.hanOutsideSource));
    std::printf("  Han characters compared: %llu, agreeing: %llu = %.3f %% (target %.2f %%: %s)\n",
                static_cast<unsigned long long>(f.han), static_cast<unsigned long long>(f.agreeing), share,
                how.target, meets ? "met" : "MISSED");
    std::printf("  disagreements: %llu, of which %llu where OpenCC's character is not in the target code page\n",
                static_cast<unsigned long long>(f.han - f.agreeing),
                static_cast<unsigned long long>(f.referenceOutsideTarget));

    std::uint64_t unconverted = 0;
    std::string list;
    for (const auto& [c, count] : f.unconverted) {
        unconverted += count;
        list += " " + ToUtf8(c) + "×" + std::to_string(count);
    }
    std::printf("  left unconverted (no row): %llu occurrences of %zu characters%s%s\n",
                static_cast<unsigned long long>(unconverted), f.unconverted.size(), list.empty() ? "" : ":",
                list.c_str());

    std::vector<std::pair<std::uint64_t, std::tuple<char32_t, char32_t, char32_t>>> ranked;
    for (const auto& [key, count] : f.disagreements)
        ranked.emplace_back(count, key);
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::printf("  20 most frequent disagreements (source -> table, OpenCC):\n");
    for (std::size_t i = 0; i < ranked.size() && i < 20; ++i) {
        const auto& [source, ours, opencc] = ranked[i].second;
        std::printf("    %6llu  %s -> %s, OpenCC %s\n", static_cast<unsigned long long>(ranked[i].first),
                    ToUtf8(source).c_str(), ToUtf8(ours).c_str(), ToUtf8(opencc).c_str());
    }
    return meets;
}

// Rows the coverage rules ask for, seen through the shipped file.
bool ReportCoverage(const CharacterDictionary& dictionary, const CodeTable& big5, const CodeTable& gb)
{
    std::size_t big5Missing = 0;
    std::size_t big5UserDefined = 0;
    std::string big5List;
    for (const auto& [code, c] : big5.Characters()) {
        if (dictionary.Lookup(ConversionDirection::TraditionalToSimplified, code))
            continue;
        if (c >= 0xE000 && c <= 0xF8FF) {
            ++big5UserDefined;
        } else {
            ++big5Missing;
            big5List += " " + HexCode(code) + " " + ToUtf8(c) + (gb.Code(c) ? " (has a GB form!)" : "");
        }
    }
    std::size_t gbHanMissing = 0;
    std::size_t gbHanMissingWithForm = 0;
    for (const auto& [code, c] : gb.Characters()) {
        if (!IsGb2312Code(code) || !IsHan(c) || dictionary.Lookup(ConversionDirection::SimplifiedToTraditional, code))
            continue;
        ++gbHanMissing;
        if (big5.Code(c))
            ++gbHanMissingWithForm;
    }
    std::printf("Coverage of the shipped file\n");
    std::printf("  CP950 codes without a row: %zu in the user-defined area, %zu others:%s\n", big5UserDefined,
                big5Missing, big5List.c_str());
    std::printf("  GB2312 Han characters without a row: %zu, of which CP950 holds %zu (target 0: %s)\n",
                gbHanMissing, gbHanMissingWithForm, gbHanMissingWithForm == 0 ? "met" : "MISSED");
    return gbHanMissingWithForm == 0;
}

int Run(const std::string& programDir, const std::string& corpus)
{
    CharacterDictionary dictionary;
    dictionary.Open(programDir);
    const CodeTable big5 = LoadBig5();
    const CodeTable gb = LoadGb();
    std::printf("Dictionary: %s\n", CharacterDictionary::FilePath(programDir).c_str());
    bool met = ReportCoverage(dictionary, big5, gb);

    const Direction toSimplified{ConversionDirection::TraditionalToSimplified,
                                 "Traditional -> Simplified", "traditional.txt", "traditional.t2s.txt", "t2s", 99.98};
    const Direction toTraditional{ConversionDirection::SimplifiedToTraditional,
                                  "Simplified -> Traditional", "simplified.txt", "simplified.s2tw.txt", "s2tw", 99.3};
    met = Report(toSimplified, Measure(toSimplified, corpus, dictionary, big5, gb)) && met;
    met = Report(toTraditional, Measure(toTraditional, corpus, dictionary, gb, big5)) && met;
    return met ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: quality_report <program folder> <corpus folder>\n", stderr);
        return 2;
    }
    try {
        return Run(argv[1], argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quality_report: %s\n", e.what());
        return 2;
    }
}
