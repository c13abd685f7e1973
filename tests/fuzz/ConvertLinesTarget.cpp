// Fuzz target: LineConverter::ConvertLines, the file reader's path.
//
// Input: one byte that picks the direction and the dictionary (bits 0-2, see PickSetup) and how
// the text is handed over (bit 3: atEnd comes with the last bytes instead of in a call of its own
// that holds only the tail; bit 4: the output is moved out whenever it passes 64 bytes, as a run
// writes it to disk; bit 5: the view throws at replacement 1 + bits 6-7, as a closing window does),
// one byte L, L bytes of block sizes (each byte modulo 24, used in turn until the text runs out;
// 0 hands the tail over again with nothing new), then the text.
//
// The text is read as Big5 or GB2312 and as UTF-8, and converted, by each kernel, once whole and
// once in those blocks, each block with the tail the converter left of the one before, as the run
// reads a file; and once more in the encoding told from its bytes. All must give the reference's
// bytes; after every
// call the output so far is a prefix of it, LineStart() tells where the unfinished line begins, the
// tail is at most kMaxTail, and atEnd takes every byte. A failing lookup throws DictionaryError,
// an abandoning view its own exception; either leaves every finished line intact before the
// unfinished line's start, and that line is over then.

#include "FuzzHarness.h"

#include "dictionary/Errors.h"
#include "conversion/LineConverter.h"

#include <algorithm>
#include <numeric>

using namespace fanjian;
using namespace fanjian::fuzz;

namespace {

// Bytes already in `out` before the first call: a lead byte and a CR, which must stay as they are.
constexpr std::string_view kBefore = "\xB0 before\r";
constexpr std::size_t kFlushSize = 64;

struct Plan {
    std::vector<std::size_t> sizes; // empty: the whole text in one block
    bool atEndWithLastBytes;
    bool flush;
    std::optional<std::uint64_t> abandonAt;
};

// Calls ConvertLines; returns why it stopped (Stop::None when it returned).
Stop Convert(LineConverter& converter, std::string_view block, bool atEnd, std::string& out, std::size_t& taken)
{
    try {
        taken = converter.ConvertLines(block, atEnd, out);
        return Stop::None;
    } catch (const DictionaryError&) {
        return Stop::FailingLookup;
    } catch (const Abandoned&) {
        return Stop::ViewAbandons;
    }
}

std::string StopName(Stop stop)
{
    switch (stop) {
    case Stop::None:
        return "no stop";
    case Stop::FailingLookup:
        return "a failing lookup";
    case Stop::ViewAbandons:
        return "an abandoning view";
    }
    return "?";
}

// After a stop the unfinished line is over: another call starts a new line and writes no
// terminator for the abandoned one.
void CheckStoppedLineIsOver(LineConverter& converter, const std::string& context)
{
    std::string out = "x";
    const std::size_t taken = converter.ConvertLines("", true, out);
    FUZZ_CHECK(taken == 0 && out == "x", context + ": after the stop an empty end wrote " + Hex(out.substr(1)));
    FUZZ_CHECK(converter.LineStart() == 1, context + ": after the stop the next call starts no new line");
}

// After a stop: the unfinished line starts where the reference's stopped line starts, the output
// before it holds the finished lines, and the count is the reference's.
void CheckStop(const ReferenceText& expected, Stop stop, std::string_view output, std::size_t lineStart,
               std::uint64_t count, const std::string& context)
{
    FUZZ_CHECK(stop == expected.stop,
               context + ": stopped by " + StopName(stop) + ", expected " + StopName(expected.stop));
    const std::size_t finished = expected.lineOutputStart[expected.stoppedLine];
    FUZZ_CHECK(lineStart == kBefore.size() + finished, context + ": unfinished line at " + std::to_string(lineStart) +
                                                           " after the stop, expected " +
                                                           std::to_string(kBefore.size() + finished));
    FUZZ_CHECK(output.size() >= lineStart && output.substr(0, kBefore.size()) == kBefore &&
                   output.substr(kBefore.size(), finished) == std::string_view(expected.output).substr(0, finished),
               context + ": finished lines not kept: " + Hex(output));
    FUZZ_CHECK(count == expected.replacements, context + ": count " + std::to_string(count) +
                                                   " at the stop, expected " + std::to_string(expected.replacements));
}

void CheckWholeText(std::string_view text, const Plan& plan, const Setup& setup, const ReferenceText& expected,
                    const kernel::Kernel& kernel)
{
    CheckingView view(plan.abandonAt);
    LineConverter converter(setup.direction, *setup.dictionary, view, kernel);
    converter.UseEncoding(setup.encoding);
    std::string out(kBefore);
    const ExactCopy block(text);
    std::size_t taken = 0;
    const Stop stop = Convert(converter, block.View(), true, out, taken);
    if (stop != Stop::None) {
        CheckStop(expected, stop, out, converter.LineStart(), converter.ConvertedCount(), "whole text");
        view.Finish(converter.ConvertedCount());
        CheckStoppedLineIsOver(converter, "whole text");
        return;
    }
    FUZZ_CHECK(expected.stop == Stop::None, "whole text: not stopped by " + StopName(expected.stop));
    FUZZ_CHECK(taken == text.size(),
               "whole text: took " + std::to_string(taken) + " of " + std::to_string(text.size()));
    FUZZ_CHECK(out.compare(0, kBefore.size(), kBefore) == 0, "whole text: bytes before the call changed");
    const std::string_view got = std::string_view(out).substr(kBefore.size());
    FUZZ_CHECK(got == expected.output, "whole text " + Hex(text) + " gave " + Hex(got) + ", expected " +
                                           Hex(expected.output));
    FUZZ_CHECK(converter.LineStart() == out.size(), "whole text: LineStart not at the end");
    FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, "whole text: count");
    if (setup.kind == DictionaryKind::Identity && setup.encoding == TextEncoding::CodePage && !plan.abandonAt)
        CheckIdentityOutput(text, expected, got, converter.ConvertedCount());
    view.Finish(converter.ConvertedCount());
}

void CheckBlocks(std::string_view text, const Plan& plan, const Setup& setup, const ReferenceText& expected,
                 const kernel::Kernel& kernel)
{
    CheckingView view(plan.abandonAt);
    LineConverter converter(setup.direction, *setup.dictionary, view, kernel);
    converter.UseEncoding(setup.encoding);
    std::string disk;              // what was moved out of `out`
    std::string out(kBefore);      // the converter appends here
    std::size_t written = 0;       // converted bytes so far, checked against the reference
    std::size_t lineStart = kBefore.size(); // where the unfinished line begins, disk and out together
    std::string pending;           // the tail not taken, then the next block's bytes
    std::size_t taken = 0;         // input bytes taken
    std::size_t next = 0;          // input bytes handed over
    std::size_t turn = 0;
    std::string calls = "blocks";  // for messages: the block sizes handed over, $ with atEnd

    // One call as the run makes it; returns why it stopped.
    const auto convert = [&](bool atEnd) {
        const ExactCopy block(pending);
        const std::size_t outBefore = out.size();
        const std::size_t lineBefore = expected.OutputLineStart(taken, false);
        calls += " " + std::to_string(pending.size()) + (atEnd ? "$" : "");
        std::size_t took = 0;
        const Stop stop = Convert(converter, block.View(), atEnd, out, took);
        if (converter.LineStart() != LineConverter::kNoLineStart)
            lineStart = disk.size() + converter.LineStart();
        if (stop != Stop::None) {
            // The unfinished line may have begun before output was moved out: the run then cuts
            // the file back. Either way the bytes before it are the finished lines.
            CheckStop(expected, stop, disk + out, lineStart, converter.ConvertedCount(), calls);
            return stop;
        }
        FUZZ_CHECK(took <= pending.size(), calls + ": took " + std::to_string(took));
        FUZZ_CHECK(pending.size() - took <= LineConverter::kMaxTail,
                   calls + ": left a tail of " + std::to_string(pending.size() - took));
        FUZZ_CHECK(!atEnd || took == pending.size(), calls + ": atEnd left a tail");
        // Bytes before this call's output are checked in the end, with the whole output.
        FUZZ_CHECK(out.size() >= outBefore, calls + ": output shrank");
        const std::string_view added = std::string_view(out).substr(outBefore);
        FUZZ_CHECK(expected.output.compare(written, added.size(), added) == 0,
                   calls + ": wrote " + Hex(added) + " where the reference has " +
                       Hex(std::string_view(expected.output).substr(written, added.size())));
        written += added.size();
        taken += took;
        pending.erase(0, took);

        const std::size_t lineNow = expected.OutputLineStart(taken, atEnd);
        if (converter.LineStart() == LineConverter::kNoLineStart)
            FUZZ_CHECK(lineNow == lineBefore, calls + ": a line began in this call but LineStart says it did not");
        else
            FUZZ_CHECK(converter.LineStart() >= outBefore && converter.LineStart() <= out.size(),
                       calls + ": LineStart outside this call's output");
        FUZZ_CHECK(lineStart == kBefore.size() + lineNow, calls + ": unfinished line at " + std::to_string(lineStart) +
                                                              ", expected " + std::to_string(kBefore.size() + lineNow));
        FUZZ_CHECK(converter.ConvertedCount() == view.Shown(), calls + ": converted and shown counts differ");
        if (plan.flush && out.size() >= kFlushSize) {
            disk += out;
            out.clear();
        }
        return stop;
    };

    bool ended = false;
    Stop stop = Stop::None;
    while (stop == Stop::None && next < text.size()) {
        const std::size_t size =
            plan.sizes.empty() ? text.size() : std::min(plan.sizes[turn++ % plan.sizes.size()], text.size() - next);
        pending.append(text.substr(next, size));
        next += size;
        ended = next == text.size() && plan.atEndWithLastBytes;
        stop = convert(ended);
    }
    if (stop == Stop::None && !ended)
        stop = convert(true);

    if (stop != Stop::None) {
        view.Finish(converter.ConvertedCount());
        CheckStoppedLineIsOver(converter, calls);
        return;
    }
    FUZZ_CHECK(expected.stop == Stop::None, calls + ": not stopped by " + StopName(expected.stop));
    FUZZ_CHECK(taken == text.size() && pending.empty(), calls + ": not every byte taken");
    const std::string all = disk + out;
    FUZZ_CHECK(all.compare(0, kBefore.size(), kBefore) == 0, calls + ": bytes before the first call changed");
    FUZZ_CHECK(std::string_view(all).substr(kBefore.size()) == expected.output,
               calls + " of " + Hex(text) + " gave " + Hex(std::string_view(all).substr(kBefore.size())) +
                   ", expected " + Hex(expected.output));
    FUZZ_CHECK(lineStart == all.size(), calls + ": the last line is not finished");
    FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, calls + ": count");
    view.Finish(converter.ConvertedCount());
}

} // namespace

// The encoding told from the bytes, in the same blocks: UTF-8 as long as they are, and the whole
// text again as Big5 or GB2312 when they turn out not to be. It gives what the reference gives in
// the encoding the text has, unless a lookup fails on the way.
void CheckDetection(std::string_view text, const Plan& plan, Setup setup, const kernel::Kernel& kernel)
{
    setup.encoding = IsUtf8Text(text) ? TextEncoding::Utf8 : TextEncoding::CodePage;
    const ReferenceText expected = ConvertTextReference(text, setup);
    // The count goes back when the text turns out not to be UTF-8: no count check on the way.
    SilentProgressView view;
    LineConverter converter(setup.direction, *setup.dictionary, view, kernel);
    converter.StartFileOfUnknownEncoding();
    const auto convertAll = [&] {
        std::string out;
        std::string pending;
        std::size_t next = 0;
        for (std::size_t turn = 0; next < text.size(); ++turn) {
            const std::size_t size = plan.sizes.empty() ? text.size() : std::max<std::size_t>(plan.sizes[turn % plan.sizes.size()], 1);
            const std::size_t to = std::min(next + size, text.size());
            pending += text.substr(next, to - next);
            next = to;
            pending.erase(0, converter.ConvertLines(pending, false, out));
        }
        converter.ConvertLines(pending, true, out);
        return out;
    };
    std::string got;
    try {
        try {
            got = convertAll();
        } catch (const NotUtf8&) {
            FUZZ_CHECK(setup.encoding == TextEncoding::CodePage, "detection: UTF-8 text " + Hex(text) + " taken for none");
            converter.RestartFile();
            got = convertAll();
        }
    } catch (const DictionaryError&) {
        return; // a row that cannot be used, in one reading or the other
    }
    if (expected.stop != Stop::None)
        return;
    FUZZ_CHECK(converter.Encoding() == setup.encoding, "detection: " + Hex(text) + " taken in the wrong encoding");
    FUZZ_CHECK(got == expected.output, "detection: " + Hex(text) + " gave " + Hex(got) + ", expected " + Hex(expected.output));
    FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, "detection: count");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    Setup setup = PickSetup(data[0]);
    const std::size_t sizeBytes = std::min<std::size_t>(data[1], size - 2);
    Plan plan{{}, (setup.options & 1) != 0, (setup.options & 2) != 0, std::nullopt};
    if (setup.options & 4)
        plan.abandonAt = 1 + (setup.options >> 3);
    for (std::size_t i = 0; i < sizeBytes; ++i)
        plan.sizes.push_back(data[2 + i] % 24);
    if (std::accumulate(plan.sizes.begin(), plan.sizes.end(), std::size_t{0}) == 0)
        plan.sizes.clear();
    const std::string_view text(reinterpret_cast<const char*>(data) + 2 + sizeBytes, size - 2 - sizeBytes);

    for (const TextEncoding encoding : {TextEncoding::CodePage, TextEncoding::Utf8}) {
        setup.encoding = encoding;
        const ReferenceText expected = ConvertTextReference(text, setup, plan.abandonAt);
        for (const kernel::Kernel& kernel : kernel::Kernels()) {
            CheckWholeText(text, plan, setup, expected, kernel);
            CheckBlocks(text, plan, setup, expected, kernel);
        }
    }
    for (const kernel::Kernel& kernel : kernel::Kernels())
        CheckDetection(text, plan, setup, kernel);
    return 0;
}
