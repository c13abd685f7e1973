#include "conversion/LineConverter.h"

#include "conversion/CodePages.h"
#include "conversion/HelperThread.h"
#include "conversion/PhraseIndex.h"
#include "conversion/kernel/AnswerTable.h"
#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Declarations.h"
#include "conversion/kernel/Utf8Path.h"
#include "conversion/kernel/Utf8Phrases.h"
#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <sched.h>

namespace fanjian {

namespace {

// An answer is written as its two bytes. A CR or LF among them would end the line in the middle
// and turn one line of the output into two: such an answer names no character.
constexpr bool HoldsLineBreak(std::uint16_t answer)
{
    return kernel::IsLineEnd(static_cast<unsigned char>(answer >> 8)) ||
           kernel::IsLineEnd(static_cast<unsigned char>(answer));
}

std::string RowName(ConversionDirection direction, std::uint16_t code)
{
    return std::string(direction == ConversionDirection::TraditionalToSimplified ? "big5=" : "gb=") +
           std::to_string(code);
}

[[noreturn]] void ThrowLineBreakAnswer(ConversionDirection direction, std::uint16_t code, std::uint16_t answer)
{
    throw DictionaryError("the dictionary row for " + RowName(direction, code) + " answers " + std::to_string(answer) +
                          ", whose bytes hold a line break");
}

// What the answer table holds for a code (kernel/AnswerTable.h). Where the dictionary's row cannot
// be used, throws why, or `quietly`, gives kUnknown.
std::uint16_t AnswerEntry(const CharacterDictionary::DirectionAnswers& rows, ConversionDirection direction,
                          std::uint16_t code, bool quietly)
{
    if (quietly && rows.IsBadRow(code))
        return kernel::kUnknown;
    const std::optional<std::uint16_t> answer = rows.Lookup(code);
    if (!answer)
        return kernel::kNoRow;
    if (HoldsLineBreak(*answer)) {
        if (quietly)
            return kernel::kUnknown;
        ThrowLineBreakAnswer(direction, code, *answer);
    }
    return kernel::InStoreOrder(static_cast<unsigned char>(*answer >> 8), static_cast<unsigned char>(*answer));
}

// The same for the table of UTF-8 text (kernel/Utf8Path.h): the source code page's code for the
// character, the dictionary's answer for that code, and the character the answer stands for in the
// target code page, in UTF-8.
std::uint32_t Utf8Entry(const CharacterDictionary::DirectionAnswers& rows, ConversionDirection direction,
                        const CodePage& source, const CodePage& target, const kernel::Utf8Phrases* phrases,
                        char16_t character, bool quietly)
{
    std::uint32_t entry = kernel::kUtf8NoRow;
    if (const std::uint16_t code = source.Code(character); code != 0) {
        if (quietly && rows.IsBadRow(code))
            return kernel::kUtf8Unknown;
        if (const std::optional<std::uint16_t> answer = rows.Lookup(code)) {
            const char16_t put = target.Character(*answer);
            if (put == 0) {
                if (quietly)
                    return kernel::kUtf8Unknown;
                const bool toGb = direction == ConversionDirection::TraditionalToSimplified;
                throw DictionaryError("the dictionary row for " + RowName(direction, code) + " answers " +
                                      std::to_string(*answer) + ", which is no " + (toGb ? "GB2312 or GBK" : "Big5") +
                                      " character: it cannot be written in UTF-8");
            }
            entry = kernel::Utf8Answer(character, put);
        }
    }
    // A trigger's entry carries the flag that the kernels tell triggers by (kernel/Utf8Path.h).
    if (phrases && kernel::IsUtf8Trigger(*phrases, character))
        entry = kernel::Utf8Flagged(entry);
    return entry;
}

// The cores this process may run on (taskset, a container's cpuset), not all the machine has: on
// one core the two threads would only take turns.
unsigned CoresAtHand()
{
    cpu_set_t cores;
    if (::sched_getaffinity(0, sizeof(cores), &cores) == 0)
        return static_cast<unsigned>(CPU_COUNT(&cores));
    return std::thread::hardware_concurrency();
}

} // namespace

std::optional<TextEncoding> TellEncoding(std::string_view first, bool whole, std::size_t enough)
{
    const auto* in = reinterpret_cast<const unsigned char*>(first.data());
    const auto* const end = in + first.size();
    std::size_t sequences = 0;
    while (in != end) {
        if (*in < 0x80) {
            ++in;
            continue;
        }
        const kernel::Utf8Sequence read = kernel::ReadSequence(in, end);
        if (read.length == -1 && !whole)
            break; // cut short by the end of what is at hand
        if (read.length <= 0)
            return TextEncoding::CodePage;
        ++sequences;
        in += read.length;
    }
    if (whole)
        return sequences != 0 ? TextEncoding::Utf8 : TextEncoding::CodePage;
    if (sequences != 0 && sequences >= enough)
        return TextEncoding::Utf8;
    return std::nullopt;
}

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view,
                             Phrasing phrasing)
    : LineConverter(direction, dictionary, view, kernel::Kernels().front(), phrasing)
{
}

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view,
                             const kernel::Kernel& kernel, Phrasing phrasing)
    : direction_(direction), dictionary_(dictionary), kernel_(&kernel), reporter_(view),
      answers_(static_cast<std::uint16_t*>(std::calloc(kernel::kAnswerCount, sizeof(std::uint16_t)))),
      useHelper_(CoresAtHand() > 1)
{
    if (!answers_)
        throw std::bad_alloc();
    // The trail byte decides a lone lead byte; the dictionary is asked for the rest as they come.
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (const unsigned char lineEnd : {'\r', '\n'})
            kernel::AnswerFor(answers_.get(), static_cast<std::uint16_t>(lead << 8 | lineEnd)) = kernel::kLoneLead;
    }
    if (phrasing == Phrasing::Phrases && dictionary_.IsOpen() && dictionary_.Phrases(direction_).size() != 0) {
        const CharacterDictionary::DirectionAnswers answers = dictionary_.Answers(direction_);
        phrases_ = std::make_unique<PhraseIndex>(dictionary_.Phrases(direction_), [&](std::uint16_t code) {
            using Alone = PhraseIndex::Alone;
            try {
                const std::optional<std::uint16_t> answer = answers.Lookup(code);
                if (!answer)
                    return Alone{Alone::Kind::NoRow};
                return HoldsLineBreak(*answer) ? Alone{Alone::Kind::Unusable} : Alone{Alone::Kind::Row, *answer};
            } catch (const DictionaryError&) {
                return Alone{Alone::Kind::Unusable};
            }
        });
        // A trigger's answer is known at once: the kernels look at it beside the phrases.
        for (const PhraseIndex::Trigger& trigger : phrases_->Triggers())
            kernel::AnswerFor(answers_.get(), trigger.code) = trigger.answer;
    }
}

// The second part of a long block, converted by the helper thread: its own block, cursor, marks
// and output buffer. Marks that fill up are kept for the caller's thread to show in order; where
// the dictionary is to be asked (or no memory is left for more marks), the helper stops and the
// caller's thread goes on from there.
struct LineConverter::SecondPart {
    kernel::Block bytes;
    kernel::Progress step;
    kernel::Matching matching;
    kernel::LineMarks marks;
    std::vector<kernel::LineMarks> filled; // kept from block to block
    std::size_t filledCount = 0;
    ByteBuffer out;
    bool utf8;
    // The share of a block the helper takes, so that both threads end together: its input comes
    // from the other core's cache, and the caller's thread may have other work.
    double share = 0.5;
    std::chrono::steady_clock::duration took{}; // the helper's time for its part

    // After a block whose two parts both went to their ends, the first part in `first`: the
    // share that would have had both end together, halfway.
    void Balance(std::chrono::steady_clock::duration first, std::size_t firstBytes)
    {
        const double helperSpeed = static_cast<double>(bytes.end - bytes.first) / static_cast<double>(took.count() + 1);
        const double ownSpeed = static_cast<double>(firstBytes) / static_cast<double>(first.count() + 1);
        share = std::clamp((share + helperSpeed / (helperSpeed + ownSpeed)) / 2, 0.25, 0.75);
    }

    // Runs `before` (a job handed to RunBehind, or nothing), then converts the part.
    void Convert(const kernel::Kernel& kernel, const std::function<void()>& before) noexcept
    {
        const auto start = std::chrono::steady_clock::now();
        if (before)
            before();
        filledCount = 0;
        for (;;) {
            step = (utf8 ? kernel.convertUtf8 : kernel.convert)(bytes, step.in, step.o, marks, matching);
            if (step.stop != kernel::Stop::MarksFull)
                break;
            try {
                if (filledCount == filled.size())
                    filled.emplace_back();
            } catch (const std::bad_alloc&) {
                break;
            }
            filled[filledCount++] = marks;
            marks.waiting = 0;
            marks.firstLineStart = marks.lineStart;
            marks.count = 0;
        }
        took = std::chrono::steady_clock::now() - start;
    }
};

LineConverter::~LineConverter() = default;

std::string LineConverter::ConvertLine(std::string_view line)
{
    std::string out;
    ConvertLines(line, true, out);
    if (!line.empty())
        out.resize(out.size() - 2); // the CR LF that ends it
    return out;
}

void LineConverter::FinishBehind() noexcept
{
    if (behind_)
        std::exchange(behind_, {})();
}

void LineConverter::LookUp(std::uint16_t code)
{
    kernel::AnswerFor(answers_.get(), code) = AnswerEntry(dictionary_.Answers(direction_), direction_, code, false);
}

void LineConverter::FillAnswers()
{
    answersFilled_ = true;
    std::uint16_t* const answers = answers_.get();
    const CharacterDictionary::DirectionAnswers rows = dictionary_.Answers(direction_);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0; trail <= 0xFF; ++trail) {
            const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
            if (std::uint16_t& put = kernel::AnswerFor(answers, code); put == kernel::kUnknown)
                put = AnswerEntry(rows, direction_, code, true);
        }
    }
    if (utf8Source_)
        FillUtf8Answers();
}

void LineConverter::FillUtf8Answers()
{
    const CharacterDictionary::DirectionAnswers rows = dictionary_.Answers(direction_);
    for (std::uint32_t c = 0x80; c < kernel::kUtf8AnswerCount; ++c) {
        if (utf8Answers_[c] == kernel::kUtf8Unknown && (c < 0xD800 || c > 0xDFFF))
            utf8Answers_[c] = Utf8Entry(rows, direction_, *utf8Source_, *utf8Target_, utf8Phrases_.get(),
                                        static_cast<char16_t>(c), true);
    }
}

void LineConverter::StartFileOfUnknownEncoding()
{
    UseEncoding(TextEncoding::Utf8);
    detecting_ = true;
    sawSequence_ = false;
    fileStartCount_ = reporter_.Count();
}

void LineConverter::RestartFile()
{
    reporter_.SetCount(fileStartCount_);
    UseEncoding(TextEncoding::CodePage);
    inLine_ = false;
}

void LineConverter::UseEncoding(TextEncoding encoding)
{
    detecting_ = false;
    if (encoding == TextEncoding::Utf8 && !utf8Answers_) {
        // An empty table: the first character that is not ASCII stops the kernel, and only then
        // are the code pages and the phrases' UTF-8 forms made (PrepareUtf8), which files of
        // ASCII, Big5 or GB2312 never need.
        utf8Answers_.reset(static_cast<std::uint32_t*>(std::calloc(kernel::kUtf8AnswerCount, sizeof(std::uint32_t))));
        if (!utf8Answers_)
            throw std::bad_alloc();
    }
    encoding_ = encoding;
}

void LineConverter::PrepareUtf8()
{
    const bool toGb = direction_ == ConversionDirection::TraditionalToSimplified;
    const CodePage* source = nullptr;
    const CodePage* target = nullptr;
    try {
        source = toGb ? &CodePage::Big5() : &CodePage::Gb();
        target = toGb ? &CodePage::Gb() : &CodePage::Big5();
    } catch (const std::system_error& error) {
        throw DictionaryError(std::string("UTF-8 text cannot be converted: ") + error.what());
    }
    if (phrases_) {
        utf8Triggers_.assign(kernel::kUtf8AnswerCount / 64, 0);
        for (const PhraseIndex::Trigger& trigger : phrases_->Triggers()) {
            if (const char16_t c = source->Character(trigger.code); c != 0)
                utf8Triggers_[c >> 6] |= std::uint64_t{1} << (c & 63);
        }
        // The phrases written with three bytes a character, alone and in the phrase.
        const kernel::Phrases& view = phrases_->View();
        const CharacterDictionary::DirectionAnswers answers = dictionary_.Answers(direction_);
        const auto unitCode = [](std::uint16_t unit) {
            const auto* b = reinterpret_cast<const unsigned char*>(&unit);
            return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
        };
        const auto threeBytesAlone = [&](std::uint16_t code) {
            try {
                const std::optional<std::uint16_t> answer = answers.Lookup(code);
                return !answer || target->Character(*answer) >= 0x800;
            } catch (const DictionaryError&) {
                return true; // it never converts alone before a phrase: that fails first
            }
        };
        const std::size_t count = phrases_->Count();
        utf8ThreeBytes_.assign((count + 63) / 64, 0);
        for (std::size_t i = 0; i < count; ++i) {
            const kernel::PhraseEntry& entry = view.entries[i];
            bool three = true;
            for (std::size_t k = 0; k < entry.length && three; ++k) {
                const std::uint16_t code = unitCode(view.units[entry.source + k]);
                three = source->Character(code) >= 0x800 &&
                        target->Character(unitCode(view.units[entry.target + k])) >= 0x800 && threeBytesAlone(code);
            }
            if (three)
                utf8ThreeBytes_[i >> 6] |= std::uint64_t{1} << (i & 63);
        }
        // The pairs of changed characters and their neighbours, as pairs of code points.
        const std::size_t words = std::size_t{1} << view.changedPairBits >> 6;
        for (auto [pairs, bits] : {std::pair{&phrases_->ChangedPairsAfter(), &utf8ChangedAfter_},
                                   std::pair{&phrases_->ChangedPairsBefore(), &utf8ChangedBefore_}}) {
            bits->assign(words, 0);
            for (const std::uint32_t pair : *pairs) {
                const char16_t first = source->Character(static_cast<std::uint16_t>(pair >> 16));
                const char16_t second = source->Character(static_cast<std::uint16_t>(pair));
                if (first != 0 && second != 0)
                    kernel::AddPair(bits->data(), view.changedPairBits,
                                    static_cast<std::uint32_t>(first) << 16 | second);
            }
        }
        utf8Phrases_.reset(new kernel::Utf8Phrases{utf8Triggers_.data(), source->Codes(), target->Characters(),
                                                   utf8ThreeBytes_.data(), utf8ChangedAfter_.data(),
                                                   utf8ChangedBefore_.data()});
    }
    // Last, as LookUpUtf8 calls this while utf8Source_ is unset.
    utf8Source_ = source;
    utf8Target_ = target;
    if (answersFilled_)
        FillUtf8Answers();
}

void LineConverter::LookUpUtf8(const unsigned char* in, const unsigned char* end)
{
    if (!utf8Source_)
        PrepareUtf8();
    const auto character = static_cast<char16_t>(kernel::ReadSequence(in, end).codePoint);
    utf8Answers_[character] = Utf8Entry(dictionary_.Answers(direction_), direction_, *utf8Source_, *utf8Target_,
                                        utf8Phrases_.get(), character, false);
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, std::string& out)
{
    return ConvertInto(block, atEnd, out);
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, ByteBuffer& out)
{
    return ConvertInto(block, atEnd, out);
}

std::size_t LineConverter::SplitPlace(const unsigned char* first, std::size_t size) const
{
    if (!useHelper_ || size < kSplitSize)
        return 0;
    // Each part long enough to be worth a thread's wake-up.
    const std::size_t least = kSplitSize / 4;
    const double share = second_ ? second_->share : 0.5;
    const auto middle = std::clamp(size - static_cast<std::size_t>(share * static_cast<double>(size)), least, size - least);
    if (const void* lf = std::memchr(first + middle, '\n', size - middle - least))
        return static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - first) + 1;
    if (const void* lf = ::memrchr(first + least, '\n', middle - least))
        return static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - first) + 1;
    return 0;
}

kernel::Progress LineConverter::Drive(kernel::Block& bytes, kernel::Progress step, kernel::Matching& matching)
{
    for (;;) {
        const bool utf8 = encoding_ == TextEncoding::Utf8;
        step = (utf8 ? kernel_->convertUtf8 : kernel_->convert)(bytes, step.in, step.o, reporter_.Marks(), matching);
        sawSequence_ = sawSequence_ || step.sawSequence;
        if (step.stop == kernel::Stop::Done || step.stop == kernel::Stop::Tail)
            return step;
        if (step.stop == kernel::Stop::Malformed) {
            // Nothing but ASCII before it: what was written is what Big5 or GB2312 gives.
            if (sawSequence_)
                throw NotUtf8();
            encoding_ = TextEncoding::CodePage;
            detecting_ = bytes.strictUtf8 = false;
            bytes.utf8Phrases = nullptr;
            continue;
        }
        if (step.stop == kernel::Stop::Unknown) {
            // The helper reads the answers: none is written while it runs.
            if (helper_)
                helper_->Wait();
            ++lookups_;
            // A failing lookup ends the block: every replacement before it is shown first.
            try {
                if (utf8) {
                    LookUpUtf8(step.in, bytes.end);
                    bytes.utf8Phrases = utf8Phrases_.get(); // made with the first character
                } else
                    LookUp(kernel::CodeAt(step.in));
            } catch (const DictionaryError&) {
                reporter_.ShowWaiting();
                throw;
            }
            continue;
        }
        reporter_.ShowWaiting();
    }
}

kernel::Progress LineConverter::JoinSecondPart(kernel::Block& bytes, kernel::Progress step, kernel::Matching& matching)
{
    helper_->Wait();
    SecondPart& second = *second_;
    const unsigned char* const split = bytes.end;
    bytes.end = second.bytes.end;
    bytes.atEnd = second.bytes.atEnd;
    if (step.stop != kernel::Stop::Done || step.in != split || (encoding_ == TextEncoding::Utf8) != second.utf8) {
        // The first part left a tail, as at a block's end, or turned out to be no UTF-8 before
        // any UTF-8 character: the rest is converted here, from where it ends.
        matching = {step.in, step.in};
        return Drive(bytes, step, matching);
    }
    reporter_.ShowWaiting();
    // The second part was written into a buffer of its own (the lines the helper wrote stay in its
    // core's cache, away from those the caller's thread writes next): it follows the first part,
    // and so do its marks.
    const auto length = static_cast<std::size_t>(second.step.o - second.out.data());
    std::memcpy(step.o, second.out.data(), length);
    const auto shift = static_cast<std::size_t>(step.o - bytes.base);
    const auto move = [shift](kernel::LineMarks& marks) {
        marks.lineStart += shift;
        marks.firstLineStart += shift;
        for (std::size_t i = 0; i < marks.count; ++i)
            marks.marks[i].lineStart += shift;
    };
    for (std::size_t i = 0; i < second.filledCount; ++i) {
        move(second.filled[i]);
        reporter_.Marks() = second.filled[i];
        reporter_.ShowWaiting();
    }
    move(second.marks);
    reporter_.Marks() = second.marks;
    matching = second.matching;
    sawSequence_ = sawSequence_ || second.step.sawSequence;
    step = {second.step.in, step.o + length, second.step.stop, second.step.sawSequence};
    if (step.stop == kernel::Stop::Done || step.stop == kernel::Stop::Tail)
        return step;
    // The helper stopped where the caller's thread is to go on.
    if (step.stop == kernel::Stop::MarksFull)
        reporter_.ShowWaiting();
    return Drive(bytes, step, matching);
}

template <typename Bytes>
std::size_t LineConverter::ConvertInto(std::string_view block, bool atEnd, Bytes& out)
{
    dictionary_.Answers(direction_); // throws when the dictionary is not open
    const auto* const first = reinterpret_cast<const unsigned char*>(block.data());

    // Room for the worst case: every byte a lone LF, or a growing declaration every 12 bytes. So
    // the output of the bytes before `in` never takes more than twice their number, and sixteen
    // bytes stored at `o` fit wherever seventeen bytes are left to read.
    const std::size_t start = out.size();
    out.resize(start + 2 * block.size() + 2);
    char* const base = out.data();
    reporter_.StartBlock(inLine_ ? kNoLineStart : start);
    const bool toGb = direction_ == ConversionDirection::TraditionalToSimplified;
    kernel::Block bytes{first,
                        first + block.size(),
                        atEnd,
                        base,
                        answers_.get(),
                        utf8Answers_.get(),
                        toGb ? &kernel::kToSimplified : &kernel::kToTraditional,
                        detecting_,
                        phrases_ ? &phrases_->View() : nullptr,
                        encoding_ == TextEncoding::Utf8 ? utf8Phrases_.get() : nullptr};
    kernel::Matching matching{first, first};

    // The kernel converts the characters first, and the reporter shows them afterwards, all in
    // order, mostly once for the whole block: the view sees no output, and nothing but the count
    // tells it how far the conversion has come. Before a failing lookup throws, every replacement
    // before it is shown. Whatever stops the block abandons its unfinished line: the next call
    // starts a new one.
    try {
        kernel::Progress step{first, base + start, kernel::Stop::Done};
        if (const std::size_t split = SplitPlace(first, block.size()); split != 0) {
            // The second part begins a line: the helper converts it as a block of its own.
            if (!helper_) {
                second_ = std::make_unique<SecondPart>();
                helper_ = std::make_unique<HelperThread>();
            }
            // Each stop for an answer would hold both threads up, and a run meets thousands of
            // characters for the first time.
            if (!answersFilled_)
                FillAnswers();
            SecondPart& second = *second_;
            second.bytes = bytes;
            second.bytes.first = first + split;
            second.out.resize(2 * (block.size() - split) + 2);
            second.bytes.base = second.out.data();
            second.step = {first + split, second.bytes.base, kernel::Stop::Done};
            second.matching = {first + split, first + split};
            second.marks.waiting = 0;
            second.marks.lineStart = second.marks.firstLineStart = 0;
            second.marks.count = 0;
            second.utf8 = encoding_ == TextEncoding::Utf8;
            const auto started = std::chrono::steady_clock::now();
            helper_->Start(
                [&second, kernel = kernel_, before = std::exchange(behind_, {})] { second.Convert(*kernel, before); });
            bytes.end = first + split;
            bytes.atEnd = false;
            const std::uint64_t lookups = lookups_;
            const kernel::Progress firstPart = Drive(bytes, step, matching);
            const auto firstTook = std::chrono::steady_clock::now() - started;
            step = JoinSecondPart(bytes, firstPart, matching);
            if (lookups == lookups_ && firstPart.in == second.bytes.first &&
                (second.step.stop == kernel::Stop::Done || second.step.stop == kernel::Stop::Tail))
                second.Balance(firstTook, split);
        } else {
            FinishBehind();
            step = Drive(bytes, step, matching);
        }
        reporter_.ShowWaiting();
        // Whether a line is unfinished is told by the last byte taken: CR and LF are only ever
        // taken as line terminators.
        if (step.in != first)
            inLine_ = !kernel::IsLineEnd(step.in[-1]);
        out.resize(static_cast<std::size_t>(step.o - base));
        if (atEnd && inLine_) {
            // The last line had no terminator; it is written with one all the same.
            out.insert(out.end(), {'\r', '\n'});
            inLine_ = false;
            reporter_.StartBlock(out.size());
        }
        if (atEnd && detecting_) {
            // Only ASCII: read alike either way, it is no UTF-8 text.
            encoding_ = sawSequence_ ? TextEncoding::Utf8 : TextEncoding::CodePage;
            detecting_ = false;
        }
        return static_cast<std::size_t>(step.in - first);
    } catch (...) {
        if (helper_)
            helper_->Wait(); // it reads the block
        FinishBehind();
        inLine_ = false;
        throw;
    }
}

} // namespace fanjian
