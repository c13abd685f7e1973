#pragma once

#include "dictionary/ConversionDirection.h"

#include <cstddef>
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
// Throws StopRequested, StreamError (read or write) and DictionaryError.
class StreamConversion {
public:
    static constexpr std::size_t kReadSize = 256 * 1024;
    static constexpr std::size_t kLongLine = 1024 * 1024;

    StreamConversion(ConversionDirection direction, const CharacterDictionary& dictionary, int inFd, int outFd);
    void Run();

private:
    ConversionDirection direction_;
    const CharacterDictionary& dictionary_;
    int inFd_;
    int outFd_;
};

} // namespace fanjian::cli
