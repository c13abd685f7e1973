#include "conversion/LineWriter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace fanjian {

LineWriter::LineWriter(Settings settings) : settings_(settings)
{
    // The converter asks for room for twice the block it converts.
    held_.reserve(settings_.collect + 2 * settings_.block + 64);
}

void LineWriter::Start(LineSink& sink)
{
    SettleWrite();
    failed_ = nullptr;
    sink_ = &sink;
    held_.clear();
    heldStart_ = lineStart_ = written_ = linesWritten_ = 0;
}

std::size_t LineWriter::Convert(LineConverter& converter, std::string_view block, bool atEnd)
{
    std::size_t taken;
    try {
        taken = converter.ConvertLines(block, atEnd, held_);
    } catch (...) {
        // Where the line it stopped in begins: everything before it is complete. A write behind
        // that failed failed first.
        NoteLineStart(converter.LineStart());
        converter.FinishBehind();
        FinishWrite();
        throw;
    }
    NoteLineStart(converter.LineStart());
    if (atEnd) {
        WriteOut(held_.size(), converter);
        FinishWrite();
        return taken;
    }
    if (settings_.eager && lineStart_ > heldStart_)
        WriteOut(static_cast<std::size_t>(lineStart_ - heldStart_), converter);
    if (held_.size() >= settings_.collect)
        WriteOut(held_.size(), converter);
    return taken;
}

void LineWriter::NoteLineStart(std::size_t lineStart) noexcept
{
    if (lineStart != LineConverter::kNoLineStart)
        lineStart_ = heldStart_ + lineStart;
}

void LineWriter::WriteOut(std::size_t size, LineConverter& converter)
{
    FinishWrite();
    if (settings_.writeBehind && size == held_.size()) {
        flight_.swap(held_);
        held_.clear();
        flightStart_ = heldStart_;
        flightLines_ = std::min(lineStart_, heldStart_ + size);
        heldStart_ += size;
        behind_ = &converter;
        converter.RunBehind([this] {
            try {
                sink_->Write(View(flight_), written_);
            } catch (...) {
                failed_ = std::current_exception();
            }
        });
        return;
    }
    sink_->Write(View(held_).substr(0, size), written_);
    linesWritten_ = std::max(linesWritten_, std::min(lineStart_, written_));
    if (size == held_.size())
        held_.clear();
    else
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(size));
    heldStart_ += size;
}

void LineWriter::SettleWrite() noexcept
{
    if (behind_ == nullptr)
        return;
    std::exchange(behind_, nullptr)->FinishBehind();
    if (!failed_) {
        linesWritten_ = std::max(linesWritten_, std::min(flightLines_, written_));
        return;
    }
    // Held again in front of what came after them, they are where a write here would have left them.
    try {
        flight_.insert(flight_.end(), held_.begin(), held_.end());
        flight_.swap(held_);
        heldStart_ = flightStart_;
    } catch (const std::bad_alloc&) {
        // Without room for both, the bytes after them are let go: they never went out.
        held_.swap(flight_);
        heldStart_ = flightStart_;
        lineStart_ = flightLines_;
    }
    flight_.clear();
}

void LineWriter::FinishWrite()
{
    SettleWrite();
    if (failed_)
        std::rethrow_exception(std::exchange(failed_, nullptr));
}

void LineWriter::KeepFinishedLines() noexcept
{
    SettleWrite();
    failed_ = nullptr;
    if (sink_ == nullptr)
        return;
    // A write that failed may have taken part of what it was given: written_ is past heldStart_.
    if (settings_.finishAfterFailure && lineStart_ > written_) {
        try {
            sink_->Write(View(held_).substr(static_cast<std::size_t>(written_ - heldStart_),
                                            static_cast<std::size_t>(lineStart_ - written_)),
                         written_);
        } catch (...) {
            // The sink takes no more: what it holds ends after the last line that reached it.
        }
    }
    if (lineStart_ <= written_) {
        linesWritten_ = std::max(linesWritten_, lineStart_);
    } else if (const void* lineEnd = ::memrchr(held_.data(), '\n', static_cast<std::size_t>(written_ - heldStart_))) {
        // Within a line there is no LF: the last one that went out ends a line.
        linesWritten_ = std::max(linesWritten_,
                                 heldStart_ + static_cast<std::uint64_t>(static_cast<const char*>(lineEnd) - held_.data()) + 1);
    }
    if (written_ > linesWritten_)
        sink_->TakeBack(written_ - linesWritten_);
    held_.clear();
    sink_ = nullptr;
}

} // namespace fanjian
