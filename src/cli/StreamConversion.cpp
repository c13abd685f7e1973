#include "cli/StreamConversion.h"

#include "cli/Signals.h"
#include "cli/Streams.h"
#include "conversion/LineConverter.h"
#include "conversion/LineWriter.h"
#include "conversion/ProgressView.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fanjian::cli {

namespace {

constexpr std::string_view kStandardInput = "standard input";
constexpr std::string_view kStandardOutput = "standard output";

// Shows nothing; each replaced character is a pass over the events, where a stop signal ends
// the conversion.
class StreamView : public SilentProgressView {
public:
    void ProcessPendingEvents() override { StopIfSignalled(); }
};

// Standard output as the place a LineWriter writes to. Only a regular file can take bytes back.
class StandardOutputSink : public LineSink {
public:
    explicit StandardOutputSink(int fd) : fd_(fd) {}
    void Write(std::string_view bytes, std::uint64_t& written) override
    {
        std::size_t reached = 0;
        try {
            WriteAll(fd_, bytes, kStandardOutput, &reached);
        } catch (...) {
            written += reached;
            throw;
        }
        written += bytes.size();
    }
    void TakeBack(std::uint64_t count) noexcept override
    {
        struct stat status {};
        if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))
            return; // a pipe or terminal keeps what it got
        // The descriptor stands after the last byte written, also when it appends.
        const off_t end = ::lseek(fd_, 0, SEEK_CUR);
        if (end < static_cast<off_t>(count))
            return;
        if (::ftruncate(fd_, end - static_cast<off_t>(count)) == 0)
            (void)::lseek(fd_, end - static_cast<off_t>(count), SEEK_SET);
    }

private:
    int fd_;
};

} // namespace

StreamConversion::StreamConversion(ConversionDirection direction, const CharacterDictionary& dictionary, int inFd,
                                   int outFd, std::optional<TextEncoding> encoding, Phrasing phrasing)
    : direction_(direction), dictionary_(dictionary), inFd_(inFd), outFd_(outFd), encoding_(encoding),
      phrasing_(phrasing)
{
}

void StreamConversion::Run()
{
    StreamView view;
    LineConverter converter(direction_, dictionary_, view, phrasing_);
    // Until a byte that is not ASCII comes, both readings convert alike.
    converter.UseEncoding(encoding_.value_or(TextEncoding::CodePage));
    bool told = encoding_.has_value();
    std::vector<char> input(kReadSize);
    std::size_t kept = 0;
    // Each line goes out as soon as it is complete; after a failure nothing more does, as a pipe
    // may wait for ever for a reader that has stopped reading.
    LineWriter writer({.collect = kLongLine, .block = kReadSize, .eager = true, .finishAfterFailure = false});
    StandardOutputSink sink(outFd_);
    writer.Start(sink);
    try {
        for (;;) {
            StopIfSignalled();
            if (input.size() - kept < kReadSize)
                input.resize(kept + kReadSize);
            const std::size_t got = ReadSome(inFd_, input.data() + kept, input.size() - kept, kStandardInput);
            const bool ended = got == 0;
            const std::string_view bytes(input.data(), kept + got);
            // While the encoding is not told, what follows the first byte that is not ASCII waits.
            std::size_t ready = bytes.size();
            if (!told) {
                const std::size_t first = static_cast<std::size_t>(
                    std::find_if(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) -
                    bytes.begin());
                if (first < bytes.size()) {
                    std::optional<TextEncoding> encoding = TellEncoding(bytes.substr(first), ended, kTellingCharacters);
                    if (!encoding && bytes.size() - first >= kDecideSize)
                        encoding = TextEncoding::Utf8;
                    if (encoding) {
                        converter.UseEncoding(*encoding);
                        told = true;
                    } else {
                        ready = first;
                    }
                }
            }
            const bool atEnd = ended && ready == bytes.size();
            const std::size_t taken = writer.Convert(converter, bytes.substr(0, ready), atEnd);
            if (atEnd) {
                reading_ = converter.Encoding();
                return;
            }
            kept = bytes.size() - taken;
            std::memmove(input.data(), input.data() + taken, kept);
        }
    } catch (...) {
        writer.KeepFinishedLines();
        throw;
    }
}

} // namespace fanjian::cli
