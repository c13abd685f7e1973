// fanjian-convert: the conversion of the fanjian window for the command line, scripts and
// pipelines. See fanjian-convert(1).
#include "cli/ConsoleView.h"
#include "cli/Options.h"
#include "cli/Paths.h"
#include "cli/Signals.h"
#include "cli/StreamConversion.h"
#include "cli/Streams.h"
#include "conversion/ConversionRun.h"
#include "conversion/Files.h"
#include "conversion/ShownText.h"
#include "dictionary/CharacterDictionary.h"
#include "dictionary/Errors.h"
#include "system/Process.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace fanjian;
using namespace fanjian::cli;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::string_view kProgram = "fanjian-convert";

// A message on standard error, its names shown but never obeyed by a terminal (now or when a log
// is read later). Nothing can be done when standard error takes no more.
void Complain(std::string_view message)
{
    std::string line(kProgram);
    line += ": ";
    line += EscapeControls(message);
    line += '\n';
    try {
        WriteAll(STDERR_FILENO, line, "standard error");
    } catch (...) {
    }
}

int Stopped(int signal)
{
    const char* name = ::sigabbrev_np(signal);
    Complain("stopped by " + (name ? "SIG" + std::string(name) : "signal " + std::to_string(signal)));
    return StopExitStatus(signal);
}

// A reader that has gone (`| head`) wanted no more: that ends the tool with status 1 but without a
// message, as nothing is wrong that the user does not know. Every other read or write error is said.
int StreamFailed(const StreamError& error)
{
    if (error.code() != std::errc::broken_pipe)
        Complain(error.message());
    return kExitFailed;
}

// Standard output is closed at the end so that an error the system reports only then (a full
// disk on NFS) still fails the tool.
int CloseStandardOutput(int status)
{
    if (::close(STDOUT_FILENO) != 0 && errno != EINTR && errno != EBADF && status == 0) {
        Complain(std::string("cannot write standard output: ") + std::strerror(errno));
        return kExitFailed;
    }
    return status;
}

int ConvertStream(const Options& options, const std::string& dictionaryFile)
{
    CharacterDictionary dictionary;
    try {
        dictionary.OpenFile(dictionaryFile);
        StreamConversion stream(options.direction, dictionary, STDIN_FILENO, STDOUT_FILENO, options.encoding,
                                options.phrasing);
        stream.Run();
        if (options.verbose)
            WriteAll(STDERR_FILENO,
                     std::string("fanjian-convert: standard input read as ") +
                         (stream.Reading() == TextEncoding::Utf8 ? "UTF-8"
                          : options.direction == ConversionDirection::TraditionalToSimplified ? "Big5"
                                                                                            : "GB2312") +
                         "\n",
                     "standard error");
    } catch (const StopRequested& stop) {
        return Stopped(stop.signal);
    } catch (const StreamError& error) {
        return StreamFailed(error);
    } catch (const DictionaryError& error) {
        Complain(AboutDictionary(dictionaryFile, error.what()));
        return kExitFailed;
    }
    return 0;
}

int ConvertFolder(const Options& options, const std::string& dictionaryFile)
{
    const std::string folder = FromCurrentFolder(options.folder);
    ConsoleView::Settings settings;
    settings.verbose = options.verbose;
    settings.codePage = options.direction == ConversionDirection::TraditionalToSimplified ? "Big5" : "GB2312";
    settings.escapeListing = IsTerminal(STDOUT_FILENO);
    settings.progress = IsTerminal(STDERR_FILENO);
    settings.outShares = settings.progress && IsTerminal(STDOUT_FILENO);
    ConsoleView view(std::move(settings));

    RunResult result;
    try {
        result = ConversionRun().RunWithDictionary(options.direction, folder, dictionaryFile, view, options.phrasing);
    } catch (const StopRequested& stop) {
        view.Finish();
        return Stopped(stop.signal);
    } catch (const StreamError& error) {
        view.Finish();
        return StreamFailed(error);
    }
    view.Finish();
    // A signal after the run's last look at it still ends the tool as a stop: the user asked.
    if (const int signal = PendingStopSignal())
        return Stopped(signal);

    switch (result.outcome) {
    case RunOutcome::Completed:
        WriteAll(STDOUT_FILENO, view.Status() + "\n", "standard output");
        return 0;
    case RunOutcome::PathRejected:
        Complain(std::string(texts::kPathMissing) + ": \"" + options.folder +
                 "\" names no folder to convert (a folder below / is needed)");
        return kExitUsage;
    case RunOutcome::Failed:
        break;
    }
    // The status text as the window shows it, and the cause the window does not show.
    std::string cause = result.failure ? result.failure->message : "the run failed";
    if (result.failure && result.failure->kind == RunFailure::Kind::Dictionary)
        cause = AboutDictionary(dictionaryFile, cause);
    Complain(view.Status() + ": " + cause);
    return kExitFailed;
}

int Run(int argc, char* argv[])
{
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const UsageError& error) {
        if (!error.message.empty())
            Complain(error.message);
        try {
            WriteAll(STDERR_FILENO, "Try 'fanjian-convert --help' for more information.\n", "standard error");
        } catch (...) {
        }
        return kExitUsage;
    }

    const std::string programDirectory = ProgramDirectory();
    if (options.action == Options::Action::Help) {
        WriteAll(STDOUT_FILENO, HelpText(programDirectory), "standard output");
        return 0;
    }
    if (options.action == Options::Action::Version) {
        WriteAll(STDOUT_FILENO, VersionText(), "standard output");
        return 0;
    }

    const std::string dictionaryFile = DictionaryFile(options.dictionary, programDirectory);
    return options.filter ? ConvertStream(options, dictionaryFile) : ConvertFolder(options, dictionaryFile);
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything opens a file. Without its standard descriptors the tool cannot even say so.
    if (!PrepareProcess())
        return kExitFailed;
    int status = kExitFailed;
    try {
        InstallStopSignals();
        status = Run(argc, argv);
    } catch (const StopRequested& stop) {
        status = Stopped(stop.signal);
    } catch (const StreamError& error) {
        status = StreamFailed(error);
    } catch (const std::exception& error) {
        Complain(error.what());
        status = kExitFailed;
    }
    return CloseStandardOutput(status);
}
