#include "cli/Options.h"

#include "dictionary/CharacterDictionary.h"

#include <getopt.h>

namespace fanjian::cli {

namespace {

constexpr option kLongOptions[] = {
    {"to-simplified", no_argument, nullptr, 's'},
    {"to-traditional", no_argument, nullptr, 't'},
    {"verbose", no_argument, nullptr, 'v'},
    {"dictionary", required_argument, nullptr, 'd'},
    {"by-character", no_argument, nullptr, 'c'},
    {"encoding", required_argument, nullptr, 'e'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

} // namespace

Options ParseOptions(int argc, char* argv[])
{
    Options options;
    std::optional<ConversionDirection> direction;
    const auto choose = [&direction](ConversionDirection chosen) {
        // Two directions at once is a slip that would convert the wrong way half the time.
        if (direction && *direction != chosen)
            throw UsageError{"choose one direction: -s (--to-simplified) or -t (--to-traditional)"};
        direction = chosen;
    };

    std::optional<std::string> encoding;
    optind = 0; // a fresh scan, also when called again
    opterr = 1;
    for (;;) {
        const int option = ::getopt_long(argc, argv, "stvd:e:hV", kLongOptions, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case 's':
            choose(ConversionDirection::TraditionalToSimplified);
            break;
        case 't':
            choose(ConversionDirection::SimplifiedToTraditional);
            break;
        case 'v':
            options.verbose = true;
            break;
        case 'd':
            options.dictionary = optarg;
            break;
        case 'c':
            options.phrasing = Phrasing::ByCharacter;
            break;
        case 'e':
            encoding = optarg;
            break;
        case 'h':
            options.action = Options::Action::Help;
            break;
        case 'V':
            if (options.action != Options::Action::Help)
                options.action = Options::Action::Version;
            break;
        default:
            throw UsageError{}; // getopt_long has said what is wrong
        }
    }
    if (options.action != Options::Action::Convert)
        return options;

    if (argc - optind > 1)
        throw UsageError{"one folder at a time: '" + std::string(argv[optind + 1]) + "' is one too many"};
    if (argc - optind == 1 && std::string_view(argv[optind]) != "-") {
        options.filter = false;
        options.folder = argv[optind];
    }
    if (!direction)
        throw UsageError{"choose a direction: -s (--to-simplified) or -t (--to-traditional)"};
    options.direction = *direction;
    if (encoding) {
        if (!options.filter)
            throw UsageError{"--encoding is for standard input: a folder's files are each told from their bytes"};
        const bool toGb = *direction == ConversionDirection::TraditionalToSimplified;
        std::string name;
        for (const char c : *encoding)
            name += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (name == "utf-8" || name == "utf8")
            options.encoding = TextEncoding::Utf8;
        else if (name == (toGb ? "big5" : "gb2312") || (!toGb && name == "gbk"))
            options.encoding = TextEncoding::CodePage;
        else if (name != "auto")
            throw UsageError{"--encoding: '" + *encoding + "' is none of auto, utf-8 and " +
                             (toGb ? "big5 (-s reads Big5)" : "gb2312 (-t reads GB2312)")};
    }
    return options;
}

std::string HelpText(const std::string& programDirectory)
{
    return "Usage: fanjian-convert -s|-t [-v] [--by-character] [--dictionary=FILE] FOLDER\n"
           "  or:  fanjian-convert -s|-t [--encoding=NAME] [--by-character] [--dictionary=FILE] [-]\n"
           "                       < INPUT > OUTPUT\n"
           "Convert Traditional Chinese in Big5 to Simplified Chinese in GB2312, or back,\n"
           "as the fanjian window does.\n"
           "\n"
           "With FOLDER, convert the files directly in each immediate subfolder of FOLDER and\n"
           "directly in FOLDER whose names end in .txt .htm .html .asp .php .php3 .jsp or .js\n"
           "(any letter case) into FOLDER/GB (-s) or FOLDER/BIG5 (-t). The input is never\n"
           "changed. A relative FOLDER is taken from the current folder. Without FOLDER, or\n"
           "with -, convert standard input to standard output.\n"
           "\n"
           "A file that is UTF-8 throughout and holds a character of more than one byte (or\n"
           "starts with a byte order mark) is converted in UTF-8; any other, as Big5 (-s) or\n"
           "GB2312 (-t). UTF-16 and UTF-32 files are left out. Standard input is told from its\n"
           "first characters that are not ASCII.\n"
           "\n"
           "  -s, --to-simplified     Big5 (Traditional) to GB2312 (Simplified)\n"
           "  -t, --to-traditional    GB2312 (Simplified) to Big5 (Traditional)\n"
           "  -v, --verbose           also print each file written, marked (UTF-8) if so\n"
           "  -e, --encoding=NAME     read standard input as NAME: utf-8, big5 (-s),\n"
           "                            gb2312 (-t), or auto (the default)\n"
           "      --by-character      each character by its row alone, without phrases\n"
           "  -d, --dictionary=FILE   use the code table FILE instead of\n"
           "                            " + CharacterDictionary::FilePath(programDirectory) + "\n"
           "  -h, --help              display this help and exit\n"
           "  -V, --version           output version information and exit\n"
           "\n"
           "Every output line ends with CR LF; charset=big5 and charset=gb2312, and\n"
           "content=\"zh-tw and content=\"zh-cn, are retargeted. A folder run prints its final\n"
           "status; on a terminal it shows its progress on standard error.\n"
           "\n"
           "Exit status: 0 done; 1 failed (the cause on standard error); 2 wrong usage or a\n"
           "folder that cannot be converted; 128+N stopped by signal N (SIGINT, SIGTERM,\n"
           "SIGHUP), with the file in progress cut back to its last complete line.\n"
           "\n"
           "Examples:\n"
           "  fanjian-convert -s site                  converts site/ into site/GB/\n"
           "  fanjian-convert -t -v /srv/www/site      lists each file written\n"
           "  fanjian-convert -s < big5.txt > gb.txt\n"
           "  zcat page.htm.gz | fanjian-convert -t | gzip > page-big5.htm.gz\n"
           "\n"
           "See fanjian-convert(1).\n";
}

std::string VersionText()
{
    return "fanjian-convert (fanjian) " FANJIAN_VERSION "\n";
}

} // namespace fanjian::cli
