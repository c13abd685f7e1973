#pragma once

#include "conversion/ByteBuffer.h"
#include "conversion/LineConverter.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

namespace fanjian {

// Where a LineWriter's bytes go: a file of a run, or the filter's standard output.
class LineSink {
public:
    virtual ~LineSink() = default;
    // Writes every byte or throws; `written` goes up by the bytes that went out, also when it throws.
    virtual void Write(std::string_view bytes, std::uint64_t& written) = 0;
    // Takes the last `count` bytes written off again where it can (a file can, a pipe cannot).
    virtual void TakeBack(std::uint64_t count) noexcept = 0;
};

// Writes what a LineConverter makes, and owns the rule that output stopped by anything (a read or
// write that fails, a full disk, a damaged dictionary row, a signal, a closing window) ends after
// its last complete line: never half a line, never half a character.
//
// Its contract with the converter: what it is given is lines, each ending with CR LF, and no line
// holds a CR or LF of its own (the converter copies none into a line and refuses a dictionary
// answer with one). So the last LF that reached the sink ends the last complete line there, also
// when a write stopped half-way.
class LineWriter {
public:
    struct Settings {
        // Converted bytes are collected until there are this many, then they go out together;
        // a line longer than this goes out in pieces.
        std::size_t collect = 0;
        // The largest block handed to Convert at a time.
        std::size_t block = 0;
        // Each line goes out as soon as it is complete (a filter in a pipeline), not only when
        // `collect` bytes have come.
        bool eager = false;
        // After a failure, the complete lines not written yet still go out (where the sink is a
        // file, which never waits); else only what went out before stays.
        bool finishAfterFailure = true;
        // What was collected goes out while the converter converts the next block, beside it
        // (LineConverter::RunBehind); a write that fails stops the output at the next call.
        bool writeBehind = false;
    };

    explicit LineWriter(Settings settings);

    // Begins an output to `sink`; the writer keeps the memory it holds from one output to the next.
    void Start(LineSink& sink);
    // Converts the next `block` of the input into the output (LineConverter::ConvertLines) and
    // writes what is due: everything at `atEnd`. Returns the bytes taken from the block. Throws what
    // the converter and the sink throw.
    std::size_t Convert(LineConverter& converter, std::string_view block, bool atEnd);
    // After a failure anywhere, the converter's or the sink's included: the output ends after its
    // last complete line. Throws nothing; the output is done with.
    void KeepFinishedLines() noexcept;

private:
    void NoteLineStart(std::size_t lineStart) noexcept;
    // Writes the first `size` bytes held and lets them go: all of them behind the converter's
    // next block where the settings say so.
    void WriteOut(std::size_t size, LineConverter& converter);
    // Waits for the write behind, if one was handed. Where it failed, its bytes are held again
    // (those that went out counted in written_), as after a write that failed here, and its
    // failure waits in failed_.
    void SettleWrite() noexcept;
    // SettleWrite, then throws the failure of the write behind, if it failed.
    void FinishWrite();

    Settings settings_;
    LineSink* sink_ = nullptr;
    ByteBuffer held_;               // converted bytes not written yet
    std::uint64_t heldStart_ = 0;   // where the bytes held begin in the output
    std::uint64_t lineStart_ = 0;   // where the line being converted begins in the output
    std::uint64_t written_ = 0;     // bytes that reached the sink
    std::uint64_t linesWritten_ = 0; // where the last complete line that reached the sink ends
    // The write behind: its bytes, where they begin in the output and where the complete lines
    // among them end; the converter it was handed to; how it failed.
    ByteBuffer flight_;
    std::uint64_t flightStart_ = 0;
    std::uint64_t flightLines_ = 0;
    LineConverter* behind_ = nullptr;
    std::exception_ptr failed_;
};

} // namespace fanjian
