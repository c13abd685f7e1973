#include "cli/StreamConversion.h"

#include "cli/Signals.h"
#include "cli/Streams.h"
#include "conversion/LineConverter.h"
#include "conversion/ProgressView.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fanjian::cli {

namespace {

constexpr std::string_view kStandardInput = "standard input";
constexpr std::string_view kStandardOutput = "standard output";
constexpr std::string_view kLineEnd = "\r\n";

// Shows nothing; each replaced character is a pass over the events, where a stop signal ends
// the conversion.
class StreamView : public SilentProgressView {
public:
    void ProcessPendingEvents() override { StopIfSignalled(); }
};

} // namespace

StreamConversion::StreamConversion(ConversionDirection direction, const CharacterDictionary& dictionary, int inFd,
                                   int outFd)
    : direction_(direction), dictionary_(dictionary), inFd_(inFd), outFd_(outFd)
{
}

void StreamConversion::Run()
{
    StreamView view;
    LineConverter converter(direction_, dictionary_, view);
    std::vector<char> input(kReadSize);
    std::size_t kept = 0;
    // Converted bytes not written yet: whole lines, then the start of the unfinished line.
    ByteBuffer pending;
    pending.reserve(kLongLine + 2 * kReadSize + 64);
    try {
        for (;;) {
            StopIfSignalled();
            const std::size_t got = ReadSome(inFd_, input.data() + kept, input.size() - kept, kStandardInput);
            const bool atEnd = got == 0;
            const std::string_view block(input.data(), kept + got);
            // Within a line the converter writes no CR or LF: the last CR LF ends the last whole
            // line. A CR LF may straddle the bytes before this block and the new ones.
            const std::size_t searchFrom = pending.empty() ? 0 : pending.size() - 1;
            const std::size_t taken = converter.ConvertLines(block, atEnd, pending);
            kept = block.size() - taken;
            std::memmove(input.data(), input.data() + taken, kept);

            if (atEnd) {
                Emit(View(pending));
                pending.clear();
                return;
            }
            const std::size_t lastEnd = View(pending).substr(searchFrom).rfind(kLineEnd);
            if (lastEnd != std::string_view::npos) {
                const std::size_t whole = searchFrom + lastEnd + kLineEnd.size();
                Emit(View(pending).substr(0, whole));
                pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(whole));
            }
            // A line this long goes out in pieces: memory stays bounded whatever the input.
            if (pending.size() >= kLongLine) {
                Emit(View(pending));
                pending.clear();
            }
        }
    } catch (...) {
        CutBackUnfinishedLine();
        throw;
    }
}

void StreamConversion::Emit(std::string_view bytes)
{
    std::size_t reached = 0;
    try {
        WriteAll(outFd_, bytes, kStandardOutput, &reached);
    } catch (...) {
        NoteWritten(bytes.substr(0, reached));
        throw;
    }
    NoteWritten(bytes);
}

void StreamConversion::NoteWritten(std::string_view written) noexcept
{
    const std::size_t end = written.rfind(kLineEnd);
    if (end == std::string_view::npos)
        unfinishedWritten_ += written.size();
    else
        unfinishedWritten_ = written.size() - end - kLineEnd.size();
}

void StreamConversion::CutBackUnfinishedLine() noexcept
{
    if (unfinishedWritten_ == 0)
        return;
    struct stat status {};
    if (::fstat(outFd_, &status) != 0 || !S_ISREG(status.st_mode))
        return; // a pipe or terminal keeps what it got
    // The descriptor stands after the last byte written, also when it appends.
    const off_t end = ::lseek(outFd_, 0, SEEK_CUR);
    if (end < static_cast<off_t>(unfinishedWritten_))
        return;
    if (::ftruncate(outFd_, end - static_cast<off_t>(unfinishedWritten_)) == 0) {
        (void)::lseek(outFd_, end - static_cast<off_t>(unfinishedWritten_), SEEK_SET);
        unfinishedWritten_ = 0;
    }
}

} // namespace fanjian::cli
