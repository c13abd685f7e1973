#pragma once

#include "conversion/LineConverter.h"
#include "dictionary/ConversionDirection.h"

#include <optional>
#include <string>

namespace fanjian::cli {

// The command line of fanjian-convert, GNU style (getopt_long: options and the folder in any
// order, "--" ends the options, long options may be shortened while they stay unambiguous).
struct Options {
    enum class Action { Convert, Help, Version };
    Action action = Action::Convert;
    ConversionDirection direction = ConversionDirection::TraditionalToSimplified;
    // No folder, or "-": standard input to standard output.
    bool filter = true;
    std::string folder;
    bool verbose = false;
    // The code table to use instead of mervik.pcx beside the program, as given.
    std::optional<std::string> dictionary;
    // Each character by its row alone, without the dictionary's phrases.
    Phrasing phrasing = Phrasing::Phrases;
    // How standard input is read; none: told from its first bytes.
    std::optional<TextEncoding> encoding;
};

// Wrong usage. The message says what is wrong; it is empty when getopt_long has said it already.
struct UsageError {
    std::string message;
};

// Parses argv; throws UsageError. getopt_long prints its own complaints about unknown options and
// missing arguments on standard error.
Options ParseOptions(int argc, char* argv[]);

// The --help text for a program whose dictionary is looked for in `programDirectory`.
std::string HelpText(const std::string& programDirectory);
std::string VersionText();

} // namespace fanjian::cli
