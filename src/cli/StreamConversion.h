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
// Without an encoding named, the input's is told from the first bytes that are not ASCII (until
// then both readings convert alike, and lines go out as ever): Big5 or GB2312 as soon as a byte
// that is no UTF-8 comes, UTF-8 once kTellingCharacters UTF-8 characters have come and none such
// byte, or kDecideSize bytes, or the end. Meanwhile, from the line of the first byte that is not
// ASCII on, nothing goes out. Bytes that are no UTF-8 after the decision for UTF-8 are copied as
// they are. Reading() tells what the input was read as, once Run has returned.
//
// Throws StopRequested, StreamError (read or write) and DictionaryError.
class StreamConversion {
public:
    static constexpr std::size_t kReadSize = 256 * 1024;
    static constexpr std::size_t kDecideSize = 1024 * 1024;
    static constexpr std::size_t kTellingCharacters = 16;
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
