// What showing a run's progress in the main window costs the run.
//
// Converts a folder of Big5 text three ways and prints the processor times: with a view that shows nothing
// (the run's own cost), with the main window, and with a window that updates Label9 and handles
// its events at every replaced character. Run it under a real X server for figures that mean
// something: xvfb-run build/bench/progress_cost [megabytes]
#include "TestSupport.h"
#include "conversion/ConversionRun.h"
#include "shell/Form1.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

using namespace fanjian;
using namespace fanjian::testing;
using Clock = std::chrono::steady_clock;

namespace {


// The window as it would be without any care for the cost: a label update and a full pass over
// the events for every replaced character.
class EagerWindow : public Form1 {
public:
    using Form1::Form1;
    void ShowCharacterCount(std::string_view text) override
    {
        findChild<QLabel*>("Label9")->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    void ProcessPendingEvents() override { QCoreApplication::processEvents(); }
};

Desktop BenchmarkDesktop(const std::filesystem::path& program)
{
    Desktop desktop = SystemDesktop();
    desktop.programDirectory = QString::fromStdString(program.string());
    desktop.openLink = [](const QUrl&) {};
    desktop.endProgram = [] {};
    return desktop;
}

// Writes `megabytes` of Big5 text spread over four files, 20 characters a line, bare or inside
// some markup; returns the number of characters.
long WriteSite(const std::filesystem::path& site, double megabytes, bool markup)
{
    const std::string characters = Bytes("C163C5E9C2E0B4ABA4A4") + Bytes("C163C5E9C2E0B4ABA4A4");
    const std::string line = markup ? "<li><a href=\"/news/2003/0412.htm\">" + characters + "</a></li>\n"
                                    : characters + characters + "\n";
    const long lines = std::max(1L, static_cast<long>(megabytes * 1024 * 1024 / static_cast<double>(line.size())));
    std::filesystem::create_directories(site / "part");
    for (int file = 0; file < 4; ++file) {
        std::string text;
        for (long i = 0; i < lines / 4; ++i)
            text += line;
        WriteFile(site / (file < 2 ? "part" : ".") / ("page" + std::to_string(file) + ".htm"), text);
    }
    return lines / 4 * 4 * (markup ? 10 : 20);
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Processor time of this thread: the machine may be shared, and other work should not count.
double ThreadSeconds()
{
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
        return 0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct WindowRun {
    double seconds = 0;
    double longestGapMs = 0;
    long passes = 0;
};

WindowRun RunInWindow(Form1& window, const std::filesystem::path& site)
{
    window.findChild<QLineEdit*>("Text1")->setText(QString::fromStdString(site.string()));
    std::vector<Clock::time_point> passes;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { passes.push_back(Clock::now()); });
    probe.start(0);
    const double cpuStart = ThreadSeconds();
    const auto start = Clock::now();
    window.findChild<QPushButton*>("Command2")->click();
    const auto end = Clock::now();
    const double cpuEnd = ThreadSeconds();
    probe.stop();

    WindowRun run{cpuEnd - cpuStart, 0, static_cast<long>(passes.size())};
    Clock::time_point previous = start;
    for (const auto pass : passes) {
        run.longestGapMs = std::max(run.longestGapMs, Seconds(pass - previous) * 1000);
        previous = pass;
    }
    run.longestGapMs = std::max(run.longestGapMs, Seconds(end - previous) * 1000);
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 20.0;

    TempDir temp;
    WriteDictionary(temp.path(), {{0xC163, 0xB7B1}, {0xC5E9, 0xCCE5}, {0xC2E0, 0xD7AA}, {0xB4AB, 0xBBBB}, {0xA4A4, 0xD6D0}});
    std::printf("platform %s, %.1f MB a site, processor time of the best of five runs\n",
                qPrintable(QGuiApplication::platformName()), megabytes);

    Form1 window(BenchmarkDesktop(temp.path()));
    window.show();
    QCoreApplication::processEvents();
    for (const bool markup : {false, true}) {
        const auto site = temp.path() / (markup ? "pages" : "text");
        const long characters = WriteSite(site, megabytes, markup);
        // Measured in turns, so that whatever else runs on the machine hits both alike.
        double headless = 1e9;
        WindowRun best{1e9, 0, 0};
        for (int round = 0; round < 5; ++round) {
            SilentProgressView view;
            const double start = ThreadSeconds();
            ConversionRun().Run(ConversionDirection::TraditionalToSimplified, site.string(), temp.path().string(), view);
            headless = std::min(headless, ThreadSeconds() - start);
            const WindowRun run = RunInWindow(window, site);
            if (run.seconds < best.seconds)
                best = run;
        }
        std::printf("%s, %ld characters replaced\n", markup ? "web pages (half markup)" : "bare text", characters);
        std::printf("  no view:      %7.3f s  %6.1f ns/char\n", headless, headless * 1e9 / static_cast<double>(characters));
        std::printf("  main window:  %7.3f s  %6.1f ns/char  %.2fx; %ld event passes, longest gap %.1f ms\n",
                    best.seconds, best.seconds * 1e9 / static_cast<double>(characters), best.seconds / headless,
                    best.passes, best.longestGapMs);
    }
    window.hide();

    const long eagerCharacters = WriteSite(temp.path() / "small", megabytes / 40, false);
    EagerWindow eager(BenchmarkDesktop(temp.path()));
    eager.show();
    QCoreApplication::processEvents();
    const WindowRun eagerRun = RunInWindow(eager, temp.path() / "small");
    std::printf("label and event pass at every character: %.3f s for %ld characters, %.1f us/char\n",
                eagerRun.seconds, eagerCharacters, eagerRun.seconds * 1e6 / static_cast<double>(eagerCharacters));
    return 0;
}
