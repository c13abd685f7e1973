// The quality report of the shipped dictionary. Converts real running text through mervik.pcx
// with the program's own LineConverter and compares every Han character of the result:
//
//   1. with OpenCC (t2s for Traditional -> Simplified, s2tw for Simplified -> Traditional) on the
//      benchmark corpus (bench/make_corpus.sh): how close the table comes to OpenCC;
//   2. with what people wrote, on the text sets of bench/make_taiwan_text.sh: Traditional text
//      written in Taiwan, made Simplified by OpenCC's t2s and written in GB2312, converted back
//      to Big5 and compared with the original, beside OpenCC's s2tw of the same Simplified text;
//      and that Traditional text converted to Simplified, compared with OpenCC's t2s.
//
// Each figure is given for the shipped file (phrases and characters, as the program converts),
// for a file without the phrase table (by character: the MERVIK table alone), and for a reference
// maximum matching over the shipped file's tables (at each place the longest phrase of the
// direction, else the character's row) that shows what the phrases can do, and that the
// converter must equal once it converts by phrase.
//
// Usage: quality_report <program folder holding mervik.pcx> <a mervik.pcx without phrases> <corpus folder>
//                       [<text sets folder>]
// Exits 1 when a figure of the shipped file misses its target.

#include "conversion/LineConverter.h"
#include "conversion/ProgressView.h"
#include "dictionary/CharacterDictionary.h"

#include "CodePages.h"
#include "Files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

using namespace fanjian;
using namespace fanjian::data;

namespace {

std::vector<std::u32string> Lines(const std::string& file)
{
    const std::string bytes = ReadFile(file);
    std::vector<std::u32string> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(ToCodePoints(std::string_view(bytes).substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

// Greedy forward maximum matching over a dictionary's phrases and characters, written plainly.
class ReferenceMatcher {
public:
    ReferenceMatcher(const CharacterDictionary& dictionary, ConversionDirection direction)
        : answers_(dictionary.Answers(direction))
    {
        const PhraseTable& phrases = dictionary.Phrases(direction);
        longest_ = phrases.LongestSource();
        for (std::size_t i = 0; i < phrases.size(); ++i)
            phrases_.emplace(std::u16string(phrases.Source(i).begin(), phrases.Source(i).end()),
                             std::u16string(phrases.Target(i).begin(), phrases.Target(i).end()));
    }

    // The line's double-byte characters (a byte 0x81..0xFE and the byte after it) converted;
    // every other byte as it is.
    std::string Convert(std::string_view line) const
    {
        std::string out;
        for (std::size_t i = 0; i < line.size();) {
            std::u16string run; // the double-byte characters from here on
            const std::size_t most = std::max<std::size_t>(longest_, 1);
            for (std::size_t j = i; j + 1 < line.size() && IsLead(line[j]) && run.size() < most; j += 2)
                run.push_back(static_cast<char16_t>(static_cast<unsigned char>(line[j]) << 8 |
                                                    static_cast<unsigned char>(line[j + 1])));
            std::size_t length = run.size();
            for (; length >= 2; --length)
                if (const auto it = phrases_.find(run.substr(0, length)); it != phrases_.end()) {
                    for (char16_t code : it->second)
                        out += {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
                    break;
                }
            if (length >= 2) {
                i += 2 * length;
            } else if (!run.empty()) {
                const std::uint16_t code = run[0];
                const std::uint16_t answer = answers_.Lookup(code).value_or(code);
                out += {static_cast<char>(answer >> 8), static_cast<char>(answer & 0xFF)};
                i += 2;
            } else {
                out += line[i++];
            }
        }
        return out;
    }

private:
    static bool IsLead(char byte)
    {
        return static_cast<unsigned char>(byte) >= 0x81 && static_cast<unsigned char>(byte) <= 0xFE;
    }

    CharacterDictionary::DirectionAnswers answers_;
    std::unordered_map<std::u16string, std::u16string> phrases_;
    std::size_t longest_ = 0;
};

// The subjects measured: the shipped file through the LineConverter, a file without phrases
// through the LineConverter, the reference maximum matching, and OpenCC's own answer.
// The shipped file, the same text in UTF-8 through it, by character, the reference matching, OpenCC.
enum Subject { kShipped, kUtf8, kByCharacter, kReference, kOpenCC, kSubjects };

struct Figures {
    std::uint64_t lines = 0;
    std::uint64_t linesLeftOut = 0;     // OpenCC changed the length, or the source code page lacks a Han character
    std::uint64_t hanLeftOut = 0;       // Han characters in those lines
    std::uint64_t hanOutsideSource = 0; // Han characters the source code page lacks, in lines kept
    std::uint64_t han = 0;
    std::uint64_t agreeing[kSubjects] = {};
    // Disagreements of the shipped file where the reference's character is not in the target code page.
    std::uint64_t referenceOutsideTarget = 0;
    std::map<char32_t, std::uint64_t> unconverted;
    std::map<std::tuple<char32_t, char32_t, char32_t>, std::uint64_t> disagreements; // of the shipped file

    double Share(Subject subject) const
    {
        return han ? 100.0 * static_cast<double>(agreeing[subject]) / static_cast<double>(han) : 0.0;
    }
};

struct Job {
    ConversionDirection direction;
    std::string source;    // the text converted
    std::string reference; // what it is held against
    std::string opencc;    // OpenCC's own conversion of the source, held against the reference; "" for none
    bool gb2312Only;       // the source is written in GB2312 proper, not GBK
    bool dropLines;        // a line holding a Han character the source code page lacks is left out
};

struct Dictionaries {
    const CharacterDictionary& shipped;
    const CharacterDictionary& byCharacter;
};

Figures Measure(const Job& job, const Dictionaries& dictionaries, const CodeTable& sourcePage,
                const CodeTable& targetPage)
{
    const auto source = Lines(job.source);
    const auto reference = Lines(job.reference);
    const auto opencc = job.opencc.empty() ? std::vector<std::u32string>() : Lines(job.opencc);
    if (source.size() != reference.size() || (!job.opencc.empty() && opencc.size() != source.size()))
        throw std::runtime_error(job.reference + " or " + job.opencc + " has not as many lines as " + job.source);

    SilentProgressView view;
    LineConverter shipped(job.direction, dictionaries.shipped, view);
    LineConverter utf8(job.direction, dictionaries.shipped, view);
    utf8.UseEncoding(TextEncoding::Utf8);
    LineConverter byCharacter(job.direction, dictionaries.byCharacter, view);
    const ReferenceMatcher matcher(dictionaries.shipped, job.direction);
    const auto decode = [&](const std::string& bytes) {
        std::u32string out;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto lead = static_cast<unsigned char>(bytes[i]);
            if (lead >= 0x81 && i + 1 < bytes.size()) {
                const auto code = static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(bytes[++i]));
                out.push_back(targetPage.Character(code).value_or(U'\uFFFD'));
            } else {
                out.push_back(lead);
            }
        }
        return out;
    };

    Figures figures;
    for (std::size_t n = 0; n < source.size(); ++n) {
        ++figures.lines;
        const std::u32string& chars = source[n];
        const auto hanCount = static_cast<std::uint64_t>(std::count_if(chars.begin(), chars.end(), IsHan));
        const auto leaveOut = [&] {
            ++figures.linesLeftOut;
            figures.hanLeftOut += hanCount;
        };
        if (reference[n].size() != chars.size() || (!opencc.empty() && opencc[n].size() != chars.size())) {
            leaveOut();
            continue;
        }
        // The line in the source code page, one character for each character; what the code page
        // cannot hold becomes '?' and is left out of the figures (or the line is, for a Han one).
        std::string bytes;
        std::u32string utf8Chars; // the same line, what the code page cannot hold as '?' too
        std::vector<bool> measured(chars.size(), false);
        std::uint64_t outside = 0;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            const char32_t c = chars[i];
            const auto code = c < 0x80 ? std::nullopt : sourcePage.Code(c);
            if (c < 0x80) {
                bytes.push_back(static_cast<char>(c));
                utf8Chars.push_back(c);
            } else if (code && (!job.gb2312Only || IsGb2312Code(*code))) {
                bytes += {static_cast<char>(*code >> 8), static_cast<char>(*code & 0xFF)};
                utf8Chars.push_back(c);
                measured[i] = IsHan(c);
            } else {
                bytes.push_back('?');
                utf8Chars.push_back(U'?');
                outside += IsHan(c) ? 1 : 0;
            }
        }
        if (outside > 0 && job.dropLines) {
            leaveOut();
            continue;
        }
        const std::u32string results[] = {decode(shipped.ConvertLine(bytes)),
                                          ToCodePoints(utf8.ConvertLine(ToUtf8(utf8Chars))),
                                          decode(byCharacter.ConvertLine(bytes)), decode(matcher.Convert(bytes))};
        const auto sameLength = [&](const std::u32string& result) { return result.size() == chars.size(); };
        if (!std::all_of(std::begin(results), std::end(results), sameLength)) {
            leaveOut(); // a rewritten declaration changed the length
            continue;
        }
        figures.hanOutsideSource += outside;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (!measured[i])
                continue;
            ++figures.han;
            for (int subject : {kShipped, kUtf8, kByCharacter, kReference})
                figures.agreeing[subject] += results[subject][i] == reference[n][i] ? 1 : 0;
            if (!opencc.empty())
                figures.agreeing[kOpenCC] += opencc[n][i] == reference[n][i] ? 1 : 0;
            if (!dictionaries.shipped.Lookup(job.direction, *sourcePage.Code(chars[i])))
                ++figures.unconverted[chars[i]];
            if (results[kShipped][i] != reference[n][i]) {
                ++figures.disagreements[{chars[i], results[kShipped][i], reference[n][i]}];
                if (!targetPage.Code(reference[n][i]))
                    ++figures.referenceOutsideTarget;
            }
        }
    }
    return figures;
}

void PrintDisagreements(const Figures& f, std::size_t count, const char* against)
{
    std::vector<std::pair<std::uint64_t, std::tuple<char32_t, char32_t, char32_t>>> ranked;
    for (const auto& [key, n] : f.disagreements)
        ranked.emplace_back(n, key);
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    std::string list;
    for (std::size_t i = 0; i < ranked.size() && i < count; ++i) {
        const auto& [source, ours, theirs] = ranked[i].second;
        list += "  " + ToUtf8(source) + "→" + ToUtf8(ours) + "(" + ToUtf8(theirs) + ")" +
                std::to_string(ranked[i].first);
    }
    std::printf("    most frequent differences (source→fanjian(%s) count):%s\n", against, list.c_str());
}

// The corpus against OpenCC, with the detail of the table's misses.
bool ReportCorpus(const char* title, const char* openccName, double target, const Figures& f)
{
    const bool meets = f.Share(kShipped) >= target;
    std::printf("\n%s, against OpenCC %s\n", title, openccName);
    std::printf("  lines: %llu; left out: %llu lines whose length OpenCC changed (%llu Han characters),"
                " %llu Han characters the source code page lacks\n",
                static_cast<unsigned long long>(f.lines), static_cast<unsigned long long>(f.linesLeftOut),
                static_cast<unsigned long long>(f.hanLeftOut), static_cast<unsigned long long>(f.hanOutsideSource));
    std::printf("  Han characters compared: %llu; agreeing: mervik.pcx %.3f %% (target %.2f %%: %s),"
                " in UTF-8 %.3f %%, by character %.3f %%, maximum matching %.3f %%\n",
                static_cast<unsigned long long>(f.han), f.Share(kShipped), target, meets ? "met" : "MISSED",
                f.Share(kUtf8), f.Share(kByCharacter), f.Share(kReference));
    std::printf("  disagreements: %llu, of which %llu where OpenCC's character is not in the target code page\n",
                static_cast<unsigned long long>(f.han - f.agreeing[kShipped]),
                static_cast<unsigned long long>(f.referenceOutsideTarget));
    std::uint64_t unconverted = 0;
    std::string list;
    for (const auto& [c, count] : f.unconverted) {
        unconverted += count;
        list.append(" ").append(ToUtf8(c)).append("×").append(std::to_string(count));
    }
    std::printf("  left unconverted (no row): %llu occurrences of %zu characters%s%s\n",
                static_cast<unsigned long long>(unconverted), f.unconverted.size(), list.empty() ? "" : ":",
                list.c_str());
    PrintDisagreements(f, 20, "OpenCC");
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
            big5List.append(" ").append(HexCode(code)).append(" ").append(ToUtf8(c));
            if (gb.Code(c))
                big5List.append(" (has a GB form!)");
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
    std::printf("  phrases: %zu Traditional -> Simplified, %zu Simplified -> Traditional\n",
                dictionary.Phrases(ConversionDirection::TraditionalToSimplified).size(),
                dictionary.Phrases(ConversionDirection::SimplifiedToTraditional).size());
    return gbHanMissingWithForm == 0;
}

// The text sets: the round trip beside OpenCC, and Traditional -> Simplified against OpenCC.
bool ReportTextSets(const std::string& folder, const Dictionaries& dictionaries, const CodeTable& big5,
                    const CodeTable& gb)
{
    std::vector<std::string> sets;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".t2s.s2tw.txt"))
            sets.push_back(name.substr(0, name.size() - std::string_view(".t2s.s2tw.txt").size()));
    }
    std::sort(sets.begin(), sets.end());
    bool met = true;
    std::printf("\nRound trip: Traditional text written in Taiwan -> OpenCC t2s -> GB2312 -> Big5, compared with\n"
                "what was written, Han characters (target: at or above OpenCC s2tw, and 99.8 %%)\n");
    std::printf("  %-18s %10s %12s %10s %10s %12s %10s %10s\n", "set", "Han", "left out", "mervik.pcx", "in UTF-8",
                "by character", "max match", "OpenCC");
    std::vector<std::pair<std::string, Figures>> roundTrips;
    for (const std::string& set : sets) {
        const std::string base = folder + "/" + set;
        const Figures f = Measure({ConversionDirection::SimplifiedToTraditional, base + ".t2s.txt", base + ".txt",
                                   base + ".t2s.s2tw.txt", true, true},
                                  dictionaries, gb, big5);
        const bool meets = f.Share(kShipped) >= std::max(99.8, f.Share(kOpenCC));
        met = met && meets;
        std::printf("  %-18s %10llu %5llu lines %8.3f %% %8.3f %% %10.3f %% %10.3f %% %8.3f %%  %s\n", set.c_str(),
                    static_cast<unsigned long long>(f.han), static_cast<unsigned long long>(f.linesLeftOut),
                    f.Share(kShipped), f.Share(kUtf8), f.Share(kByCharacter), f.Share(kReference),
                    f.Share(kOpenCC), meets ? "met" : "MISSED");
        roundTrips.emplace_back(set, f);
    }
    for (const auto& [set, f] : roundTrips) {
        std::printf("  %s:", set.c_str());
        PrintDisagreements(f, 15, "written");
    }
    std::printf("\nTraditional -> Simplified on the same text, against OpenCC t2s (target 99.99 %%)\n");
    std::printf("  %-18s %10s %12s %10s %10s %12s %10s\n", "set", "Han", "left out", "mervik.pcx", "in UTF-8",
                "by character", "max match");
    for (const std::string& set : sets) {
        const std::string base = folder + "/" + set;
        const Figures f = Measure({ConversionDirection::TraditionalToSimplified, base + ".txt", base + ".t2s.txt", "",
                                   false, true},
                                  dictionaries, big5, gb);
        const bool meets = f.Share(kShipped) >= 99.99;
        met = met && meets;
        std::printf("  %-18s %10llu %5llu lines %8.4f %% %8.4f %% %10.4f %% %10.4f %%  %s\n", set.c_str(),
                    static_cast<unsigned long long>(f.han), static_cast<unsigned long long>(f.linesLeftOut),
                    f.Share(kShipped), f.Share(kUtf8), f.Share(kByCharacter), f.Share(kReference),
                    meets ? "met" : "MISSED");
    }
    return met;
}

int Run(int argc, char** argv)
{
    CharacterDictionary shipped, byCharacter;
    shipped.Open(argv[1]);
    byCharacter.OpenFile(argv[2]);
    if (!byCharacter.Phrases(ConversionDirection::SimplifiedToTraditional).empty())
        throw std::runtime_error(std::string(argv[2]) + " holds phrases; the report needs a file without them");
    const Dictionaries dictionaries{shipped, byCharacter};
    const CodeTable big5 = LoadBig5();
    const CodeTable gb = LoadGb();
    std::printf("Dictionary: %s (without phrases: %s)\n", CharacterDictionary::FilePath(argv[1]).c_str(), argv[2]);
    bool met = ReportCoverage(shipped, big5, gb);

    const std::string corpus = argv[3];
    met = ReportCorpus("Traditional -> Simplified (traditional.txt)", "t2s", 99.99,
                       Measure({ConversionDirection::TraditionalToSimplified, corpus + "/traditional.txt",
                                corpus + "/traditional.t2s.txt", "", false, false},
                               dictionaries, big5, gb)) &&
          met;
    met = ReportCorpus("Simplified -> Traditional (simplified.txt)", "s2tw", 99.3,
                       Measure({ConversionDirection::SimplifiedToTraditional, corpus + "/simplified.txt",
                                corpus + "/simplified.s2tw.txt", "", false, false},
                               dictionaries, gb, big5)) &&
          met;
    if (argc > 4)
        met = ReportTextSets(argv[4], dictionaries, big5, gb) && met;
    return met ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fputs("usage: quality_report <program folder> <mervik.pcx without phrases> <corpus folder>"
                   " [<text sets folder>]\n",
                   stderr);
        return 2;
    }
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quality_report: %s\n", e.what());
        return 2;
    }
}
