#pragma once

#include "CodePages.h"
#include "Sources.h"
#include "TableText.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fanjian::data {

struct TableSources {
    Candidates traditionalToSimplified; // OpenCC TSCharacters
    Candidates simplifiedToTraditional; // OpenCC STCharacters
    Candidates taiwanVariants;          // OpenCC TWVariants
    UnihanVariants unihan;
    std::vector<Override> overrides;
};

struct WithoutRow {
    CodeRange range;
    std::string note;
};

struct BuiltTable {
    std::vector<TableRow> rows;
    // Every CP950 code that glibc decodes and that has no row, with the reason.
    std::vector<WithoutRow> big5WithoutRow;
    // Every GB2312 code that has no row, with the reason.
    std::vector<WithoutRow> gbWithoutRow;
    // How the pairs were found, for the header.
    std::map<std::string, std::size_t> counts;
};

// The Traditional -> Simplified pair of every CP950 code and the Simplified -> Traditional pair of
// every GB code that has a CP950 form, chosen by the rules below, with the overrides applied, and
// ordered so that each pair is the first row holding the code it answers for.
//
// Traditional -> Simplified, for a CP950 character: when OpenCC has candidates, the first with a
// GB2312 form, else the first with a GBK form, else the same among Unihan's simplified variants;
// when OpenCC has none, the character itself if GB2312 has it, else Unihan's first simplified
// variant in GB2312; then the character itself in GBK. A symbol takes the same symbol in GB, else
// glibc's direct Big5 -> GB2312 best fit.
// Simplified -> Traditional, for a GB character: for each of OpenCC's candidates in turn (the
// character itself when it has none), its Taiwan form when CP950 has it, else the candidate when
// CP950 has it; then Unihan's traditional variants the same way; then the character itself; for a
// GBK character beyond GB2312, Unihan's semantic variants; then
// the first CP950 character whose Traditional -> Simplified pair gives it (so that every GB code
// a row holds has a pair of its own); a symbol without a CP950 form takes glibc's direct
// GB2312 -> Big5 best fit.
// Overrides: an S2T override that gives a row to a Han character the rules leave without one (its
// OpenCC forms are not in CP950: 钎, whose 釺 CP950 lacks, takes 釬) must name a CP950 character
// that glibc's direct GB2312 -> Big5 converter gives or that Unihan lists as a traditional or
// semantic variant of an OpenCC form; otherwise it throws SourceError naming the line.
BuiltTable BuildTable(const TableSources& sources, const CodeTable& big5, const CodeTable& gb);

// Puts the rows that pair codes in an order where, for every code, the first row holding it is
// the pair meant for it: Traditional -> Simplified rows first for their Big5 code, Simplified ->
// Traditional rows first for their GB code. Among rows free to go, the lowest Big5 code (then GB
// code) goes first, so the same pairs always give the same order. Throws std::runtime_error naming
// the rows when the wishes form a cycle that no order can satisfy.
std::vector<TableRow> OrderRows(const std::map<std::uint16_t, std::uint16_t>& traditionalToSimplified,
                                const std::map<std::uint16_t, std::uint16_t>& simplifiedToTraditional);

} // namespace fanjian::data
