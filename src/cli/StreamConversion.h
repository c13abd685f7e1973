#pragma once

#include "conversion/LineConverter.h"
#include "dictionary/ConversionDirection.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace fanjian {
class CharacterDictionary;
}

namespace fanjian::cli {

// Filter mode: converts what comes from `inFd` and writes it to `outFd`, with the line conversion
// of a run (CR LF line ends, declarations retargeted), in bounded memory whatever the input.
//
// Output goes out in whole lines, as soon as each is complete, so a pipeline sees every line
// when its end has come in. Only a line longer than kLongLine goes out in pieces before its end.
// When the conversion stops before the end (a stop signal, a damaged dictionary row, an error
// reading or writing), no byte of the unfinished line is written after that; where the output is
// a regular file, the pieces of it already written are cut off again, so that the file ends after
// its last complete line, as a run leaves its file in progress. What went into a pipe stays.
//
// Without an encoding named, the input's is told from its first kDecideSize bytes (or all of it,
// when it is shorter), read before a byte is written: UTF-8 when they are UTF-8 and hold a
// character of more than one byte, Big5 or GB2312 when they hold bytes that are no UTF-8. Where
// they are ASCII only, the first byte after them that is not ASCII decides (a UTF-8 character:
// UTF-8 from there on). Bytes that are no UTF-8 after the decision for UTF-8 are copied as they
// are. Reading() tells what the input was read as, once Run has returned.
//
// Throws StopRequested, StreamError (read or write) and DictionaryError.
class StreamConversion {
public:
    static constexpr std::size_t kReadSize = 256 * 1024;
    static constexpr std::size_t kDecideSize = 1024 * 1024;
    static constexpr std::size_t kLongLine = 1024 * 1024;

    StreamConversion(ConversionDirection direction, const CharacterDictionary& dictionary, int inFd, int outFd,
                     std::optional<TextEncoding> encoding = std::nullopt, Phrasing phrasing = Phrasing::Phrases);
    void Run();
    TextEncoding Reading() const noexcept { return reading_; }

private:
    ConversionDirection direction_;
    const CharacterDictionary& dictionary_;
    int inFd_;
    int outFd_;
    std::optional<TextEncoding> encoding_;
    Phrasing phrasing_;
    TextEncoding reading_ = TextEncoding::CodePage;
};

} // namespace fanjian::cli
