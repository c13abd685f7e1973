// Fuzz target: LineConverter::ConvertLines, the file reader's path.
//
// Input: one byte that picks the direction and the dictionary (bits 0-2, see PickSetup) and how
// the blocks are handed over (bit 3: atEnd comes with the last bytes instead of in a call of its
// own that holds only the tail; bit 4: the output is moved out whenever it passes 64 bytes, as a
// run writes it to disk), one byte L, L bytes of block sizes (each byte modulo 24, used in turn
// until the text runs out; 0 hands the tail over again with nothing new), then the text.
//
// The text is converted once whole and once in those blocks, each block with the tail the converter
// left of the one before, as the run reads a file. Both must give the reference's bytes; after every
// call the output so far is a prefix of it, LineStart() tells where the unfinished line begins, the
// tail is at most kMaxTail, and atEnd takes every byte. A failing lookup throws DictionaryError and
// leaves every finished line intact before LineStart(); the failing line is over then.

#include "FuzzHarness.h"

#include "conversion/Errors.h"
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
};

// After a failing lookup the failing line is over: another call starts a new line and writes no
// terminator for the abandoned one.
void CheckFailedLineIsOver(LineConverter& converter)
{
    std::string out = "x";
    const std::size_t taken = converter.ConvertLines("", true, out);
    FUZZ_CHECK(taken == 0 && out == "x", "after a failing lookup an empty end wrote " + Hex(out.substr(1)));
    FUZZ_CHECK(converter.LineStart() == 1, "after a failing lookup the next call starts no new line");
}

void CheckWholeText(std::string_view text, const Setup& setup, const ReferenceText& expected)
{
    CheckingView view;
    LineConverter converter(setup.direction, *setup.dictionary, view);
    std::string out(kBefore);
    const ExactCopy block(text);
    if (expected.failingLine) {
        bool threw = false;
        try {
            converter.ConvertLines(block.View(), true, out);
        } catch (const DictionaryError&) {
            threw = true;
        }
        FUZZ_CHECK(threw, "whole text: no DictionaryError");
        const std::size_t finished = expected.lineOutputStart[*expected.failingLine];
        FUZZ_CHECK(converter.LineStart() == kBefore.size() + finished,
                   "whole text: LineStart " + std::to_string(converter.LineStart()) + " after a failing lookup, expected " +
                       std::to_string(kBefore.size() + finished));
        FUZZ_CHECK(out.size() >= kBefore.size() + finished && out.compare(0, kBefore.size(), kBefore) == 0 &&
                       out.compare(kBefore.size(), finished, expected.output, 0, finished) == 0,
                   "whole text: finished lines not kept before LineStart: " + Hex(out));
        FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, "whole text: count at the failing lookup");
        view.Finish(converter.ConvertedCount());
        CheckFailedLineIsOver(converter);
        return;
    }
    const std::size_t taken = converter.ConvertLines(block.View(), true, out);
    FUZZ_CHECK(taken == text.size(), "whole text: took " + std::to_string(taken) + " of " + std::to_string(text.size()));
    FUZZ_CHECK(out.compare(0, kBefore.size(), kBefore) == 0, "whole text: bytes before the call changed");
    const std::string_view got = std::string_view(out).substr(kBefore.size());
    FUZZ_CHECK(got == expected.output, "whole text " + Hex(text) + " gave " + Hex(got) + ", expected " +
                                           Hex(expected.output));
    FUZZ_CHECK(converter.LineStart() == out.size(), "whole text: LineStart not at the end");
    FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, "whole text: count");
    if (setup.kind == DictionaryKind::Identity)
        CheckIdentityOutput(text, expected, got, converter.ConvertedCount());
    view.Finish(converter.ConvertedCount());
}

void CheckBlocks(std::string_view text, const Plan& plan, const Setup& setup, const ReferenceText& expected)
{
    CheckingView view;
    LineConverter converter(setup.direction, *setup.dictionary, view);
    std::string disk;              // what was moved out of `out`
    std::string out(kBefore);      // the converter appends here
    std::size_t written = 0;       // converted bytes so far, checked against the reference
    std::size_t lineStart = kBefore.size(); // where the unfinished line begins, disk and out together
    std::string pending;           // the tail not taken, then the next block's bytes
    std::size_t taken = 0;         // input bytes taken
    std::size_t next = 0;          // input bytes handed over
    std::size_t turn = 0;
    std::string calls;             // for messages: block sizes as handed over

    // One call; false when the lookup failed (checked here).
    const auto convert = [&](bool atEnd) {
        const ExactCopy block(pending);
        const std::size_t outBefore = out.size();
        const std::size_t lineBefore = expected.OutputLineStart(taken, false);
        calls += " " + std::to_string(pending.size()) + (atEnd ? "$" : "");
        std::size_t took = 0;
        try {
            took = converter.ConvertLines(block.View(), atEnd, out);
        } catch (const DictionaryError&) {
            FUZZ_CHECK(expected.failingLine, "blocks" + calls + ": DictionaryError without a failing lookup");
            if (converter.LineStart() != LineConverter::kNoLineStart)
                lineStart = disk.size() + converter.LineStart();
            const std::size_t finished = expected.lineOutputStart[*expected.failingLine];
            FUZZ_CHECK(lineStart == kBefore.size() + finished,
                       "blocks" + calls + ": unfinished line at " + std::to_string(lineStart) + " after a failing lookup, expected " +
                           std::to_string(kBefore.size() + finished));
            // The unfinished line may have begun before output was moved out: the run then cuts
            // the file back. Either way the bytes before it are the finished lines.
            const std::string all = disk + out;
            FUZZ_CHECK(all.size() >= lineStart && all.compare(0, kBefore.size(), kBefore) == 0 &&
                           all.compare(kBefore.size(), finished, expected.output, 0, finished) == 0,
                       "blocks" + calls + ": finished lines not kept: " + Hex(all));
            return false;
        }
        FUZZ_CHECK(took <= pending.size(), "blocks" + calls + ": took " + std::to_string(took));
        FUZZ_CHECK(pending.size() - took <= LineConverter::kMaxTail,
                   "blocks" + calls + ": left a tail of " + std::to_string(pending.size() - took));
        FUZZ_CHECK(!atEnd || took == pending.size(), "blocks" + calls + ": atEnd left a tail");
        // Bytes before this call's output are checked in the end, with the whole output.
        FUZZ_CHECK(out.size() >= outBefore, "blocks" + calls + ": output shrank");
        const std::string_view added = std::string_view(out).substr(outBefore);
        FUZZ_CHECK(expected.output.compare(written, added.size(), added) == 0,
                   "blocks" + calls + ": wrote " + Hex(added) + " where the reference has " +
                       Hex(std::string_view(expected.output).substr(written, added.size())));
        written += added.size();
        taken += took;
        pending.erase(0, took);

        const std::size_t lineNow = expected.OutputLineStart(taken, atEnd);
        if (converter.LineStart() == LineConverter::kNoLineStart) {
            FUZZ_CHECK(lineNow == lineBefore, "blocks" + calls + ": a line began in this call but LineStart says it did not");
        } else {
            FUZZ_CHECK(converter.LineStart() >= outBefore && converter.LineStart() <= out.size(),
                       "blocks" + calls + ": LineStart outside this call's output");
            lineStart = disk.size() + converter.LineStart();
        }
        FUZZ_CHECK(lineStart == kBefore.size() + lineNow, "blocks" + calls + ": unfinished line at " +
                                                              std::to_string(lineStart) + ", expected " +
                                                              std::to_string(kBefore.size() + lineNow));
        FUZZ_CHECK(converter.ConvertedCount() == view.Shown(), "blocks: converted and shown counts differ");
        if (plan.flush && out.size() >= kFlushSize) {
            disk += out;
            out.clear();
        }
        return true;
    };

    bool ended = false;
    bool failed = false;
    while (!failed && next < text.size()) {
        const std::size_t size =
            plan.sizes.empty() ? text.size() : std::min(plan.sizes[turn++ % plan.sizes.size()], text.size() - next);
        pending.append(text.substr(next, size));
        next += size;
        ended = next == text.size() && plan.atEndWithLastBytes;
        failed = !convert(ended);
    }
    if (!failed && !ended)
        failed = !convert(true);

    if (failed) {
        FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, "blocks" + calls + ": count at the failing lookup");
        view.Finish(converter.ConvertedCount());
        CheckFailedLineIsOver(converter);
        return;
    }
    FUZZ_CHECK(!expected.failingLine, "blocks" + calls + ": no DictionaryError");
    FUZZ_CHECK(taken == text.size() && pending.empty(), "blocks: not every byte taken");
    const std::string all = disk + out;
    FUZZ_CHECK(all.compare(0, kBefore.size(), kBefore) == 0, "blocks: bytes before the first call changed");
    FUZZ_CHECK(std::string_view(all).substr(kBefore.size()) == expected.output,
               "blocks" + calls + " of " + Hex(text) + " gave " + Hex(std::string_view(all).substr(kBefore.size())) +
                   ", expected " + Hex(expected.output));
    FUZZ_CHECK(lineStart == all.size(), "blocks: the last line is not finished");
    FUZZ_CHECK(converter.ConvertedCount() == expected.replacements, "blocks: count");
    view.Finish(converter.ConvertedCount());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const Setup setup = PickSetup(data[0]);
    const std::size_t sizeBytes = std::min<std::size_t>(data[1], size - 2);
    Plan plan{{}, (setup.options & 1) != 0, (setup.options & 2) != 0};
    for (std::size_t i = 0; i < sizeBytes; ++i)
        plan.sizes.push_back(data[2 + i] % 24);
    if (std::accumulate(plan.sizes.begin(), plan.sizes.end(), std::size_t{0}) == 0)
        plan.sizes.clear();
    const std::string_view text(reinterpret_cast<const char*>(data) + 2 + sizeBytes, size - 2 - sizeBytes);

    const ReferenceText expected = ConvertTextReference(text, setup);
    CheckWholeText(text, setup, expected);
    CheckBlocks(text, plan, setup, expected);
    return 0;
}
