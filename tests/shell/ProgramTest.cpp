// The program as a process of its own: closing the main window in the middle of a run ends it, and
// so do SIGTERM, SIGHUP and SIGINT, mid-run or not, with the status 128 + the signal.
//
// The test starts this executable again as a child process that runs the program exactly as
// main() does (RunProgram on the system desktop, only with a dictionary of the test's), types the
// path, clicks a conversion button and closes the window (or sends itself a signal) from inside
// the run. The child reports what its window showed when it ended; the test checks its exit and
// the files on disk.
#include "TestSupport.h"
#include "conversion/ConversionRun.h"
#include "shell/Form1.h"
#include "shell/Form2.h"
#include "shell/Program.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <signal.h>
#include <unistd.h>

using namespace fanjian;
using namespace fanjian::testing;
namespace fs = std::filesystem;

namespace {

constexpr const char* kCloseMidRun = "--close-mid-run";
// The child runs the program as main() does.
constexpr const char* kProgram = "--program";

// Big5 and GB2312 codes of 繁 體 轉 換 中.
const std::vector<std::pair<int, int>> kDictionary = {
    {0xC163, 0xB7B1}, {0xC5E9, 0xCCE5}, {0xC2E0, 0xD7AA}, {0xB4AB, 0xBBBB}, {0xA4A4, 0xD6D0}};

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// The number in a count text such as "第 1234 字".
long CountIn(const QString& text) { return text.section(QLatin1Char(' '), 1, 1).toLong(); }

void Report(const char* key, const QString& value)
{
    std::printf("%s\t%s\n", key, value.toUtf8().constData());
    std::fflush(stdout);
}

// How the child ends the program: by closing the window or by a signal (0), mid-run or before any;
// and whether it starts the program with SIGHUP ignored, as nohup does.
struct Ending {
    int signal;
    bool midRun;
    bool nohup;
};

Ending ParseEnding(const char* text)
{
    std::string how(text);
    const bool nohup = how.starts_with("nohup-");
    if (nohup)
        how = how.substr(6);
    const bool idle = how.starts_with("idle-");
    const std::string name = idle ? how.substr(5) : how;
    const int signal = name == "TERM" ? SIGTERM : name == "HUP" ? SIGHUP : name == "INT" ? SIGINT : 0;
    return {signal, !idle, nohup};
}

// The child: the program on the system desktop, with the test's dictionary. Once the window is up
// it types `site` into Text1, optionally opens the chooser, presses `button`, and closes the
// window (or sends itself the signal named by HOW) when the run is `closeAt` characters into its
// second file; with HOW "idle-TERM" and the like it sends the signal before doing anything. On
// its way out it reports the status text and every item of the result list.
int CloseMidRun(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s %s SITE PROGRAM-DIR BUTTON CLOSE-AT chooser|no-chooser HOW\n", argv[0], kCloseMidRun);
        return 64;
    }
    const QString site = QString::fromLocal8Bit(argv[2]);
    Desktop desktop = SystemDesktop();
    desktop.programDirectory = QString::fromLocal8Bit(argv[3]);
    const char* button = argv[4];
    const long closeAt = std::atol(argv[5]);
    const bool openChooser = std::strcmp(argv[6], "chooser") == 0;
    const Ending ending = ParseEnding(argv[7]);

    Form1* window = nullptr;
    QElapsedTimer sinceClose;
    QTimer::singleShot(0, &application, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            window = window != nullptr ? window : qobject_cast<Form1*>(widget);
        if (window == nullptr) {
            std::fprintf(stderr, "no main window\n");
            std::exit(65);
        }
        window->setEventPassInterval({});
        struct sigaction pipe {};
        Report("SIGPIPE", ::sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_IGN ? "ignored" : "not ignored");
        struct sigaction hangUp {};
        Report("SIGHUP", ::sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler == SIG_IGN ? "ignored" : "handled");
        if (!ending.midRun) {
            Report("closing at", "no run");
            sinceClose.start();
            ::kill(::getpid(), ending.signal);
            return;
        }
        auto* text1 = window->findChild<QLineEdit*>(QStringLiteral("Text1"));
        text1->setFocus();
        QTest::keyClicks(text1, site);
        if (openChooser) {
            QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
            Report("chooser", window->chooser() != nullptr ? QStringLiteral("open") : QStringLiteral("missing"));
        }
        QTimer closer;
        bool closed = false;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            const QLabel* fileCount = window->findChild<QLabel*>(QStringLiteral("Label7"));
            const QLabel* characters = window->findChild<QLabel*>(QStringLiteral("Label9"));
            if (closed || !window->isRunning() || CountIn(fileCount->text()) != 2 || CountIn(characters->text()) < closeAt)
                return;
            closed = true;
            Report("closing at", characters->text());
            sinceClose.start();
            if (ending.signal != 0)
                ::kill(::getpid(), ending.signal); // as kill(1) sends it
            else
                window->windowHandle()->close(); // as the window manager closes a window

        });
        closer.start(0);
        QTest::mouseClick(window->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&] {
        if (window == nullptr)
            return;
        Report("status", window->findChild<QLabel*>(QStringLiteral("Label5"))->text());
        const QListWidget* results = window->findChild<QListWidget*>(QStringLiteral("List2"));
        for (int i = 0; i < results->count(); ++i)
            Report("written", results->item(i)->text());
        int visible = 0;
        for (const QWidget* widget : QApplication::topLevelWidgets())
            visible += widget->isVisible();
        Report("windows open", QString::number(visible));
    });
    if (ending.nohup)
        ::signal(SIGHUP, SIG_IGN);
    const int status = RunProgram(desktop);
    if (sinceClose.isValid())
        Report("ended after", QString::number(sinceClose.nsecsElapsed() / 1000) + " us");
    return status;
}

struct ChildRun {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QMultiMap<QString, QString> report;
    QString errors;
};

} // namespace

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void closingTheWindowOrASignalEndsTheProgram_data();
    void closingTheWindowOrASignalEndsTheProgram();
    void aWindowSystemThatCannotStartEndsTheProgramInOneLine_data();
    void aWindowSystemThatCannotStartEndsTheProgramInOneLine();
};

void ProgramTest::closingTheWindowOrASignalEndsTheProgram_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("chooser");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("status");
    QTest::newRow("Big5 to GB2312") << "Command2" << false << "close" << 0;
    QTest::newRow("GB2312 to Big5, chooser open") << "Command3" << true << "close" << 0;
    QTest::newRow("SIGTERM mid-run") << "Command2" << false << "TERM" << 128 + SIGTERM;
    QTest::newRow("SIGHUP mid-run, chooser open") << "Command3" << true << "HUP" << 128 + SIGHUP;
    QTest::newRow("SIGINT mid-run") << "Command2" << false << "INT" << 128 + SIGINT;
    QTest::newRow("started with SIGHUP ignored") << "Command2" << false << "nohup-close" << 0;
    QTest::newRow("SIGTERM before any run") << "Command2" << false << "idle-TERM" << 128 + SIGTERM;
    QTest::newRow("SIGINT before any run") << "Command2" << false << "idle-INT" << 128 + SIGINT;
}

void ProgramTest::closingTheWindowOrASignalEndsTheProgram()
{
    QFETCH(QString, button);
    QFETCH(bool, chooser);
    QFETCH(QString, how);
    QFETCH(int, status);
    const bool toSimplified = button == "Command2";
    const ConversionDirection direction =
        toSimplified ? ConversionDirection::TraditionalToSimplified : ConversionDirection::SimplifiedToTraditional;

    // Three files of the same lines: one in each of two subfolders (taken in the order the folder
    // lists them), then one in the site itself, which comes after all subfolders.
    const TempDir temp;
    const fs::path program = temp.path() / "program";
    const fs::path site = temp.path() / "site";
    for (const fs::path& folder : {program, site / "a", site / "b"})
        fs::create_directories(folder);
    WriteDictionary(program, kDictionary);
    const std::string big5Line = Bytes("C163C5E9C2E0B4ABA4A4 20 C163C5E9C2E0B4ABA4A4");
    const std::string gbLine = Bytes("B7B1CCE5D7AABBBBD6D0 20 B7B1CCE5D7AABBBBD6D0");
    const std::string inLine = (toSimplified ? big5Line : gbLine) + "\n";
    const std::string outLine = (toSimplified ? gbLine : big5Line) + "\r\n";
    constexpr int kLines = 20000;
    constexpr long kCharactersPerFile = 10L * kLines;
    std::string input;
    std::string expected;
    for (int i = 0; i < kLines; ++i) {
        input += inLine;
        expected += outLine;
    }
    const fs::path inputs[] = {site / "a" / "page.htm", site / "b" / "page.htm", site / "index.htm"};
    for (const fs::path& file : inputs)
        WriteFile(file, input);
    const fs::path out = site / std::string(texts::OutputFolderName(direction));
    const fs::path outputs[] = {out / "a" / "page.htm", out / "b" / "page.htm", out / "index.htm"};

    // Some way into the second file: past the first file's characters and a thousand more.
    const long closeAt = kCharactersPerFile + 1000;
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({kCloseMidRun, Q(site), Q(program), button, QString::number(closeAt),
                        chooser ? "chooser" : "no-chooser", how});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(environment);
    child.start();
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    QVERIFY2(child.waitForFinished(90000), "the program did not end after its window was closed");

    ChildRun run;
    run.exitStatus = child.exitStatus();
    run.exitCode = child.exitCode();
    run.errors = QString::fromUtf8(child.readAllStandardError());
    for (const QString& line : QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        run.report.insert(line.section('\t', 0, 0), line.section('\t', 1));

    QVERIFY2(run.exitStatus == QProcess::NormalExit, qPrintable(run.errors));
    QVERIFY2(run.exitCode == status, qPrintable(QString::number(run.exitCode) + "\n" + run.errors));
    QVERIFY2(run.report.contains("closing at"), qPrintable(run.errors));
    qInfo("closed at %s, the program ended %s later", qPrintable(run.report.value("closing at")),
          qPrintable(run.report.value("ended after")));
    QCOMPARE(run.report.values("SIGPIPE"), QStringList({"ignored"}));
    QCOMPARE(run.report.values("SIGHUP"), QStringList({how.startsWith("nohup-") ? "ignored" : "handled"}));
    QCOMPARE(run.report.values("windows open"), QStringList({"0"}));
    if (how.startsWith("idle-")) {
        // Outside a run the program ends at once and has written nothing.
        QVERIFY(run.report.values("status").value(0).isEmpty());
        QVERIFY(!fs::exists(out));
        for (const fs::path& file : inputs)
            QVERIFY(ReadFile(file) == input);
        return;
    }
    if (chooser)
        QCOMPARE(run.report.value("chooser"), QStringLiteral("open"));
    // The run went no further: no completion text.
    QCOMPARE(run.report.values("status"), QStringList({QString::fromUtf8(texts::Status(direction).data())}));

    // On disk: the earlier file whole and listed, the file in progress with whole lines only,
    // nothing of the file after it.
    const int first = fs::exists(outputs[0]) && ReadFile(outputs[0]) == expected ? 0 : 1;
    const int second = 1 - first;
    QVERIFY2(ReadFile(outputs[first]) == expected, "the file converted before the close is not whole");
    QCOMPARE(run.report.values("written"), QStringList({Q(outputs[first])}));
    QVERIFY(fs::exists(outputs[second]));
    const std::string partial = ReadFile(outputs[second]);
    QVERIFY2(partial.size() >= 1000 / 20 * outLine.size(), std::to_string(partial.size()).c_str());
    QVERIFY(partial.size() < expected.size());
    QVERIFY(partial.ends_with("\r\n"));
    QCOMPARE(partial.size() % outLine.size(), std::size_t{0});
    QVERIFY(partial == expected.substr(0, partial.size()));
    QVERIFY(!fs::exists(outputs[2]));
    for (const fs::path& file : inputs)
        QVERIFY(ReadFile(file) == input); // the input is never touched
}

void ProgramTest::aWindowSystemThatCannotStartEndsTheProgramInOneLine_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("reason");
    const QString forced = "the platform \"%1\" that QT_QPA_PLATFORM names cannot start: ";
    QTest::newRow("Wayland without a compositor") << "wayland" << "" << forced.arg("wayland");
    QTest::newRow("no X server there") << "xcb" << ":1999" << forced.arg("xcb") + "could not connect to display :1999";
    QTest::newRow("no such platform") << "none-such" << "" << forced.arg("none-such");
    QTest::newRow("no display at all") << "" << "" << "no display to show it on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    QTest::newRow("a display that does not answer") << "" << ":1999" << "the display cannot be reached: could not connect to display :1999";
}

void ProgramTest::aWindowSystemThatCannotStartEndsTheProgramInOneLine()
{
    // The program's own reason, in one line, and the status 1: not the toolkit's lines and abort.
    QFETCH(QString, platform);
    QFETCH(QString, display);
    QFETCH(QString, reason);
    const TempDir temp;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"})
        environment.remove(name);
    if (!platform.isEmpty())
        environment.insert("QT_QPA_PLATFORM", platform);
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    if (platform == "wayland")
        environment.insert("WAYLAND_DISPLAY", "fanjian-test-no-compositor");
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({kProgram});
    child.setProcessEnvironment(environment);
    child.start();
    QVERIFY2(child.waitForFinished(30000), "the program did not end");
    const QString errors = QString::fromUtf8(child.readAllStandardError());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);
    QVERIFY2(errors.startsWith("fanjian: cannot open its window: " + reason), qPrintable(errors));
    QVERIFY2(errors.count('\n') == 1 && errors.endsWith('\n'), qPrintable(errors));
}

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], kCloseMidRun) == 0)
        return CloseMidRun(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], kProgram) == 0)
        return ProgramMain(argc, argv);
    QApplication application(argc, argv);
    ProgramTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ProgramTest.moc"
