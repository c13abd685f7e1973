// Rebuilds data/mervik.txt from OpenCC's character tables, Unihan's variants, glibc's code pages
// and data/overrides.txt, and data/phrases.txt from OpenCC's phrase tables and libchewing's
// phrases. Run through the regenerate-dictionary target; see data/README.md.

#include "CodePages.h"
#include "Files.h"
#include "PhraseBuilder.h"
#include "PhraseText.h"
#include "Sources.h"
#include "TableBuilder.h"
#include "TableText.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace fanjian::data;

namespace {

constexpr std::string_view kUsage =
    "usage: generate_dictionary --ts TSCharacters.txt --st STCharacters.txt --tw TWVariants.txt\n"
    "         --unihan Unihan_Variants.txt --overrides overrides.txt --out mervik.txt\n"
    "         --st-phrases STPhrases.txt --ts-phrases TSPhrases.txt\n"
    "         --chewing-dictionary dictionary.dat --chewing-tree index_tree.dat --phrases-out phrases.txt\n"
    "         [--opencc-version V] [--unihan-version V] [--glibc-version V] [--chewing-version V]\n";

// How many codes the ranges hold, and how many of those are Han characters.
std::pair<std::size_t, std::size_t> CountWithoutRow(const std::vector<WithoutRow>& list, const CodeTable& table)
{
    std::size_t codes = 0;
    std::size_t han = 0;
    for (const auto& entry : list) {
        const auto& characters = table.Characters();
        for (auto it = characters.lower_bound(entry.range.first);
             it != characters.end() && it->first <= entry.range.last; ++it) {
            ++codes;
            han += IsHan(it->second) ? 1 : 0;
        }
    }
    return {codes, han};
}

std::string Header(const std::map<std::string, std::string>& options, const BuiltTable& built, const CodeTable& gb)
{
    auto version = [&](const std::string& name) {
        const auto it = options.find(name);
        return it == options.end() || it->second.empty() ? std::string() : " " + it->second;
    };
    std::string text;
    auto line = [&](std::string_view s) {
        text += s;
        text += '\n';
    };
    line("# mervik.txt: fanjian's Big5 <-> GB code table, compiled at build time into \"mervik.pcx\"");
    line("# (SQLite, table MERVIK, numeric columns big5 and gb, one row per line below, in this order).");
    line("# Generated: do not edit rows by hand. Change data/overrides.txt (or the generator) and run");
    line("#   cmake --build <build-dir> --target regenerate-dictionary");
    line("#");
    line("# Sources and licences (the table is derived from them and carries their terms):");
    line("#   OpenCC character tables TSCharacters, STCharacters and TWVariants, Debian package");
    line("#     libopencc-data" + version("opencc-version") + ": Apache License 2.0.");
    line("#   Unihan database, Unihan_Variants.txt (kSimplified-, kTraditional-, kSemanticVariant), Debian");
    line("#     package unicode-data" + version("unihan-version") + ": Unicode, Inc. License Agreement - Data Files and Software.");
    line("#   glibc iconv: BIG5 (CP950), EUC-CN (GB2312), GBK and the direct GB2312 <-> Big5 converter");
    line("#     GBBIG5, Debian package libc6" + version("glibc-version") + ": LGPL 2.1 or later.");
    line("#   Reviewed overrides with their reasons: data/overrides.txt.");
    line("#");
    line("# A row: Big5 code and character, GB code and character (GB2312, or GBK where GB2312 has no");
    line("# form), and the lookups it is meant to answer: -> Traditional to Simplified, <- Simplified");
    line("# to Traditional, <-> both.");
    line("#   Traditional -> Simplified, for every CP950 character: where OpenCC has candidates, the");
    line("#     first in GB2312, else the first in GBK, else likewise among Unihan's simplified");
    line("#     variants; where OpenCC has none (it keeps the character), the character itself if in");
    line("#     GB2312, else Unihan's first simplified variant in GB2312; then the character itself in");
    line("#     GBK. A symbol takes the same symbol in GB, else glibc's direct best fit.");
    line("#   Simplified -> Traditional, for every GB2312 and GBK character that has a CP950 form: for");
    line("#     each of OpenCC's candidates in turn (the character itself when it has none) its Taiwan");
    line("#     form (TWVariants: 裡, 著, 為, 啟, 眾, 群, 麵) if in CP950, else the candidate if in CP950;");
    line("#     then Unihan's traditional variants likewise; then the character itself; for GBK");
    line("#     beyond GB2312, Unihan's semantic variants (衞 衛); then the first CP950 character that");
    line("#     simplifies to it (鶿 for 鹚, whose OpenCC form 鷀 CP950 lacks). A symbol takes the same");
    line("#     symbol in CP950, else glibc's direct best fit.");
    line("#   Reviewed overrides (data/overrides.txt) replace a pair or add one. Where CP950 lacks every");
    line("#     form above, Big5 text may write a GB2312 character with a variant (釬 for 钎, whose");
    line("#     OpenCC form 釺 CP950 lacks); an override gives that row, and only with a variant that");
    line("#     glibc's direct converter or Unihan (traditional or semantic variants of OpenCC's form)");
    line("#     names. Where the only neighbours are other words (吲, 哌, 伲, the radicals 亻 氵) there");
    line("#     is no row.");
    line("# Order: for every Big5 code the first row holding it is its -> row, and for every GB code");
    line("# the first row holding it is its <- row; a row waits for the rows that must precede it and");
    line("# otherwise rows go by Big5 code, then GB code. The rules above yield no cycle (the generator");
    line("# fails if they ever do).");
    line("#");
    line("# Pairs by origin:");
    for (const auto& [how, count] : built.counts)
        line("#   " + how + ": " + std::to_string(count));
    line("# Rows: " + std::to_string(built.rows.size()));
    line("#");
    line("# CP950 codes without a row. glibc's BIG5 decodes no code with a lead byte below A1 or above");
    line("# F9 (8140..A0FE and FA40..FEFE, CP950's other user-defined areas), nor A3C0..A3FE but A3E1;");
    line("# those have no row. Of the codes it decodes, these have none:");
    for (const auto& entry : built.big5WithoutRow)
        line(FormatWithoutRow("big5", entry.range, entry.note));
    const auto [gbCodes, gbHan] = CountWithoutRow(built.gbWithoutRow, gb);
    line("# GB2312 codes without a row: " + std::to_string(gbCodes) + ", " + std::to_string(gbHan) +
         " of them Han characters. GBK codes beyond");
    line("# GB2312 have a row only where CP950 has a form.");
    for (const auto& entry : built.gbWithoutRow)
        line(FormatWithoutRow("gb", entry.range, entry.note));
    line("#");
    return text;
}

std::string PhraseHeader(const std::map<std::string, std::string>& options, const BuiltPhrases& built)
{
    auto version = [&](const std::string& name) {
        const auto it = options.find(name);
        return it == options.end() || it->second.empty() ? std::string() : " " + it->second;
    };
    std::size_t toGb = 0, toBig5 = 0, longest = 0;
    for (const PhraseRow& row : built.rows) {
        toGb += row.traditionalToSimplified ? 1 : 0;
        toBig5 += row.simplifiedToTraditional ? 1 : 0;
        longest = std::max(longest, row.big5.size());
    }
    std::string text;
    auto line = [&](std::string_view s) {
        text += s;
        text += '\n';
    };
    line("# phrases.txt: fanjian's phrase table, compiled at build time into \"mervik.pcx\" beside MERVIK");
    line("# (SQLite, table PHRASES: INTEGER length and direction (1 ->, 2 <-, 3 <->), BLOB big5 and gb,");
    line("# each row the pairs of one length and direction that follow each other below).");
    line("# Generated: do not edit rows by hand. Change the generator and run");
    line("#   cmake --build <build-dir> --target regenerate-dictionary");
    line("#");
    line("# Sources and licences (the table is derived from them and carries their terms):");
    line("#   OpenCC phrase tables STPhrases and TSPhrases, and TWVariants for Taiwan's forms, Debian");
    line("#     package libopencc-data" + version("opencc-version") + ": Apache License 2.0.");
    line("#   libchewing's phrases with their frequencies (dictionary.dat, index_tree.dat), Debian");
    line("#     package libchewing3-data" + version("chewing-version") + ": LGPL 2.1.");
    line("#   The per-character answers of mervik.txt, and glibc's code pages (see mervik.txt).");
    line("#");
    line("# A row: the Big5 codes and characters of a Traditional phrase, the GB codes and characters of");
    line("# its Simplified form (GB2312, or GBK where GB2312 has no form), and the directions it serves:");
    line("# -> Traditional to Simplified (sought by its Big5 side), <- Simplified to Traditional (sought");
    line("# by its GB side), <-> both. The converter takes at each place the longest phrase of its");
    line("# direction that starts there, else the character's row in MERVIK. Script only: no row");
    line("# changes a word for another (OpenCC's TWPhrases are not used: 软件 stays 軟件).");
    line("#   Simplified -> Traditional: libchewing's phrases first, where Taiwan writes a word otherwise");
    line("#     than OpenCC's phrases and MERVIK convert it: each phrase in Taiwan's forms, simplified as");
    line("#     this table converts Traditional text; for each Simplified phrase the most frequent one,");
    line("#     when its frequency is above 0 and at least twice that of all others together (游标 游標,");
    line("#     卷动 捲動, 周期 週期). Then OpenCC's STPhrases, the first candidate CP950 can write, in");
    line("#     Taiwan's forms (TWVariants).");
    line("#   Traditional -> Simplified: OpenCC's TSPhrases, the first candidate in GB2312, else in GBK.");
    line("#   Both sides written with double-byte characters, the same number of them, 2 to 16. In each");
    line("#   direction the first source to give a phrase wins. A phrase is kept only where it can");
    line("#   change what is written: its own answer differs from its characters' rows, or it keeps");
    line("#   them but stops a phrase that differs from matching inside it (控制 before 制程 製程).");
    line("# Order: by direction (->, <-, <->), length, Big5 codes, GB codes; each direction seeks each");
    line("# phrase in one row only.");
    line("#");
    line("# Phrases by origin:");
    for (const auto& [how, count] : built.counts)
        line("#   " + how + ": " + std::to_string(count));
    line("# Rows: " + std::to_string(built.rows.size()) + " (-> " + std::to_string(toGb) + ", <- " +
         std::to_string(toBig5) + "); the longest phrase: " + std::to_string(longest) + " characters");
    line("#");
    return text;
}

void WritePhrases(std::map<std::string, std::string>& options, const std::vector<TableRow>& characters,
                  const CodeTable& big5, const CodeTable& gb, const Candidates& taiwanVariants)
{
    PhraseSources sources;
    sources.simplifiedToTraditional = ParseOpenccPhrases(ReadFile(options["st-phrases"]), options["st-phrases"]);
    sources.traditionalToSimplified = ParseOpenccPhrases(ReadFile(options["ts-phrases"]), options["ts-phrases"]);
    sources.taiwanPhrases = ParseChewingPhrases(ReadFile(options["chewing-dictionary"]),
                                                ReadFile(options["chewing-tree"]), options["chewing-tree"]);
    sources.taiwanVariants = taiwanVariants;
    const BuiltPhrases built = BuildPhrases(sources, characters, big5, gb);
    std::string text = PhraseHeader(options, built);
    for (const PhraseRow& row : built.rows) {
        text += FormatPhraseRow(row, big5, gb);
        text += '\n';
    }
    ParsePhraseText(text, options["phrases-out"], big5, gb);
    WriteFileAtomically(options["phrases-out"], text);
    std::printf("%s: %zu rows\n", options["phrases-out"].c_str(), built.rows.size());
}

int Run(int argc, char** argv)
{
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        if (!name.starts_with("--"))
            break;
        options[std::string(name.substr(2))] = argv[i + 1];
    }
    for (const char* required : {"ts", "st", "tw", "unihan", "overrides", "out", "st-phrases", "ts-phrases",
                                  "chewing-dictionary", "chewing-tree", "phrases-out"}) {
        if (!options.contains(required) || (argc - 1) % 2 != 0) {
            std::fputs(kUsage.data(), stderr);
            return 2;
        }
    }
    const std::string tsFile = options["ts"];
    const std::string stFile = options["st"];
    const std::string twFile = options["tw"];
    const std::string unihanFile = options["unihan"];
    const std::string overridesFile = options["overrides"];

    TableSources sources;
    sources.traditionalToSimplified = ParseOpenccCharacters(ReadFile(tsFile), tsFile);
    sources.simplifiedToTraditional = ParseOpenccCharacters(ReadFile(stFile), stFile);
    sources.taiwanVariants = ParseOpenccCharacters(ReadFile(twFile), twFile);
    sources.unihan = ParseUnihanVariants(ReadFile(unihanFile), unihanFile);
    sources.overrides = ParseOverrides(ReadFile(overridesFile), overridesFile);

    const CodeTable big5 = LoadBig5();
    const CodeTable gb = LoadGb();
    const BuiltTable built = BuildTable(sources, big5, gb);

    std::string text = Header(options, built, gb);
    for (const TableRow& row : built.rows) {
        text += FormatRow(row, big5, gb);
        text += '\n';
    }
    // What is written must read back as it was meant.
    ParseTableText(text, options["out"], big5, gb);
    WriteFileAtomically(options["out"], text);
    std::printf("%s: %zu rows\n", options["out"].c_str(), built.rows.size());
    WritePhrases(options, built.rows, big5, gb, sources.taiwanVariants);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "generate_dictionary: %s\n", e.what());
        return 1;
    }
}
