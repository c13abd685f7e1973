// Converts a folder in the real main window, as a user does: the folder is typed into Text1 and
// Command2 (-s) or Command3 (-t) is clicked; the run lasts as long as the click. Then it prints
// what the window shows, in the form fanjian-convert -v prints it: each item of the result list
// (List2), one a line, then the status (Label5). What fanjian-convert writes is held to this, in
// its tests and in the package check.
//
//   fanjian_window_convert -s|-t FOLDER PROGRAM_DIR
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another. Exits 0 when the window
// shows a completed run, 1 when it shows anything else, 2 on wrong usage.
#include "conversion/ConversionRun.h"
#include "shell/Desktop.h"
#include "shell/Form1.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace fanjian;

namespace {

bool Print(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) ==
           static_cast<std::size_t>(bytes.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    const bool toSimplified = argc == 4 && std::strcmp(argv[1], "-s") == 0;
    if (argc != 4 || (!toSimplified && std::strcmp(argv[1], "-t") != 0)) {
        std::fprintf(stderr, "usage: %s -s|-t FOLDER PROGRAM_DIR\n", argv[0]);
        return 2;
    }
    Desktop desktop = SystemDesktop();
    desktop.programDirectory = QFile::decodeName(argv[3]);
    desktop.openLink = [](const QUrl&) {};
    desktop.endProgram = [] {};
    Form1 window(desktop);
    window.show();

    auto* text1 = window.findChild<QLineEdit*>(QStringLiteral("Text1"));
    text1->setFocus();
    QTest::keyClicks(text1, QFile::decodeName(argv[2]));
    const ConversionDirection direction =
        toSimplified ? ConversionDirection::TraditionalToSimplified : ConversionDirection::SimplifiedToTraditional;
    QTest::mouseClick(window.findChild<QPushButton*>(toSimplified ? QStringLiteral("Command2")
                                                                  : QStringLiteral("Command3")),
                      Qt::LeftButton);

    const QListWidget* results = window.findChild<QListWidget*>(QStringLiteral("List2"));
    bool printed = true;
    for (int i = 0; i < results->count(); ++i)
        printed &= Print(results->item(i)->text());
    const QString status = window.findChild<QLabel*>(QStringLiteral("Label5"))->text();
    printed &= Print(status);
    printed &= std::fflush(stdout) == 0;
    if (!printed) {
        std::perror("fanjian_window_convert: standard output");
        return 1;
    }
    return status == QString::fromUtf8(texts::Completion(direction).data()) ? 0 : 1;
}
