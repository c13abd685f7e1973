#pragma once

#include "dictionary/ConversionDirection.h"
#include "conversion/ProgressView.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fanjian {

class CharacterDictionary;

// Makes the elements of a container without setting them (a char is left as it is), so that a
// buffer grows without writing the bytes it is about to receive.
template <typename T>
struct UnsetAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <typename U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U* place) noexcept
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// What a run collects the converted bytes in: the converter asks for room for the worst case of
// each block, twice its size, and mostly uses about half of it.
using ByteBuffer = std::vector<char, UnsetAllocator<char>>;

inline std::string_view View(const ByteBuffer& bytes)
{
    return {bytes.data(), bytes.size()};
}

// Converts the lines of one run, character by character, through the dictionary, and retargets
// the page declarations (charset=big5 <-> charset=gb2312, content="zh-tw <-> content="zh-cn).
//
// A line ends at LF, CR LF or a lone CR and is written with CR LF. Within a line, a byte
// 0x81..0xFE followed by another byte of the line starts a double-byte character (lead * 256 +
// trail); every other byte is a character of its own. A declaration is matched only where a
// character starts, and never across lines.
//
// A file's bytes may come in blocks of any size, however long its lines are: ConvertLines stops
// before a short tail whose meaning depends on bytes not yet read (a lead byte, a CR, the start of
// what may be a declaration; never more than kMaxTail bytes), which the caller hands over again at
// the front of the next block. Any split of a file gives the same bytes.
//
// The text handed to the view's ShowCharacterCount lives in the converter: it stays valid until
// the next replacement or until the converter is destroyed. The calls for the characters a call
// of ConvertLines replaces (ShowCharacterCount, then ProcessPendingEvents, for each in order)
// come once it has converted the block, or earlier, before it asks the dictionary for a code for
// the first time or when many lines are waiting.
//
// The converter keeps every answer it has looked up: its dictionary stays open, and unchanged,
// while the converter is in use.
class LineConverter {
public:
    static constexpr std::size_t kMaxTail = 16;
    static constexpr std::size_t kNoLineStart = static_cast<std::size_t>(-1);

    LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view);

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
    std::size_t LineStart() const noexcept { return lineStart_; }

    // One line without its terminator, converted (no CR LF added).
    std::string ConvertLine(std::string_view line);

    // Characters replaced so far in this run.
    std::uint64_t ConvertedCount() const noexcept { return count_; }

private:
    template <typename Bytes>
    std::size_t ConvertInto(std::string_view block, bool atEnd, Bytes& out);

    // Counts the `waiting` replacements made since the last call and shows each: ShowCharacterCount
    // with the count, then ProcessPendingEvents. If the view throws, sets lineStart_ to the start
    // of the line of the replacement shown last.
    void ShowReplacements(std::size_t waiting);
    // Advances the count text past a last digit 9.
    void CarryCountDigits();
    // Moves the count text on by `added`.
    void AddToCount(std::uint64_t added);

    // What answers_ holds for a character code once the dictionary has been asked (never
    // kUnknown); throws when the row cannot be used.
    std::uint16_t LookUp(std::uint16_t code);

    ConversionDirection direction_;
    const CharacterDictionary& dictionary_;
    ProgressView& view_;
    bool viewSkips_; // the view does without some pairs of calls (ProgressView::SkipsQuietCounts)
    // What to write for a double-byte character, indexed by its code (see LineConverter.cpp).
    // Filled in as characters come.
    struct FreeTable {
        void operator()(std::uint16_t* table) const noexcept { std::free(table); }
    };
    std::unique_ptr<std::uint16_t[], FreeTable> answers_;
    std::uint64_t count_ = 0;
    bool inLine_ = false; // bytes of a line without its terminator have been taken
    std::size_t lineStart_ = kNoLineStart;
    // "第 <count> 字", kept up to date digit by digit.
    static constexpr std::size_t kCountPrefixLength = 4; // "第 " in UTF-8
    static constexpr std::size_t kCountSuffixLength = 4; // " 字"
    char countText_[kCountPrefixLength + 20 + kCountSuffixLength];
    std::size_t countLength_ = 0;
    // Where the lines of replacements not yet shown begin: the line of the first one, and for
    // every line after it the number of replacements before it.
    struct LineMark {
        std::size_t waitingBefore;
        std::size_t lineStart;
    };
    static constexpr std::size_t kMaxLineMarks = 256;
    std::size_t firstLineStart_ = kNoLineStart;
    LineMark lineMarks_[kMaxLineMarks];
    std::size_t markCount_ = 0;
};

} // namespace fanjian
