#pragma once

#include "conversion/ByteBuffer.h"
#include "conversion/CountReporter.h"
#include "conversion/ProgressView.h"
#include "conversion/kernel/Kernel.h"
#include "dictionary/ConversionDirection.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian {

class CharacterDictionary;
class CodePage;
class HelperThread;
class PhraseIndex;

// Whether the converter takes the dictionary's phrases (longest match first), or converts each
// character by its row alone, as a dictionary without phrases does.
enum class Phrasing { Phrases, ByCharacter };

// How the bytes of a file are read: as Big5 or GB2312 double-byte text, or as UTF-8.
enum class TextEncoding { CodePage, Utf8 };

// Thrown by LineConverter::ConvertLines for a file whose encoding it tells as it reads: the file,
// read as UTF-8 so far, is none. It is to be converted again from its start, as Big5 or GB2312
// (LineConverter::RestartFile).
class NotUtf8 : public std::exception {
public:
    const char* what() const noexcept override { return "the text is not UTF-8 after all"; }
};

// Converts the lines of one run, character by character, through the dictionary, and retargets
// the page declarations (charset=big5 <-> charset=gb2312, content="zh-tw <-> content="zh-cn).
//
// A line ends at LF, CR LF or a lone CR and is written with CR LF. Within a line, a byte
// 0x81..0xFE followed by another byte of the line starts a double-byte character (lead * 256 +
// trail); every other byte is a character of its own. A declaration is matched only where a
// character starts, and never across lines.
//
// UTF-8 text (UseEncoding) is converted in UTF-8: each character that the direction's source code
// page holds (CP950 to Simplified, GB2312 or GBK to Traditional) goes through the same table and
// is written back in UTF-8; every other character, and every byte of a sequence that is not well
// formed, is copied. Its charset declaration is left as it is; its language is retargeted.
//
// A file's bytes may come in blocks of any size, however long its lines are: ConvertLines stops
// before a short tail whose meaning depends on bytes not yet read (a lead byte, a CR, the start of
// what may be a declaration; never more than kMaxTail bytes), which the caller hands over again at
// the front of the next block. Any split of a file gives the same bytes.
//
// Where the dictionary holds phrases, the conversion takes at each place the longest phrase of the
// direction that the line holds there (double-byte characters only, never across a line end), and
// converts every other character alone; each character of a phrase counts once.
//
// The converter is a driver: a kernel (kernel/Kernel.h) converts the bytes, the converter asks the
// dictionary for the answers the kernel stops at, and its CountReporter shows the replacements.
// The calls for the characters a call of ConvertLines replaces (ShowCharacterCount, then
// ProcessPendingEvents, for each in order) come once the kernel has converted the block, or
// earlier, when many lines are waiting or before a failing lookup throws. The text handed to
// ShowCharacterCount stays valid until the next replacement or until the converter is destroyed.
//
// A long block (kSplitSize bytes or more) is cut at a line end, where both threads should end about
// together, and its second part converted on a thread of the converter's own while the caller's
// thread converts the first: the bytes, the calls to the view and their order are those of one
// thread. Only the caller's thread
// asks the dictionary and calls the view; the helper stops where it would have to, and the caller
// goes on from there.
//
// The converter keeps every answer it has looked up: its dictionary stays open, and unchanged,
// while the converter is in use.
// What the first bytes of a text tell of its encoding: Big5 or GB2312 when they hold bytes that
// are no UTF-8; UTF-8 when they hold `enough` UTF-8 characters of more than one byte (and no such
// bytes), or when they are all of the text (`whole`) and hold one; else nothing yet. Of all of a
// text, a sequence cut short by its end is no character.
std::optional<TextEncoding> TellEncoding(std::string_view first, bool whole, std::size_t enough);

class LineConverter {
public:
    static constexpr std::size_t kMaxTail = kernel::kMaxTail;
    static constexpr std::size_t kNoLineStart = kernel::kNoLineStart;
    // Blocks this long or longer are converted on two threads, where the processor has two cores.
    static constexpr std::size_t kSplitSize = 128 * 1024;

    // With the fastest kernel this processor runs. The phrases are those of the dictionary, which
    // is open.
    LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view,
                  Phrasing phrasing = Phrasing::Phrases);
    LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view,
                  const kernel::Kernel& kernel, Phrasing phrasing = Phrasing::Phrases);
    ~LineConverter();

    // Appends the conversion of `block`, the next bytes of a file, to `out` and returns how many
    // bytes it took. `atEnd` says that the file ends with this block: then it takes every byte and
    // writes the last line, if the file's bytes did not end with a terminator.
    //
    // Throws what the dictionary or the view throws; `out` then holds unspecified bytes after
    // LineStart(), and nothing the converter wrote before it is touched. The unfinished line is
    // abandoned: the next call starts a new line.
    std::size_t ConvertLines(std::string_view block, bool atEnd, std::string& out);
    std::size_t ConvertLines(std::string_view block, bool atEnd, ByteBuffer& out);

    // Where in `out` the line being converted began, or kNoLineStart when it began before the
    // last ConvertLines call.
    std::size_t LineStart() const noexcept { return reporter_.LineStart(); }

    // How the bytes of the next ConvertLines calls are read, from the start of a file on.
    // Throws DictionaryError when UTF-8 text cannot be converted on this system (no converter for
    // the code pages).
    void UseEncoding(TextEncoding encoding);

    // Starts a file whose encoding the converter tells from its bytes as they come: it is UTF-8
    // when it is well-formed UTF-8 throughout and holds a character of more than one byte (a byte
    // order mark counts), else Big5 or GB2312. While only ASCII has come, both read alike; the
    // first byte that is no UTF-8 character before any that is decides for Big5 or GB2312 then
    // and there. After a UTF-8 character, such a byte makes ConvertLines throw NotUtf8.
    void StartFileOfUnknownEncoding();
    // After NotUtf8: the count goes back to where it stood when the file started (the view sees
    // it with the next replacement), and the file is to be converted again from its start, as
    // Big5 or GB2312.
    void RestartFile();
    // How the file's bytes so far were read; once its last block is converted, what it is.
    TextEncoding Encoding() const noexcept { return encoding_; }

    // Whether long blocks are converted on two threads (by default: where the processor has more
    // than one core). Either way gives the same bytes and the same calls.
    void UseSecondThread(bool use) noexcept { useHelper_ = use; }

    // Hands `job` (which throws nothing) to run beside the next block: on the thread that converts
    // its second part, before it does, or on this thread before a block that is not cut in two.
    // One job at a time; every job handed has run once the next ConvertLines call returns or
    // throws, or FinishBehind returns.
    void RunBehind(std::function<void()> job) { behind_ = std::move(job); }
    // Runs the job handed to RunBehind here, if it has not run.
    void FinishBehind() noexcept;

    // One line without its terminator, converted (no CR LF added).
    std::string ConvertLine(std::string_view line);

    // Characters replaced so far in this run.
    std::uint64_t ConvertedCount() const noexcept { return reporter_.Count(); }

private:
    struct SecondPart;

    template <typename Bytes>
    std::size_t ConvertInto(std::string_view block, bool atEnd, Bytes& out);
    // Runs the kernel over `bytes` from `step` on until every byte is taken or the rest waits for
    // the next block, asking the dictionary and showing the replacements as the kernel stops.
    kernel::Progress Drive(kernel::Block& bytes, kernel::Progress step, kernel::Matching& matching);
    // Where a block of `size` bytes at `first` is cut for two threads (the byte after a line end),
    // or 0.
    std::size_t SplitPlace(const unsigned char* first, std::size_t size) const;
    // Takes what the helper made of the second part, from `split` on, after the first part that
    // ends at `step`: its bytes are moved to follow the first part's and its replacements shown.
    kernel::Progress JoinSecondPart(kernel::Block& bytes, kernel::Progress step, kernel::Matching& matching);

    // Puts the dictionary's answer for a character code into answers_; throws when the row cannot
    // be used.
    void LookUp(std::uint16_t code);
    // Puts the answers of every code whose row can be used into answers_ at once, and into
    // utf8Answers_ once it is made: before the first block cut in two. A row that cannot be used
    // stays unknown, so that its character still fails where it comes.
    void FillAnswers();
    void FillUtf8Answers();
    // The code pages and the phrases' UTF-8 forms, made when the first character needs them.
    void PrepareUtf8();
    // The same as LookUp for the character of the UTF-8 sequence at `in`, into utf8Answers_.
    void LookUpUtf8(const unsigned char* in, const unsigned char* end);

    ConversionDirection direction_;
    const CharacterDictionary& dictionary_;
    const kernel::Kernel* kernel_;
    CountReporter reporter_;
    // What to write for a double-byte character (kernel/AnswerTable.h), filled in as characters
    // come, or all at once for long blocks.
    struct FreeTable {
        void operator()(void* table) const noexcept { std::free(table); }
    };
    std::unique_ptr<std::uint16_t[], FreeTable> answers_;
    std::unique_ptr<PhraseIndex> phrases_; // none without phrases
    // The triggers by code point, for UTF-8 text with phrases, and how the kernels read its
    // characters as codes.
    std::vector<std::uint64_t> utf8Triggers_;
    std::vector<std::uint64_t> utf8ThreeBytes_;
    std::vector<std::uint64_t> utf8ChangedAfter_;
    std::vector<std::uint64_t> utf8ChangedBefore_;
    std::unique_ptr<kernel::Utf8Phrases> utf8Phrases_;
    // The same for UTF-8 text, indexed by code point (kernel/Utf8Path.h), made for the first file
    // in UTF-8, with the code pages it goes through.
    std::unique_ptr<std::uint32_t[], FreeTable> utf8Answers_;
    const CodePage* utf8Source_ = nullptr;
    const CodePage* utf8Target_ = nullptr;
    TextEncoding encoding_ = TextEncoding::CodePage;
    bool detecting_ = false;   // the encoding is told from the bytes: UTF-8 so far
    bool sawSequence_ = false; // ... with a character of more than one byte among them
    std::uint64_t fileStartCount_ = 0;
    bool inLine_ = false; // bytes of a line without its terminator have been taken
    bool useHelper_;
    std::uint64_t lookups_ = 0; // the times the kernel stopped for an answer
    bool answersFilled_ = false;           // FillAnswers has run
    std::unique_ptr<HelperThread> helper_; // started with the first long block
    std::unique_ptr<SecondPart> second_;
    std::function<void()> behind_; // RunBehind
};

} // namespace fanjian
