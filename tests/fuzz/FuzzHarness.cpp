#include "FuzzHarness.h"

#include "TestSupport.h"
#include "conversion/CodePages.h"
#include "dictionary/TableLayout.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fanjian::fuzz {

const char* currentInput = nullptr;

void Fail(const char* file, int line, const std::string& what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
    if (currentInput)
        std::fprintf(stderr, "input: %s\n", currentInput);
    std::fflush(stderr);
    std::abort();
}

std::string Hex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes.substr(0, 256)) {
        const auto b = static_cast<unsigned char>(c);
        if (!hex.empty())
            hex += ' ';
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    if (bytes.size() > 256)
        hex += " ...";
    return "[" + hex + "]";
}

namespace {

// A value in a MERVIK column as the harness writes it.
struct Value {
    enum class Kind { Integer, Null, Real, Text } kind = Kind::Integer;
    long long number = 0;

    std::string Sql() const
    {
        switch (kind) {
        case Kind::Integer:
            return std::to_string(number);
        case Kind::Null:
            return "NULL";
        case Kind::Real:
            return "1.5";
        case Kind::Text:
            return "'x'";
        }
        return "NULL";
    }
};

struct Row {
    Value big5;
    Value gb;
};

Value Code(long long number)
{
    return Value{Value::Kind::Integer, number};
}

constexpr Value kNull{Value::Kind::Null, 0};
constexpr Value kReal{Value::Kind::Real, 0};
constexpr Value kText{Value::Kind::Text, 0};

// Real pairs, so that seeds of ordinary text meet them (國 国, 中, 體 体, ... and the second rows
// of 著 and 里, which only count in one direction).
const Row kRealPairs[] = {
    {Code(0xB0EA), Code(0xB9FA)}, {Code(0xA4A4), Code(0xD6D0)}, {Code(0xC5E9), Code(0xCCE5)},
    {Code(0xC2B2), Code(0xBCF2)}, {Code(0xBAF4), Code(0xCDF8)}, {Code(0xC2E0), Code(0xD7AA)},
    {Code(0xB4AB), Code(0xBBBB)}, {Code(0xBB79), Code(0xD3EF)}, {Code(0xB36F), Code(0xD5E2)},
    {Code(0xADD3), Code(0xB8F6)}, {Code(0xC657), Code(0xCDE5)}, {Code(0xB8EA), Code(0xD7CA)},
    {Code(0xC0C9), Code(0xB5B5)}, {Code(0xB971), Code(0xB5E7)}, {Code(0xB8A3), Code(0xC4D4)},
    {Code(0xB8CC), Code(0xC0EF)}, {Code(0xA8BD), Code(0xC0EF)}, {Code(0xB5DB), Code(0xD6F8)},
    {Code(0xB5DB), Code(0xD7C5)}, {Code(0xACB0), Code(0xCEAA)}, {Code(0xAEC9), Code(0xCAB1)},
    {Code(0xADCC), Code(0xC3C7)}, {Code(0xA8D3), Code(0xC0B4)}, {Code(0xBBA1), Code(0xCBB5)},
    {Code(0xABE1), Code(0xBAF3)}, {Code(0xA65A), Code(0xBAF3)}, {Code(0xB77C), Code(0xBBE1)},
    {Code(0xAFB8), Code(0xD5BE)},
    // Answers whose bytes look like something else: 'c' trail bytes, "ch", LF CR (refused: a line
    // break inside a line), a NUL, 0xFF.
    {Code(0xA463), Code(0xB0A1)}, {Code(0x8163), Code(0x6368)}, {Code(0x9A43), Code(0x0A0D)},
    {Code(0xA1A1), Code(0x0100)}, {Code(0xF9FE), Code(0xFFFF)}, {Code(0x8140), Code(0x8000)},
    {Code(0xFE0A), Code(0xB0B1)}, // never looked up: LF is no trail byte
};

// Rows whose lookup fails, put before all others. Keys of the other direction that they also
// hold (200, -5, 70000) are never looked up or lie outside the code range.
const Row kUnusableRows[] = {
    {Code(0xC0C0), kNull}, {Code(0xA4A1), Code(200)}, {Code(0xB1B1), kText},       {Code(0xA2A2), kReal},
    {Code(0xD5D5), Code(70000)}, {kNull, Code(0xB0B0)}, {Code(70000), Code(0xC1C1)}, {Code(-5), Code(0xD2D2)},
    {kText, Code(0xE3E3)},
};

// Unusable rows after the first row for their code: never consulted.
const Row kShadowedRows[] = {
    {Code(0xB0EA), kNull},
    {kNull, Code(0xB9FA)},
    {Code(0xA4A4), Code(7)},
};

std::vector<Row> MixedRows()
{
    std::vector<Row> rows(std::begin(kRealPairs), std::end(kRealPairs));
    // Some two thousand pseudo-random pairs over the whole lead byte range with any trail byte, then
    // rows that repeat an earlier code with another answer (the earlier row decides).
    std::uint32_t state = 20240607;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const auto randomCode = [&next] {
        const std::uint32_t lead = 0x81 + next() % 126;
        const std::uint32_t trail = next() % 4 == 0 ? next() % 256 : 0x40 + next() % 0xBF;
        return static_cast<long long>(lead << 8 | trail);
    };
    for (int i = 0; i < 2000; ++i)
        rows.push_back({Code(randomCode()), Code(randomCode())});
    const std::size_t before = rows.size();
    for (int i = 0; i < 300; ++i) {
        const Row& earlier = rows[next() % before];
        rows.push_back(i % 2 == 0 ? Row{earlier.big5, Code(randomCode())} : Row{Code(randomCode()), earlier.gb});
    }
    return rows;
}

std::vector<Row> FailingRows()
{
    std::vector<Row> rows(std::begin(kUnusableRows), std::end(kUnusableRows));
    const std::vector<Row> mixed = MixedRows();
    rows.insert(rows.end(), mixed.begin(), mixed.end());
    rows.insert(rows.end(), std::begin(kShadowedRows), std::end(kShadowedRows));
    return rows;
}

// A phrase pair: the Big5 side, the GB side, and the directions it serves (1 ->, 2 <-, 3 both).
struct PhraseRow {
    std::vector<std::uint16_t> big5;
    std::vector<std::uint16_t> gb;
    int direction;
};

// Phrases over the characters of the real pairs and the seeds (some with a trail byte 'c', some
// without a row, some whose row fails), of 2 to 5 characters and one of 16: some write other
// characters than their rows, some the same (they only stop others from matching inside them),
// many overlapping, and later rows that repeat an earlier source (the earlier row decides).
std::vector<PhraseRow> PhraseRows()
{
    static constexpr std::uint16_t kBig5[] = {0xA4A4, 0xB0EA, 0xBAF4, 0xAFB8, 0xC2E0, 0xB4AB, 0xB36F, 0xADD3,
                                              0xBB79, 0xA463, 0xB0B1, 0xA4A5, 0xC0C0, 0xB8CC, 0xA8BD};
    static constexpr std::uint16_t kGb[] = {0xD6D0, 0xB9FA, 0xCDF8, 0xD5BE, 0xD7AA, 0xBBBB, 0xD5E2, 0xB8F6,
                                            0xD3EF, 0xB0A1, 0xC0EF, 0xA5A5, 0xB0B0, 0xCCE5, 0xD7C5};
    std::uint32_t state = 20261207;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    std::vector<PhraseRow> rows;
    for (int i = 0; i < 400; ++i) {
        PhraseRow row{{}, {}, static_cast<int>(1 + next() % 3)};
        const std::size_t length = i == 0 ? 16 : 2 + next() % 4;
        for (std::size_t j = 0; j < length; ++j) {
            const std::size_t k = next() % std::size(kBig5);
            row.big5.push_back(kBig5[k]);
            row.gb.push_back(next() % 3 == 0 ? kGb[next() % std::size(kGb)] : kGb[k]);
        }
        rows.push_back(row);
    }
    return rows;
}

std::string Hex(const std::vector<std::uint16_t>& codes)
{
    std::string hex;
    for (const std::uint16_t code : codes) {
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04X", code);
        hex += digits;
    }
    return hex;
}

std::string TableSql(const std::vector<Row>& rows, const std::vector<PhraseRow>& phrases = {})
{
    std::string sql = "BEGIN; CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);";
    for (const Row& row : rows)
        sql += "INSERT INTO MERVIK VALUES (" + row.big5.Sql() + "," + row.gb.Sql() + ");";
    if (!phrases.empty()) {
        sql += std::string(fanjian::table::kCreatePhraseTable) + ";";
        for (const PhraseRow& row : phrases)
            sql += "INSERT INTO PHRASES VALUES (" + std::to_string(row.big5.size()) + "," +
                   std::to_string(row.direction) + ",X'" + Hex(row.big5) + "',X'" + Hex(row.gb) + "');";
    }
    return sql + "COMMIT;";
}

// The phrases of one direction: the first row of each source.
ReferencePhrases PhrasesOf(const std::vector<PhraseRow>& rows, bool fromBig5)
{
    ReferencePhrases phrases;
    for (const PhraseRow& row : rows) {
        if ((row.direction & (fromBig5 ? 1 : 2)) != 0)
            phrases.emplace(fromBig5 ? row.big5 : row.gb, ReferencePhrase{fromBig5 ? row.gb : row.big5});
    }
    return phrases;
}

// Every code with a lead byte 0x81..0xFE answers itself, both ways.
constexpr std::string_view kIdentitySql =
    "BEGIN; CREATE TABLE MERVIK (big5 INTEGER, gb INTEGER);"
    "WITH RECURSIVE c(x) AS (SELECT 33024 UNION ALL SELECT x + 1 FROM c WHERE x < 65279)"
    " INSERT INTO MERVIK SELECT x, x FROM c;"
    "COMMIT;";

// The answers of one direction as the documented lookup gives them: the first row whose key
// column holds the code decides; its other column is the answer when it is a whole number in
// 256..65535 without a CR or LF byte, and the lookup fails otherwise.
std::map<std::uint16_t, Answer> AnswersOf(const std::vector<Row>& rows, bool fromBig5)
{
    std::map<std::uint16_t, Answer> answers;
    for (const Row& row : rows) {
        const Value& key = fromBig5 ? row.big5 : row.gb;
        const Value& value = fromBig5 ? row.gb : row.big5;
        if (key.kind != Value::Kind::Integer || key.number < 0 || key.number > 0xFFFF)
            continue;
        const auto code = static_cast<std::uint16_t>(key.number);
        if (answers.count(code))
            continue;
        const auto isBreak = [](long long byte) { return byte == '\r' || byte == '\n'; };
        if (value.kind == Value::Kind::Integer && value.number >= 256 && value.number <= 0xFFFF &&
            !isBreak(value.number >> 8) && !isBreak(value.number & 0xFF))
            answers[code] = Answer{Answer::Kind::Code, static_cast<std::uint16_t>(value.number)};
        else
            answers[code] = Answer{Answer::Kind::Unusable, 0};
    }
    return answers;
}

struct Dictionaries {
    CharacterDictionary identity;
    CharacterDictionary mixed;
    CharacterDictionary failing;
    std::map<std::uint16_t, Answer> mixedToGb, mixedToBig5, failingToGb, failingToBig5;
    ReferencePhrases phrasesToGb, phrasesToBig5;

    Dictionaries()
    {
        const std::vector<Row> mixedRows = MixedRows();
        const std::vector<Row> failingRows = FailingRows();
        const std::vector<PhraseRow> phraseRows = PhraseRows();
        mixedToGb = AnswersOf(mixedRows, true);
        mixedToBig5 = AnswersOf(mixedRows, false);
        failingToGb = AnswersOf(failingRows, true);
        failingToBig5 = AnswersOf(failingRows, false);
        phrasesToGb = PhrasesOf(phraseRows, true);
        phrasesToBig5 = PhrasesOf(phraseRows, false);

        // The tables are read whole at Open; their files go again right after.
        const testing::TempDir dir;
        const auto write = [&dir](const char* name, std::string_view sql, CharacterDictionary& dictionary) {
            const std::filesystem::path folder = dir.path() / name;
            std::filesystem::create_directory(folder);
            testing::WriteDatabase(folder / fanjian::table::kFileName, sql);
            dictionary.Open(folder.string());
        };
        write("identity", kIdentitySql, identity);
        write("mixed", TableSql(mixedRows, phraseRows), mixed);
        write("failing", TableSql(failingRows, phraseRows), failing);
    }
};

const Dictionaries& TheDictionaries()
{
    static const Dictionaries dictionaries;
    return dictionaries;
}

} // namespace

Answer Setup::Find(std::uint16_t code) const
{
    if (!answers)
        return Answer{Answer::Kind::Code, code};
    const auto it = answers->find(code);
    return it == answers->end() ? Answer{} : it->second;
}

Setup PickSetup(std::uint8_t firstByte)
{
    const Dictionaries& d = TheDictionaries();
    const bool toGb = (firstByte & 1) == 0;
    Setup setup{toGb ? ConversionDirection::TraditionalToSimplified : ConversionDirection::SimplifiedToTraditional,
                DictionaryKind::Identity, &d.identity, nullptr, nullptr, static_cast<std::uint8_t>(firstByte >> 3)};
    if (((firstByte >> 1) & 3) != 0)
        setup.phrases = toGb ? &d.phrasesToGb : &d.phrasesToBig5;
    switch ((firstByte >> 1) & 3) {
    case 0:
        break;
    case 1:
    case 3:
        setup.kind = DictionaryKind::Mixed;
        setup.dictionary = &d.mixed;
        setup.answers = toGb ? &d.mixedToGb : &d.mixedToBig5;
        break;
    case 2:
        setup.kind = DictionaryKind::Failing;
        setup.dictionary = &d.failing;
        setup.answers = toGb ? &d.failingToGb : &d.failingToBig5;
        break;
    }
    return setup;
}

std::vector<SourceLine> SplitLines(std::string_view text)
{
    std::vector<SourceLine> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t terminator = 0;
        if (text[i] == '\n')
            terminator = 1;
        else if (text[i] == '\r')
            terminator = i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
        if (terminator == 0)
            continue;
        lines.push_back({begin, i - begin, terminator});
        i += terminator - 1;
        begin = i + 1;
    }
    if (begin < text.size())
        lines.push_back({begin, text.size() - begin, 0});
    return lines;
}

namespace {

std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

struct Retarget {
    std::string_view charsetFrom, charsetTo, contentFrom, contentTo;
};

constexpr Retarget kToSimplified{"big5", "gb2312", "content=\"zh-tw", "content=\"zh-cn"};
constexpr Retarget kToTraditional{"gb2312", "big5", "content=\"zh-cn", "content=\"zh-tw"};

// The declaration at the start of `rest`: how many bytes it takes and what it becomes.
std::optional<std::pair<std::size_t, std::string>> MatchDeclaration(std::string_view rest, const Retarget& retarget)
{
    const std::string lower = AsciiLower(rest.substr(0, 16));
    const std::string_view l = lower;
    if (l.starts_with("charset=")) {
        std::size_t valueAt = 8;
        if (l.size() > valueAt && (l[valueAt] == '"' || l[valueAt] == '\''))
            ++valueAt;
        if (!l.substr(valueAt).starts_with(retarget.charsetFrom))
            return std::nullopt;
        return std::pair{valueAt + retarget.charsetFrom.size(),
                         std::string(rest.substr(0, valueAt)) + std::string(retarget.charsetTo)};
    }
    if (l.starts_with(retarget.contentFrom))
        return std::pair{retarget.contentFrom.size(), std::string(retarget.contentTo)};
    return std::nullopt;
}

// A well-formed UTF-8 sequence at the start of `text`: its length and code point; length 0 when
// the first byte starts none.
std::pair<std::size_t, char32_t> DecodeUtf8(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4                  ? 4
                                                                             : 0;
    if (length == 0 || text.size() < length)
        return {0, 0};
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {0, 0};
        c = c << 6 | (byte(i) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {0, 0};
    return {length, c};
}

std::string EncodeUtf8(char16_t c)
{
    if (c < 0x800)
        return {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    return {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

// The UTF-8 line: each character the source code page holds goes through the table and comes
// back in UTF-8; an answer that names no character of the target code page fails as a lookup does.
// Declarations are rewritten as in any page.
} // namespace

bool Changes(const std::vector<std::uint16_t>& source, const ReferencePhrase& phrase, const Setup& setup);

namespace {

// The source code page's codes of the characters of three bytes from `j` on that it holds.
std::vector<std::uint16_t> Utf8RunCodes(std::string_view line, std::size_t j, const CodePage& source)
{
    std::vector<std::uint16_t> codes;
    for (; j < line.size(); j += 3) {
        const auto [length, c] = DecodeUtf8(line.substr(j));
        const std::uint16_t code = length == 3 ? source.Code(static_cast<char16_t>(c)) : 0;
        if (code == 0)
            break;
        codes.push_back(code);
    }
    return codes;
}

ReferenceLine ConvertUtf8LineReference(std::string_view line, const Setup& setup, std::optional<std::uint64_t> abandonAt)
{
    const bool toGb = setup.direction == ConversionDirection::TraditionalToSimplified;
    const CodePage& source = toGb ? CodePage::Big5() : CodePage::Gb();
    const CodePage& target = toGb ? CodePage::Gb() : CodePage::Big5();
    // A phrase is written where each of its characters takes three bytes, alone and in it.
    const auto threeBytes = [&](const std::vector<std::uint16_t>& from, const std::vector<std::uint16_t>& to) {
        for (std::size_t i = 0; i < from.size(); ++i) {
            const Answer alone = setup.Find(from[i]);
            if (source.Character(from[i]) < 0x800 || target.Character(to[i]) < 0x800 ||
                (alone.kind == Answer::Kind::Code && target.Character(alone.code) < 0x800))
                return false;
        }
        return true;
    };
    ReferenceLine result;
    std::size_t j = 0;
    while (j < line.size()) {
        if (setup.phrases) {
            const std::vector<std::uint16_t> run = Utf8RunCodes(line, j, source);
            const ReferencePhrases::value_type* phrase = nullptr;
            for (std::size_t length = std::min<std::size_t>(run.size(), 16); length >= 2 && !phrase; --length) {
                const auto it = setup.phrases->find(std::vector<std::uint16_t>(run.begin(), run.begin() + length));
                phrase = it != setup.phrases->end() ? &*it : nullptr;
            }
            if (phrase) {
                const std::size_t end = j + 3 * phrase->first.size();
                if (Changes(phrase->first, phrase->second, setup) && threeBytes(phrase->first, phrase->second.target)) {
                    for (const std::uint16_t code : phrase->second.target) {
                        result.output += EncodeUtf8(target.Character(code));
                        if (++result.replacements == abandonAt) {
                            result.stop = Stop::ViewAbandons;
                            return result;
                        }
                    }
                } else {
                    Setup alone = setup;
                    alone.phrases = nullptr;
                    const ReferenceLine part = ConvertUtf8LineReference(
                        line.substr(j, end - j), alone,
                        abandonAt ? std::optional(*abandonAt - result.replacements) : std::nullopt);
                    result.output += part.output;
                    result.replacements += part.replacements;
                    if (part.stop != Stop::None) {
                        result.stop = part.stop;
                        return result;
                    }
                }
                j = end;
                continue;
            }
        }
        const auto [length, c] = DecodeUtf8(line.substr(j));
        const std::uint16_t code = length >= 2 && c < 0x10000 ? source.Code(static_cast<char16_t>(c)) : 0;
        const Answer answer = code != 0 ? setup.Find(code) : Answer{};
        if (answer.kind == Answer::Kind::Unusable ||
            (answer.kind == Answer::Kind::Code && target.Character(answer.code) == 0)) {
            result.stop = Stop::FailingLookup;
            return result;
        }
        if (answer.kind == Answer::Kind::Code) {
            result.output += EncodeUtf8(target.Character(answer.code));
            j += length;
            if (++result.replacements == abandonAt) {
                result.stop = Stop::ViewAbandons;
                return result;
            }
        } else if (length >= 2) {
            result.output += line.substr(j, length);
            j += length;
        } else if (const auto declaration =
                       MatchDeclaration(line.substr(j), toGb ? kToSimplified : kToTraditional)) {
            result.output += declaration->second;
            j += declaration->first;
        } else {
            result.output += line[j];
            ++j;
        }
    }
    return result;
}

} // namespace

// The longest phrase of `setup` that the double-byte characters from `j` on hold.
const std::pair<const std::vector<std::uint16_t>, ReferencePhrase>* LongestPhrase(std::string_view line, std::size_t j,
                                                                                  const Setup& setup)
{
    std::vector<std::uint16_t> codes;
    for (std::size_t at = j; at + 1 < line.size() && static_cast<unsigned char>(line[at]) >= 0x81 &&
                             static_cast<unsigned char>(line[at]) <= 0xFE;
         at += 2)
        codes.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(line[at]) * 256 +
                                                   static_cast<unsigned char>(line[at + 1])));
    for (std::size_t length = codes.size(); length >= 2; --length) {
        const auto it = setup.phrases->find(std::vector<std::uint16_t>(codes.begin(), codes.begin() + length));
        if (it != setup.phrases->end())
            return &*it;
    }
    return nullptr;
}

// True when the phrase writes something else than its characters alone: each of its characters
// counts then, else each as it would alone.
bool Changes(const std::vector<std::uint16_t>& source, const ReferencePhrase& phrase, const Setup& setup)
{
    for (std::size_t i = 0; i < source.size(); ++i) {
        const Answer answer = setup.Find(source[i]);
        const std::uint16_t alone = answer.kind == Answer::Kind::Code ? answer.code : source[i];
        if (answer.kind == Answer::Kind::Unusable || alone != phrase.target[i])
            return true;
    }
    return false;
}

ReferenceLine ConvertLineReference(std::string_view line, const Setup& setup, std::optional<std::uint64_t> abandonAt)
{
    if (setup.encoding == TextEncoding::Utf8)
        return ConvertUtf8LineReference(line, setup, abandonAt);
    const Retarget& retarget =
        setup.direction == ConversionDirection::TraditionalToSimplified ? kToSimplified : kToTraditional;
    ReferenceLine result;
    std::size_t j = 0;
    while (j < line.size()) {
        const auto b = static_cast<unsigned char>(line[j]);
        const auto* const phrase = setup.phrases ? LongestPhrase(line, j, setup) : nullptr;
        if (phrase && Changes(phrase->first, phrase->second, setup)) {
            for (const std::uint16_t code : phrase->second.target) {
                ++result.doubleByteCharacters;
                result.output += static_cast<char>(code / 256);
                result.output += static_cast<char>(code % 256);
                j += 2;
                if (++result.replacements == abandonAt) {
                    result.stop = Stop::ViewAbandons;
                    return result;
                }
            }
        } else if (phrase) {
            // It writes what its characters write alone, and only stops others.
            const std::size_t end = j + 2 * phrase->first.size();
            std::string_view characters = line.substr(j, end - j);
            Setup alone = setup;
            alone.phrases = nullptr;
            const ReferenceLine part = ConvertLineReference(characters, alone,
                                                            abandonAt ? std::optional(*abandonAt - result.replacements)
                                                                      : std::nullopt);
            result.output += part.output;
            result.replacements += part.replacements;
            result.doubleByteCharacters += part.doubleByteCharacters;
            if (part.stop != Stop::None) {
                result.stop = part.stop;
                return result;
            }
            j = end;
        } else if (b >= 0x81 && b <= 0xFE && j + 1 < line.size()) {
            ++result.doubleByteCharacters;
            const auto code = static_cast<std::uint16_t>(b * 256 + static_cast<unsigned char>(line[j + 1]));
            const Answer answer = setup.Find(code);
            if (answer.kind == Answer::Kind::Unusable) {
                result.stop = Stop::FailingLookup;
                return result;
            }
            if (answer.kind == Answer::Kind::Code) {
                result.output += static_cast<char>(answer.code / 256);
                result.output += static_cast<char>(answer.code % 256);
                if (++result.replacements == abandonAt) {
                    result.stop = Stop::ViewAbandons;
                    return result;
                }
            } else {
                result.output += line.substr(j, 2);
            }
            j += 2;
        } else if (const auto declaration = MatchDeclaration(line.substr(j), retarget)) {
            result.output += declaration->second;
            result.declarationGrowth += static_cast<long long>(declaration->second.size()) -
                                        static_cast<long long>(declaration->first);
            j += declaration->first;
        } else {
            result.output += line[j];
            ++j;
        }
    }
    return result;
}

ReferenceText ConvertTextReference(std::string_view text, const Setup& setup, std::optional<std::uint64_t> abandonAt)
{
    ReferenceText result;
    result.lines = SplitLines(text);
    for (std::size_t i = 0; i < result.lines.size(); ++i) {
        const SourceLine& line = result.lines[i];
        std::optional<std::uint64_t> abandonInLine;
        if (abandonAt)
            abandonInLine = *abandonAt - result.replacements;
        const ReferenceLine converted =
            ConvertLineReference(text.substr(line.offset, line.length), setup, abandonInLine);
        result.lineOutputStart.push_back(result.output.size());
        result.output += converted.output;
        result.replacements += converted.replacements;
        result.doubleByteCharacters += converted.doubleByteCharacters;
        result.declarationGrowth += converted.declarationGrowth;
        if (converted.stop != Stop::None) {
            result.stop = converted.stop;
            result.stoppedLine = i;
            return result;
        }
        result.output += "\r\n";
    }
    result.lineOutputStart.push_back(result.output.size());
    return result;
}

bool IsUtf8Text(std::string_view text)
{
    bool sequence = false;
    for (std::size_t j = 0; j < text.size();) {
        const std::size_t length = DecodeUtf8(text.substr(j)).first;
        if (length == 0)
            return false;
        sequence = sequence || length > 1;
        j += length;
    }
    return sequence;
}

std::size_t ReferenceText::OutputLineStart(std::size_t taken, bool ended) const
{
    std::size_t i = 0;
    while (i < lines.size() && lines[i].End() <= taken && (lines[i].terminatorLength > 0 || ended))
        ++i;
    FUZZ_CHECK(i < lineOutputStart.size(), "taken " + std::to_string(taken) + " lies past the line where it stops");
    return lineOutputStart[i];
}

void CheckIdentityOutput(std::string_view text, const ReferenceText& reference, std::string_view output,
                         std::uint64_t count)
{
    // Counted here on their own: a lead byte with another byte of its line after it.
    std::uint64_t characters = 0;
    long long terminatorGrowth = 0;
    const std::vector<SourceLine> lines = SplitLines(text);
    for (const SourceLine& line : lines) {
        for (std::size_t j = line.offset; j < line.offset + line.length; ++j) {
            const auto b = static_cast<unsigned char>(text[j]);
            if (b >= 0x81 && b <= 0xFE && j + 1 < line.offset + line.length) {
                ++characters;
                ++j;
            }
        }
        terminatorGrowth += 2 - static_cast<long long>(line.terminatorLength);
    }
    FUZZ_CHECK(count == characters,
               "identity table: " + std::to_string(count) + " replacements for " + std::to_string(characters) +
                   " double-byte characters");
    const long long expectedSize =
        static_cast<long long>(text.size()) + terminatorGrowth + reference.declarationGrowth;
    FUZZ_CHECK(static_cast<long long>(output.size()) == expectedSize,
               "identity table: output of " + std::to_string(output.size()) + " bytes, expected " +
                   std::to_string(expectedSize));

    // No byte of a line's characters is CR or LF, so the output splits at CR LF into the input's
    // lines; a line where no declaration can start ('c' or 'C') comes out as it went in.
    std::size_t at = 0;
    for (const SourceLine& line : lines) {
        const std::size_t end = output.find("\r\n", at);
        FUZZ_CHECK(end != std::string_view::npos, "identity table: fewer output lines than input lines");
        const std::string_view in = text.substr(line.offset, line.length);
        const std::string_view out = output.substr(at, end - at);
        if (in.find_first_of("cC") == std::string_view::npos)
            FUZZ_CHECK(out == in, "identity table: line " + Hex(in) + " came out as " + Hex(out));
        at = end + 2;
    }
    FUZZ_CHECK(at == output.size(), "identity table: more output lines than input lines");
}

void CheckingView::ShowCharacterCount(std::string_view text)
{
    // The converter writes the new count over the last text just before this call: that is the
    // end of the old text's life, so it is not checked here.
    FUZZ_CHECK(!eventsDue_, "two counts without ProcessPendingEvents between them");
    ++shown_;
    const std::string expected = "第 " + std::to_string(shown_) + " 字";
    FUZZ_CHECK(text == expected, "count text " + Hex(text) + ", expected " + expected);
    kept_ = text;
    keptCopy_ = std::string(text);
    eventsDue_ = true;
}

void CheckingView::ProcessPendingEvents()
{
    FUZZ_CHECK(eventsDue_, "ProcessPendingEvents without a count before it");
    CheckKeptText();
    eventsDue_ = false;
    if (shown_ == abandonAt_)
        throw Abandoned{};
}

void CheckingView::Finish(std::uint64_t convertedCount) const
{
    FUZZ_CHECK(convertedCount == shown_, "converted count " + std::to_string(convertedCount) + ", shown " +
                                             std::to_string(shown_));
    FUZZ_CHECK(!eventsDue_, "the last count went without ProcessPendingEvents");
    CheckKeptText();
}

void CheckingView::Unexpected(const char* call)
{
    Fail(__FILE__, __LINE__, std::string("the converter called ") + call);
}

void CheckingView::CheckKeptText() const
{
    // The text of the last count may be kept and read until the next count.
    if (shown_ > 0)
        FUZZ_CHECK(kept_ == keptCopy_, "the kept count text changed to " + Hex(kept_));
}

ExactCopy::ExactCopy(std::string_view bytes) : size_(bytes.size()), bytes_(new char[bytes.size()])
{
    if (size_ > 0)
        std::memcpy(bytes_.get(), bytes.data(), size_);
}

} // namespace fanjian::fuzz
