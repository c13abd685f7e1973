#include "conversion/LineConverter.h"

#include "conversion/kernel/AnswerTable.h"
#include "conversion/kernel/BytePath.h"
#include "conversion/kernel/Declarations.h"
#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"

#include <new>
#include <optional>
#include <string>

namespace fanjian {

namespace {

// An answer is written as its two bytes. A CR or LF among them would end the line in the middle
// and turn one line of the output into two: such an answer names no character.
constexpr bool HoldsLineBreak(std::uint16_t answer)
{
    return kernel::IsLineEnd(static_cast<unsigned char>(answer >> 8)) ||
           kernel::IsLineEnd(static_cast<unsigned char>(answer));
}

[[noreturn]] void ThrowLineBreakAnswer(ConversionDirection direction, std::uint16_t code, std::uint16_t answer)
{
    const bool toGb = direction == ConversionDirection::TraditionalToSimplified;
    throw DictionaryError(std::string("the dictionary row for ") + (toGb ? "big5=" : "gb=") + std::to_string(code) +
                          " answers " + std::to_string(answer) + ", whose bytes hold a line break");
}

} // namespace

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view)
    : LineConverter(direction, dictionary, view, kernel::Kernels().front())
{
}

LineConverter::LineConverter(ConversionDirection direction, const CharacterDictionary& dictionary, ProgressView& view,
                             const kernel::Kernel& kernel)
    : direction_(direction), dictionary_(dictionary), kernel_(&kernel), reporter_(view),
      answers_(static_cast<std::uint16_t*>(std::calloc(kernel::kAnswerCount, sizeof(std::uint16_t))))
{
    if (!answers_)
        throw std::bad_alloc();
    // The trail byte decides a lone lead byte; the dictionary is asked for the rest as they come.
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (const unsigned char lineEnd : {'\r', '\n'})
            kernel::AnswerFor(answers_.get(), static_cast<std::uint16_t>(lead << 8 | lineEnd)) = kernel::kLoneLead;
    }
}

std::string LineConverter::ConvertLine(std::string_view line)
{
    std::string out;
    ConvertLines(line, true, out);
    if (!line.empty())
        out.resize(out.size() - 2); // the CR LF that ends it
    return out;
}

void LineConverter::LookUp(std::uint16_t code)
{
    const std::optional<std::uint16_t> answer = dictionary_.Lookup(direction_, code);
    std::uint16_t put = kernel::kNoRow;
    if (answer) {
        if (HoldsLineBreak(*answer))
            ThrowLineBreakAnswer(direction_, code, *answer);
        put = kernel::InStoreOrder(static_cast<unsigned char>(*answer >> 8), static_cast<unsigned char>(*answer));
    }
    kernel::AnswerFor(answers_.get(), code) = put;
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, std::string& out)
{
    return ConvertInto(block, atEnd, out);
}

std::size_t LineConverter::ConvertLines(std::string_view block, bool atEnd, ByteBuffer& out)
{
    return ConvertInto(block, atEnd, out);
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
    const kernel::Block bytes{first,
                              first + block.size(),
                              atEnd,
                              base,
                              answers_.get(),
                              direction_ == ConversionDirection::TraditionalToSimplified ? &kernel::kToSimplified
                                                                                         : &kernel::kToTraditional};

    // The kernel converts the characters first, and the reporter shows them afterwards, all in
    // order, mostly once for the whole block: the view sees no output, and nothing but the count
    // tells it how far the conversion has come. Before the dictionary is asked, which may throw,
    // every replacement before is shown. Whatever stops the block abandons its unfinished line:
    // the next call starts a new one.
    try {
        kernel::Progress step{first, base + start, kernel::Stop::Done};
        for (;;) {
            step = kernel_->convert(bytes, step.in, step.o, reporter_.Marks());
            if (step.stop == kernel::Stop::Done || step.stop == kernel::Stop::Tail)
                break;
            reporter_.ShowWaiting();
            if (step.stop == kernel::Stop::Unknown)
                LookUp(kernel::CodeAt(step.in));
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
        return static_cast<std::size_t>(step.in - first);
    } catch (...) {
        inLine_ = false;
        throw;
    }
}

} // namespace fanjian
