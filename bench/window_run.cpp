// Times one conversion run in the real main window, on the offscreen platform unless another is
// chosen: the folder goes into Text1 and a mouse click on Command2 (t2s) or Command3 (s2t) starts
// the run, which lasts as long as the click.
//
//   fanjian_window_bench t2s|s2t FOLDER PROGRAM_DIR
//
// Prints the final status, then "run <ms> ms", "longest_gap <ms> ms" and "event_passes <n>". The
// gap is measured from outside the window: an event posted to a recorder is delivered at the next
// pass over the event queue, where the recorder notes the time and posts it again. The longest
// gap is the longest time between two passes, counting the click and the end of the run as passes:
// how long an event waited at worst during the run. Exits 0 only when the run completed.
#include "conversion/ConversionRun.h"
#include "shell/Desktop.h"
#include "shell/Form1.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

class EventPassRecorder : public QObject {
public:
    static inline const QEvent::Type kPassEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

    // Starts recording: `start` counts as the first pass.
    void Start(Clock::time_point start)
    {
        last_ = start;
        recording_ = true;
        QCoreApplication::postEvent(this, new QEvent(kPassEvent));
    }
    // Stops recording: `end` counts as the last pass.
    void Stop(Clock::time_point end)
    {
        Note(end);
        recording_ = false;
    }

    double LongestGapMs() const { return Milliseconds(longest_); }
    long Passes() const { return passes_; }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != kPassEvent)
            return QObject::event(event);
        if (recording_) {
            Note(Clock::now());
            ++passes_;
            // Posted during a pass, it is delivered at the next one.
            QCoreApplication::postEvent(this, new QEvent(kPassEvent));
        }
        return true;
    }

private:
    void Note(Clock::time_point now)
    {
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }

    bool recording_ = false;
    Clock::time_point last_{};
    Clock::duration longest_{};
    long passes_ = 0;
};

int Usage()
{
    std::fputs("usage: fanjian_window_bench t2s|s2t FOLDER PROGRAM_DIR\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "t2s") != 0 && std::strcmp(argv[1], "s2t") != 0))
        return Usage();
    const auto direction = std::strcmp(argv[1], "t2s") == 0 ? fanjian::ConversionDirection::TraditionalToSimplified
                                                            : fanjian::ConversionDirection::SimplifiedToTraditional;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    fanjian::Desktop desktop;
    desktop.programDirectory = QFile::decodeName(argv[3]);
    desktop.workingFolder = QDir::currentPath();
    desktop.volumes = [] { return QStringList(); };
    desktop.openLink = [](const QUrl&) {};
    desktop.endProgram = [] {};
    fanjian::Form1 window(desktop);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fputs("fanjian_window_bench: the window was not shown\n", stderr);
        return 1;
    }

    auto* path = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    auto* button = window.findChild<QPushButton*>(
        direction == fanjian::ConversionDirection::TraditionalToSimplified ? QStringLiteral("Command2")
                                                                           : QStringLiteral("Command3"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("Label5"));
    if (!path || !button || !status) {
        std::fputs("fanjian_window_bench: the window lacks Text1, its button or Label5\n", stderr);
        return 1;
    }
    path->setText(QFile::decodeName(argv[2]));
    QCoreApplication::processEvents();

    EventPassRecorder recorder;
    const Clock::time_point start = Clock::now();
    recorder.Start(start);
    QTest::mouseClick(button, Qt::LeftButton);
    const Clock::time_point end = Clock::now();
    recorder.Stop(end);

    const QByteArray shown = status->text().toUtf8();
    const std::string_view completion = fanjian::texts::Completion(direction);
    std::printf("%s\nrun %.2f ms\nlongest_gap %.2f ms\nevent_passes %ld\n", shown.constData(), Milliseconds(end - start),
                recorder.LongestGapMs(), recorder.Passes());
    return std::string_view(shown.constData(), static_cast<std::size_t>(shown.size())) == completion ? 0 : 1;
}
