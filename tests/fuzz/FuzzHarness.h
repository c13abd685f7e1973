#pragma once

// Shared by the fuzz targets over LineConverter: the dictionaries they convert with, a slow and
// simple reference conversion to hold the converter to, and a view that checks every call.
// The same code runs under libFuzzer (clang) and in the replay test (any compiler).

#include "dictionary/ConversionDirection.h"
#include "conversion/LineConverter.h"
#include "conversion/ProgressView.h"
#include "dictionary/CharacterDictionary.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::fuzz {

// Prints what failed (and the replayed input's name) and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(condition, what)                                                                                    \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::fanjian::fuzz::Fail(__FILE__, __LINE__, std::string(#condition) + ": " + (what));                        \
    } while (0)

// The file being replayed, named in failure messages; null under libFuzzer.
extern const char* currentInput;

// Bytes as hex, for messages.
std::string Hex(std::string_view bytes);

enum class DictionaryKind { Identity, Mixed, Failing };

// What the first row holding a code answers, worked out from the rows the harness wrote.
struct Answer {
    enum class Kind { NoRow, Code, Unusable } kind = Kind::NoRow;
    std::uint16_t code = 0;
};

// A phrase of one direction: the codes put in place of its source's.
struct ReferencePhrase {
    std::vector<std::uint16_t> target;
};
using ReferencePhrases = std::map<std::vector<std::uint16_t>, ReferencePhrase>;

struct Setup {
    ConversionDirection direction;
    DictionaryKind kind;
    const CharacterDictionary* dictionary;
    const std::map<std::uint16_t, Answer>* answers; // null for the identity table
    const ReferencePhrases* phrases;                 // null for the identity table
    // Further option bits of the first input byte, for the targets to use.
    std::uint8_t options;
    // How the text is read; the targets go through both.
    TextEncoding encoding = TextEncoding::CodePage;

    Answer Find(std::uint16_t code) const;
};

// Direction from bit 0, dictionary from bits 1-2 of the first input byte; the remaining bits are
// handed over as options. The dictionaries are written and opened once, on first use; all but the
// identity table hold phrases.
Setup PickSetup(std::uint8_t firstByte);

// One line of a text: where it starts, its length without terminator, and the terminator's length
// (0 for a last line without one).
struct SourceLine {
    std::size_t offset;
    std::size_t length;
    std::size_t terminatorLength;

    std::size_t End() const { return offset + length + terminatorLength; }
};

// Lines end at LF, CR LF or a lone CR.
std::vector<SourceLine> SplitLines(std::string_view text);

// Why a conversion stops before the end of its text: a lookup fails (DictionaryError), or the view
// throws Abandoned from the ProcessPendingEvents of a given replacement, as a closing window does.
enum class Stop { None, FailingLookup, ViewAbandons };

struct Abandoned {};

// One line converted by the reference.
struct ReferenceLine {
    std::string output;               // up to where it stops
    std::uint64_t replacements = 0;   // counted before it stops, the one the view abandons at included
    std::uint64_t doubleByteCharacters = 0;
    long long declarationGrowth = 0;  // bytes the rewritten declarations added
    Stop stop = Stop::None;
};

// The view abandons at the `abandonAt`-th replacement of the line, if it comes.
ReferenceLine ConvertLineReference(std::string_view line, const Setup& setup,
                                   std::optional<std::uint64_t> abandonAt = std::nullopt);

// A whole text converted by the reference.
struct ReferenceText {
    std::vector<SourceLine> lines;
    std::vector<std::size_t> lineOutputStart; // one per line, and one more for the end
    std::string output;                       // up to where it stops
    std::uint64_t replacements = 0;
    std::uint64_t doubleByteCharacters = 0;
    long long declarationGrowth = 0;
    Stop stop = Stop::None;
    std::size_t stoppedLine = 0;              // the line where it stops

    // Where, in the output, the unfinished line begins once `taken` bytes are taken: what a caller
    // keeps of a file when the conversion stops there. A last line without terminator is finished
    // only at the end (`ended`).
    std::size_t OutputLineStart(std::size_t taken, bool ended) const;
};

ReferenceText ConvertTextReference(std::string_view text, const Setup& setup,
                                   std::optional<std::uint64_t> abandonAt = std::nullopt);

// A file is UTF-8 when it is well-formed UTF-8 throughout and holds a character of more than one byte.
bool IsUtf8Text(std::string_view text);

// With the identity table, the output is the input with CR LF terminators and the rewritten
// declarations, every double-byte character counted: checks the length and the count. (Text in
// Big5 or GB2312 only.)
void CheckIdentityOutput(std::string_view text, const ReferenceText& reference, std::string_view output,
                         std::uint64_t count);

// Checks every call the converter makes: one ShowCharacterCount per replacement with the text
// "第 N 字" counting on from 1, each followed by exactly one ProcessPendingEvents, and the last
// text still readable and unchanged at that call and at Finish, as a window that keeps a pointer to
// it and repaints later reads it. Throws Abandoned from the ProcessPendingEvents of the
// `abandonAt`-th count, if given.
class CheckingView : public ProgressView {
public:
    explicit CheckingView(std::optional<std::uint64_t> abandonAt = std::nullopt) : abandonAt_(abandonAt) {}
    void ClearSourceList() override { Unexpected("ClearSourceList"); }
    void AddSourceListItem(std::string_view) override { Unexpected("AddSourceListItem"); }
    void ClearResultList() override { Unexpected("ClearResultList"); }
    void AddResultListItem(std::string_view) override { Unexpected("AddResultListItem"); }
    void ShowStatus(std::string_view) override { Unexpected("ShowStatus"); }
    void ShowFileName(std::string_view) override { Unexpected("ShowFileName"); }
    void ShowFileCount(std::string_view) override { Unexpected("ShowFileCount"); }
    void ShowCharacterCount(std::string_view text) override;
    void ProcessPendingEvents() override;

    std::uint64_t Shown() const { return shown_; }
    // Call while the converter still lives: the count matches and the last text is intact.
    void Finish(std::uint64_t convertedCount) const;

private:
    [[noreturn]] static void Unexpected(const char* call);
    void CheckKeptText() const;

    std::optional<std::uint64_t> abandonAt_;
    std::uint64_t shown_ = 0;
    bool eventsDue_ = false;
    std::string_view kept_;
    std::string keptCopy_;
};

// A heap copy of exactly the given bytes, so that AddressSanitizer sees any read past them.
class ExactCopy {
public:
    explicit ExactCopy(std::string_view bytes);
    std::string_view View() const { return {bytes_.get(), size_}; }

private:
    std::size_t size_;
    std::unique_ptr<char[]> bytes_;
};

} // namespace fanjian::fuzz
